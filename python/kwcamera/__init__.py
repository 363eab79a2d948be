"""Cameras of the kwcamera plug-in contract, frames as numpy arrays.

    import kwcamera
    with kwcamera.Camera() as cam:
        frame = cam.grab(timeout=1.0)
        print(frame.number, frame.image.shape, frame.image.dtype)

See docs/python.md for the whole interface.
"""

from ._kwcamera import Camera, CameraError, Frame, Timeout, cameras

__all__ = ["Camera", "CameraError", "Frame", "Timeout", "cameras"]
