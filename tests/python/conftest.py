"""What the Python module's tests share: the simulator of this process, set
up through its control interface, and pictures written for replay.

The simulator is loaded once per process (sdk="sim"); each test gives it the
cameras it needs with MVSIM_LoadConfig, found in the process by name as any
tool finds it. Every run keeps the cameras' locks in a folder of its own."""

import ctypes
import json
import os
import tempfile

import numpy
import pytest

os.environ["MVSIM_RUNTIME_DIR"] = tempfile.mkdtemp(prefix="kwcamera-test-")
os.environ["MVSIM_CONFIG"] = ""  # the built-in cameras until a test loads its own
os.environ.pop("KWCAM_SDK", None)
os.environ.pop("KWCAM_PLUGIN", None)

import kwcamera  # noqa: E402

kwcamera.cameras(sdk="sim")
_control = ctypes.CDLL(None)
_control.MVSIM_LoadConfig.argtypes = [ctypes.c_char_p]
_control.MVSIM_FindDevice.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
_control.MVSIM_FailCall.argtypes = [ctypes.c_char_p, ctypes.c_uint, ctypes.c_int]


class Simulator:
    """The stand-in's control functions the tests use."""

    def __init__(self, folder):
        self.folder = folder

    def load(self, devices):
        """Replaces the simulated cameras with these configuration entries."""
        path = os.path.join(self.folder, "cameras.json")
        with open(path, "w") as f:
            json.dump({"devices": devices}, f)
        assert _control.MVSIM_LoadConfig(path.encode()) == 0, "the simulator refused " + path

    def load_default(self):
        assert _control.MVSIM_LoadDefaultConfig() == 0

    def fail_call(self, function, nth=1, code=0x80000006 - (1 << 32)):
        _control.MVSIM_FailCall(function.encode(), nth, code)

    def clear_call_log(self):
        """The simulator records every SDK call until told to forget them."""
        _control.MVSIM_ClearCallLog()

    def clear_faults(self):
        _control.MVSIM_ClearFaults()

    def device(self, key):
        model, serial = key.split()
        return _control.MVSIM_FindDevice(model.encode(), serial.encode())


@pytest.fixture
def sim(tmp_path):
    simulator = Simulator(str(tmp_path))
    yield simulator
    simulator.clear_faults()


def camera_entry(model, serial="S1", **keys):
    """A configuration entry: a small instant camera unless keys say otherwise."""
    entry = {"model": model, "serial": serial, "width": 64, "height": 48, "timing": "instant", "frameRate": 0}
    entry.update(keys)
    return entry


def write_picture(path, samples):
    """Writes a binary PGM (h, w) or PPM (h, w, 3), 8 or 16 bits a sample as
    the dtype says (16-bit samples big-endian, as the format has them)."""
    magic = b"P5" if samples.ndim == 2 else b"P6"
    maxval = 255 if samples.dtype == numpy.uint8 else 65535
    data = samples.astype(">u2").tobytes() if maxval == 65535 else samples.tobytes()
    h, w = samples.shape[:2]
    with open(path, "wb") as f:
        f.write(b"%s\n%d %d\n%d\n" % (magic, w, h, maxval) + data)


# Under a sanitizer the runtime's own bookkeeping (freed memory held back,
# shadow memory) swamps what the tests measure.
memory_measurable = pytest.mark.skipif(bool(os.environ.get("KWCAM_SANITIZER")),
                                       reason="memory figures mean nothing under a sanitizer")


def process_memory_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS in /proc/self/status")


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def wait_until_blocked(tid, pid="self", timeout=10.0):
    """Waits until thread tid of process pid sleeps in 20 looks in a row: a
    thread waiting in grab sleeps on the ring's condition but for a moment
    every 20 ms, one waiting only for the interpreter lock soon runs."""
    import time

    deadline = time.monotonic() + timeout
    path = "/proc/%s/task/%d/stat" % (pid, tid)
    asleep = 0
    while asleep < 20:
        if time.monotonic() > deadline:
            raise AssertionError("thread %d never blocked" % tid)
        with open(path) as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
        asleep = asleep + 1 if state == "S" else 0
        time.sleep(0.001)
