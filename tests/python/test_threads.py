"""The interpreter lock, signals, threads and resources: Ctrl-C ends a
waiting grab, other threads run meanwhile, closing from another thread wakes
the waiting one, and neither frames nor cycles of opening make memory or
descriptors grow."""

import os
import signal
import subprocess
import sys
import threading

import pytest

import kwcamera
from conftest import camera_entry, memory_measurable, open_descriptors, process_memory_kib, wait_until_blocked

CHILD = r"""
import json, os, sys, time
import kwcamera
kwcamera.cameras(sdk="sim")
import ctypes
sim = ctypes.CDLL(None)
path = sys.argv[1]
json.dump({"devices": [{"model": "KW-CHILD", "serial": "S1", "width": 64, "height": 48,
                        "timing": "instant"}]}, open(path, "w"))
assert sim.MVSIM_LoadConfig(path.encode()) == 0
cam = kwcamera.Camera(trigger="software")
cam.start()
print("waiting", flush=True)
try:
    cam.grab()
    print("grabbed", flush=True)
except KeyboardInterrupt:
    print("interrupted %.1f ms" % ((time.monotonic_ns() - int(sys.stdin.readline())) / 1e6), flush=True)
cam.snap()
print("usable" if cam.grab(timeout=5).image.shape == (48, 64) else "broken", flush=True)
cam.close()
"""


def test_ctrl_c_interrupts_a_waiting_grab_and_the_camera_stays_usable(tmp_path):
    env = dict(os.environ, PYTHONUNBUFFERED="1")
    child = subprocess.Popen([sys.executable, "-c", CHILD, str(tmp_path / "child.json")], env=env,
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "waiting", child.stderr.read()
        wait_until_blocked(child.pid, pid=child.pid)
        import time

        sent = time.monotonic_ns()
        child.send_signal(signal.SIGINT)
        child.stdin.write("%d\n" % sent)
        child.stdin.flush()
        out, err = child.communicate(timeout=30)
    finally:
        child.kill()
    lines = out.split("\n")
    assert lines[0].startswith("interrupted"), out + err
    print(lines[0])
    assert lines[1] == "usable", out + err
    assert child.returncode == 0, err


def test_other_threads_run_while_grab_waits(sim):
    sim.load([camera_entry("KW-SNAP")])
    with kwcamera.Camera(trigger="software") as cam:
        cam.start()
        counted = []

        def count_then_snap():
            # Pure Python work: it runs only while grab has given the lock up.
            n = 0
            for _ in range(200000):
                n += 1
            counted.append(n)
            cam.snap()

        worker = threading.Thread(target=count_then_snap)
        worker.start()
        frame = cam.grab(timeout=30)
        worker.join()
        assert counted == [200000] and frame.image.shape == (48, 64)


@pytest.mark.parametrize("operation, word", [("close", "closed"), ("stop", "stopped")])
def test_closing_or_stopping_from_another_thread_wakes_a_waiting_grab(sim, operation, word):
    sim.load([camera_entry("KW-CLOSE")])
    cam = kwcamera.Camera(trigger="software")
    cam.start()
    outcome = []
    waiting = threading.Event()

    def grab_for_ever():
        waiting.set()
        try:
            cam.grab()
            outcome.append("frame")
        except kwcamera.CameraError as error:
            outcome.append(str(error))

    worker = threading.Thread(target=grab_for_ever)
    worker.start()
    assert waiting.wait(10)
    wait_until_blocked(worker.native_id)
    getattr(cam, operation)()
    worker.join(30)
    assert not worker.is_alive(), "the grab did not wake on " + operation
    assert len(outcome) == 1 and word in outcome[0]
    if operation == "stop":  # the camera is still there: the next grab starts it again
        cam.snap()
        assert cam.grab(timeout=5).image.shape == (48, 64)
    cam.close()


def test_garbage_collection_closes_a_grabbing_camera(sim):
    sim.load([camera_entry("KW-GC")])
    cam = kwcamera.Camera()
    cam.grab(timeout=5)
    del cam
    with kwcamera.Camera() as again:  # the device was released
        again.grab(timeout=5)


@memory_measurable
def test_many_frames_through_a_small_ring_keep_memory_bounded(sim):
    # 1280x1024 frames: a buffer not given back would show within a few
    # dozen of the 600.
    sim.load([camera_entry("KW-BIG", width=1280, height=1024)])
    with kwcamera.Camera(buffers=4) as cam:
        for frame in cam.frames(count=50, timeout=5):
            pass
        before = process_memory_kib()
        kept = []
        for frame in cam.frames(count=600, timeout=5):
            kept = kept[-3:] + [frame.image]  # a consumer holding a few frames
        after = process_memory_kib()
    assert after - before < 16 * 1024, "memory grew by %d KiB over 600 frames" % (after - before)


def test_open_close_cycles_leak_neither_memory_nor_descriptors(sim):
    sim.load([camera_entry("KW-CYCLE", ledgerSize=256)])  # the ledger grows to its size, then wraps

    def cycle(n):
        for i in range(n):
            with kwcamera.Camera() as cam:
                if i % 10 == 0:
                    cam.grab(timeout=5)
            if i % 100 == 0:
                sim.clear_call_log()

    cycle(100)
    memory, descriptors = process_memory_kib(), open_descriptors()
    cycle(1000)
    assert open_descriptors() == descriptors
    grown = process_memory_kib() - memory
    if not os.environ.get("KWCAM_SANITIZER"):
        assert grown < 4 * 1024, "memory grew by %d KiB over 1000 cycles" % grown
