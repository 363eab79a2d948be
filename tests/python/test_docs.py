"""The examples of docs/python.md run as they stand, over simulated cameras;
the OpenCV one over a stand-in for cv2 when OpenCV is not installed."""

import os
import re
import sys
import types

import pytest

from conftest import camera_entry

DOC = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "python.md")


def examples():
    with open(DOC) as f:
        return re.findall(r"```python\n(.*?)```", f.read(), re.S)


def fake_cv2(shown):
    cv2 = types.ModuleType("cv2")
    cv2.COLOR_RGB2BGR, cv2.COLOR_RGBA2BGRA = 4, 2
    cv2.cvtColor = lambda image, code: image[..., ::-1] if code == 4 else image[..., [2, 1, 0, 3]]
    cv2.imshow = lambda name, image: shown.append((name, image.shape))
    cv2.waitKey = lambda delay: ord("q") if len(shown) >= 3 else -1
    cv2.destroyAllWindows = lambda: None
    return cv2


def test_the_document_has_its_examples():
    assert len(examples()) == 4


@pytest.mark.parametrize("index", range(4))
def test_each_example_runs(sim, monkeypatch, capsys, index):
    sim.load([camera_entry("KW-DOC", "RGB1", pixelFormat="RGB8", exposure={"min": 15, "max": 100000}),
              camera_entry("KW-DOC", "MONO1")])
    shown = []
    if "cv2" not in sys.modules:
        try:
            import cv2  # noqa: F401
        except ImportError:
            monkeypatch.setitem(sys.modules, "cv2", fake_cv2(shown))
    exec(compile(examples()[index], "docs/python.md example %d" % (index + 1), "exec"), {})
    out = capsys.readouterr().out
    if index == 0:
        assert "KW-DOC RGB1" in out and "RGB8 (48, 64, 3) uint8" in out
    if index == 2:
        assert "out of range" in out
    if index == 3 and shown:
        assert shown[0] == ("KW-DOC RGB1", (48, 64, 3)) and len(shown) == 3
