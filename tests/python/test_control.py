"""Acquisition and settings: triggers, frames(count), time-outs, closing,
exposure, gain and white balance with their limits and refusals, losses."""

import pytest

import kwcamera
from conftest import camera_entry

EXPOSURE = {"min": 15, "max": 100000, "value": 10000}
GAIN = {"min": 0, "max": 20, "value": 2}


@pytest.fixture
def camera(sim):
    sim.load([camera_entry("KW-SET", exposure=EXPOSURE, gain=GAIN)])
    with kwcamera.Camera() as cam:
        yield cam


def test_software_trigger_gives_one_frame_per_snap(sim):
    sim.load([camera_entry("KW-TRIG")])
    with kwcamera.Camera(trigger="software") as cam:
        assert cam.trigger == "software"
        numbers = []
        for _ in range(5):
            cam.snap()
            numbers.append(cam.grab(timeout=5).number)
        assert numbers == list(range(numbers[0], numbers[0] + 5))
        with pytest.raises(kwcamera.Timeout):
            cam.grab(timeout=0.05)
        assert cam.info()["trigger_mode"] == "on" and cam.info()["trigger_source"] == "software"


def test_hardware_trigger_gives_a_frame_per_line_pulse(sim):
    sim.load([camera_entry("KW-LINE")])
    with kwcamera.Camera(trigger="hardware") as cam:
        cam.pulse()
        assert cam.grab(timeout=5).image.shape == (48, 64)
        assert cam.info()["trigger_source"] == "line 0"


def test_frames_yields_count_frames_in_order(sim):
    sim.load([camera_entry("KW-FREE")])
    with kwcamera.Camera() as cam:
        assert list(cam.frames(count=0)) == []
        frames = list(cam.frames(count=25, timeout=5))
        assert len(frames) == 25
        assert all(b.number > a.number for a, b in zip(frames, frames[1:]))
        assert all(b.timestamp_ns >= a.timestamp_ns for a, b in zip(frames, frames[1:]))
        with pytest.raises(ValueError):
            cam.frames(count=-1)


def test_a_grab_times_out_and_the_camera_stays_usable(sim):
    sim.load([camera_entry("KW-WAIT")])
    with kwcamera.Camera(trigger="software") as cam:
        with pytest.raises(TimeoutError) as error:
            cam.grab(timeout=0.1)
        assert isinstance(error.value, kwcamera.CameraError)
        assert "KW-WAIT S1" in str(error.value)
        with pytest.raises(ValueError):
            cam.grab(timeout=-1)
        cam.snap()
        assert cam.grab(timeout=5) is not None


def test_operations_that_need_another_trigger_are_refused(sim):
    sim.load([camera_entry("KW-FREE")])
    with kwcamera.Camera() as cam:
        with pytest.raises(kwcamera.CameraError, match="software"):
            cam.snap()
        with pytest.raises(kwcamera.CameraError, match="hardware"):
            cam.pulse()
        cam.trigger = "software"
        cam.snap()
        assert cam.grab(timeout=5).image.shape == (48, 64)
        with pytest.raises(ValueError):
            cam.trigger = "sometimes"


def test_close_is_idempotent_and_a_closed_camera_refuses_work(sim):
    sim.load([camera_entry("KW-CLOSE")])
    cam = kwcamera.Camera()
    cam.grab(timeout=5)
    cam.close()
    cam.close()
    assert cam.closed
    for operation in (cam.grab, cam.start, lambda: cam.exposure):
        with pytest.raises(kwcamera.CameraError, match="closed"):
            operation()
    # The device is free again for the next one.
    with kwcamera.Camera() as again:
        again.grab(timeout=5)


def test_exposure_and_gain_reach_the_camera_within_its_limits(camera):
    assert camera.exposure_range == (15, 100000)
    assert camera.gain_range == (0, 20)
    assert camera.exposure == 10000 and camera.gain == 2
    camera.exposure = 2500
    camera.gain = 7
    assert camera.exposure == 2500 and camera.gain == 7
    info = camera.info()
    assert (info["exposure"], info["gain"], info["exposure_auto"]) == (2500, 7, "off")


@pytest.mark.parametrize(
    "name, value, message",
    [
        ("exposure", 14, "15 to 100000"),
        ("exposure", 100001, "15 to 100000"),
        ("gain", -1, "0 to 20"),
        ("gain", 21, "0 to 20"),
        ("exposure", 1000.5, "whole number"),
        ("gain", float("nan"), "whole number"),
    ],
)
def test_a_value_out_of_range_names_the_range(camera, name, value, message):
    before = getattr(camera, name)
    with pytest.raises(ValueError, match=message):
        setattr(camera, name, value)
    assert getattr(camera, name) == before


def test_white_balance_is_set_as_three_ratios(camera):
    camera.white_balance = (1100, 1000, 1200)
    assert camera.white_balance == (1100, 1000, 1200)
    assert camera.info()["white_balance_auto"] == "off"
    for wrong, message in [((1, 2), "three ratios"), ((-1, 1, 1), "0 to 16383"), ((1, 16384, 1), "0 to 16383")]:
        with pytest.raises(ValueError, match=message):
            camera.white_balance = wrong
    assert camera.white_balance == (1100, 1000, 1200)


def test_a_refusal_of_the_sdk_carries_the_plugins_reason(camera, sim):
    sim.fail_call("MV_CC_SetExposureTime")
    with pytest.raises(kwcamera.CameraError, match="exposure = 500: refused: .*SetExposureTime"):
        camera.exposure = 500
    camera.exposure = 500


def test_a_slow_consumer_loses_the_oldest_frames_and_is_told(sim):
    # Frames come as fast as the ring takes them; the program sleeps between
    # grabs, so the ring gives up frames, and says so in lost_before.
    import time

    sim.load([camera_entry("KW-FAST", width=256, height=256)])
    with kwcamera.Camera(buffers=3) as cam:
        first = cam.grab(timeout=5)
        time.sleep(0.2)
        frames = [cam.grab(timeout=5) for _ in range(4)]
        lost = cam.lost
    assert sum(f.lost_before for f in frames) > 0
    assert lost["ring_full"] > 0 and lost["total"] >= lost["ring_full"]
    # What was lost is exactly the gap in the frame numbers.
    numbers = [first.number] + [f.number for f in frames]
    gaps = sum(b - a - 1 for a, b in zip(numbers, numbers[1:]))
    assert gaps == sum(f.lost_before for f in frames)
