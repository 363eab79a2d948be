from types import TracebackType
from typing import Iterator, Optional, Sequence, Tuple, Type, Union

import numpy

__all__ = ["Camera", "CameraError", "Frame", "Timeout", "cameras"]

class CameraError(Exception):
    """A camera, the plug-in or the SDK failed; the message says why."""

class Timeout(CameraError, TimeoutError):
    """No frame came within the time-out."""

def cameras(sdk: Optional[str] = None, plugin: Optional[str] = None) -> list[str]:
    """The camera keys ("MODEL SERIAL"), as `kwcam list` prints them."""

class Frame:
    @property
    def image(self) -> numpy.ndarray:
        """(h, w) uint8 for 8-bit grey and raw Bayer, (h, w) uint16 for 16-bit grey,
        (h, w, 3) uint8 for RGB8 and BGR8, (h, w, 4) uint8 for RGBa8 and BGRa8,
        (h, w, 3) uint16 for RGB16. The array owns its memory."""
    @property
    def number(self) -> int:
        """The frame's number: the simulator's stamp, else the count of frames arrived."""
    @property
    def timestamp_ns(self) -> int:
        """Arrival in the frame callback, on the clock of time.monotonic_ns()."""
    @property
    def pixel_type(self) -> str:
        """The device's pixel type, for example "Mono16"."""
    @property
    def lost_before(self) -> int:
        """Frames lost between the previous grab and this one."""

class FrameIterator(Iterator[Frame]):
    def __iter__(self) -> "FrameIterator": ...
    def __next__(self) -> Frame: ...

class Camera:
    def __init__(
        self,
        camera: Union[str, int, None] = None,
        *,
        sdk: Optional[str] = None,
        plugin: Optional[str] = None,
        trigger: str = "free-running",
        buffers: int = 8,
    ) -> None:
        """Opens a camera: a key, an index, or a unique part of a key; None: the first.
        sdk: "sim", "genicam" or a path; trigger: "free-running", "software" or "hardware";
        buffers: frames kept for the program before the oldest is given up."""
    def __enter__(self) -> "Camera": ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> bool: ...
    def close(self) -> None:
        """Stops and closes the camera; idempotent."""
    @property
    def closed(self) -> bool: ...
    def start(self) -> None: ...
    def stop(self) -> None: ...
    def grab(self, timeout: Optional[float] = None) -> Frame:
        """The next frame; starts acquisition when it is not running. timeout in
        seconds, None waits for ever. Raises Timeout, or CameraError when closed."""
    def frames(self, count: Optional[int] = None, timeout: Optional[float] = None) -> FrameIterator:
        """count frames (None: for ever), each as grab(timeout) returns it."""
    def snap(self) -> None:
        """A software trigger (trigger="software")."""
    def pulse(self) -> None:
        """A pulse on line 0 (trigger="hardware"), where the SDK offers one."""
    exposure: float
    """Exposure time in microseconds (whole numbers)."""
    @property
    def exposure_range(self) -> Optional[Tuple[float, float]]: ...
    gain: float
    """Gain in dB (whole numbers)."""
    @property
    def gain_range(self) -> Optional[Tuple[float, float]]: ...
    @property
    def white_balance(self) -> Optional[Tuple[int, int, int]]: ...
    @white_balance.setter
    def white_balance(self, ratios: Sequence[int]) -> None: ...
    trigger: str
    """"free-running", "software" or "hardware"."""
    @property
    def key(self) -> str: ...
    def info(self) -> dict:
        """What `kwcam info` prints, as data."""
    @property
    def lost(self) -> dict[str, int]:
        """Frames lost since the camera opened, by cause, and their total."""
