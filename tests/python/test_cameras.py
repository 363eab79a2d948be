"""Listing and opening cameras, the frame each pixel type gives, replayed
pictures bit for bit, and the errors a user meets first."""

import numpy
import pytest

import kwcamera
from conftest import camera_entry, write_picture

BUILT_IN = ["SIM-GM8-1280 00A1B2C3D4", "SIM-UC24-2448 00E5F6A7B8", "SIM-GM16-4096 00C9D0E1F2"]


def test_lists_the_built_in_and_the_configured_cameras(sim):
    sim.load_default()
    assert kwcamera.cameras() == BUILT_IN
    sim.load([camera_entry("KW-A", "S1"), camera_entry("KW-B", "S2")])
    assert kwcamera.cameras() == ["KW-A S1", "KW-B S2"]


@pytest.mark.parametrize(
    "pixel_format, shape, dtype",
    [
        ("Mono8", (48, 64), numpy.uint8),
        ("BayerRG8", (48, 64), numpy.uint8),
        ("Mono16", (48, 64), numpy.uint16),
        ("RGB8", (48, 64, 3), numpy.uint8),
        ("RGBa8", (48, 64, 4), numpy.uint8),
        ("RGB16", (48, 64, 3), numpy.uint16),
    ],
)
def test_each_pixel_type_gives_its_true_shape_and_dtype(sim, pixel_format, shape, dtype):
    sim.load([camera_entry("KW-PIX", pixelFormat=pixel_format)])
    with kwcamera.Camera() as cam:
        frame = cam.grab(timeout=5)
        assert frame.image.shape == shape
        assert frame.image.dtype == dtype
        assert frame.pixel_type == pixel_format
        assert frame.image.flags.c_contiguous and frame.image.flags.writeable
        assert cam.info()["pixel_type"] == pixel_format


def test_pattern_frames_carry_the_simulated_pixels_and_numbers(sim):
    # The simulator's pattern beyond the stamp: byte (x, y) of frame n holds
    # (x + 2y + 3n) & 0xFF.
    sim.load([camera_entry("KW-PAT")])
    with kwcamera.Camera() as cam:
        frames = list(cam.frames(count=3, timeout=5))
    y, x = numpy.mgrid[0:48, 0:64]
    for frame in frames:
        expected = (x + 2 * y + 3 * frame.number) & 0xFF
        assert numpy.array_equal(frame.image[1:], expected[1:].astype(numpy.uint8))
    # Frames come as fast as the ring takes them: what the ring gave up
    # between two grabs is the gap in their numbers.
    for a, b in zip(frames, frames[1:]):
        assert b.number - a.number - 1 == b.lost_before


def pictures_of(kind, count, h=5, w=7):
    rng = numpy.random.default_rng(7)
    shapes = {"grey8": ((h, w), numpy.uint8), "grey16": ((h, w), numpy.uint16),
              "rgb8": ((h, w, 3), numpy.uint8), "rgb16": ((h, w, 3), numpy.uint16)}
    shape, dtype = shapes[kind]
    top = 256 if dtype == numpy.uint8 else 65536
    return [rng.integers(0, top, size=shape, dtype=numpy.int64).astype(dtype) for _ in range(count)]


@pytest.mark.parametrize("kind, pixel_type", [("grey8", "Mono8"), ("grey16", "Mono16"), ("rgb8", "RGB8"),
                                              ("rgb16", "RGB16")])
def test_replayed_pictures_come_back_bit_for_bit(sim, tmp_path, kind, pixel_type):
    shots = tmp_path / "shots"
    shots.mkdir()
    pictures = pictures_of(kind, 3)
    for i, picture in enumerate(pictures):
        write_picture(str(shots / ("%d.%s" % (i + 1, "pgm" if picture.ndim == 2 else "ppm"))), picture)
    sim.load([{"model": "KW-REPLAY", "serial": kind, "images": str(shots), "replay": "once",
               "timing": "instant", "frameRate": 0}])
    with kwcamera.Camera(buffers=len(pictures)) as cam:
        frames = list(cam.frames(count=len(pictures), timeout=5))
    for frame, picture in zip(frames, pictures):
        assert frame.pixel_type == pixel_type
        assert frame.image.dtype == picture.dtype
        assert numpy.array_equal(frame.image, picture)


def test_a_camera_is_chosen_by_key_index_or_unique_part(sim):
    sim.load([camera_entry("KW-A", "S0001"), camera_entry("KW-B", "S0002")])
    for choice, key in [(None, "KW-A S0001"), ("KW-B S0002", "KW-B S0002"), (1, "KW-B S0002"),
                        ("0", "KW-A S0001"), ("s0002", "KW-B S0002")]:
        with kwcamera.Camera(choice) as cam:
            assert cam.key == key


def test_a_camera_that_is_not_there_names_the_key_and_the_keys_there_are(sim):
    sim.load([camera_entry("KW-A", "S0001"), camera_entry("KW-B", "S0002")])
    with pytest.raises(kwcamera.CameraError) as error:
        kwcamera.Camera("NO SUCH 1")
    message = str(error.value)
    assert "NO SUCH 1" in message and "KW-A S0001" in message and "KW-B S0002" in message
    with pytest.raises(kwcamera.CameraError, match="matches 2 cameras"):
        kwcamera.Camera("KW-")
    with pytest.raises(kwcamera.CameraError, match="no camera 5"):
        kwcamera.Camera(5)


def test_a_camera_held_by_another_is_refused_with_the_reason(sim):
    sim.load([camera_entry("KW-A")])
    with kwcamera.Camera():
        with pytest.raises(kwcamera.CameraError, match="cannot open camera KW-A S1"):
            kwcamera.Camera()


def test_wrong_arguments_are_refused(sim):
    sim.load([camera_entry("KW-A")])
    with pytest.raises(ValueError, match="free-running"):
        kwcamera.Camera(trigger="free")
    with pytest.raises(ValueError, match="1 to 1024"):
        kwcamera.Camera(buffers=0)
    with pytest.raises(kwcamera.CameraError, match="one SDK"):
        kwcamera.cameras(sdk="/no/such/libMVCameraControl.so")


def test_the_errors_are_of_the_documented_classes():
    assert issubclass(kwcamera.Timeout, kwcamera.CameraError)
    assert issubclass(kwcamera.Timeout, TimeoutError)
    assert issubclass(kwcamera.CameraError, Exception)
