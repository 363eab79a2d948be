#!/usr/bin/env python3
"""The Python module's speed, against kwcam grab on the same simulated camera
in the same run; writes the figures as JSON for report.py.

  python_bench.py --kwcam PATH --out FILE [--seconds S]

- paced: a 1280x1024 Mono8 camera at 1000 frames/s, a loop over
  cam.frames() that does nothing else, for S seconds (10 by default, or
  $KWCAM_PY_BENCH_SECONDS): frames received and lost, with the default
  ring of 8 frames, after half a second that settles the start;
- unpaced: the same camera with instant timing, frames/s through Python and
  through `kwcam grab --duration`, in alternating rounds;
- per-grab overhead: the time of a grab that finds its frame waiting
  (64x48 Mono8 at 1000 frames/s, the ring filled before the grabs).

Run with PYTHONPATH naming the build's python folder."""

import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time


def config(path):
    base = {"width": 1280, "height": 1024, "pixelFormat": "Mono8", "timing": "instant", "bufferCount": 8}
    devices = [
        dict(base, model="KW-PACED", serial="P1000", frameRate=1000),
        dict(base, model="KW-UNPACED", serial="U0", frameRate=0),
        dict(base, model="KW-SMALL", serial="S0", frameRate=1000, width=64, height=48),
    ]
    with open(path, "w") as f:
        json.dump({"devices": devices}, f)


def python_rate(kwcamera, key, seconds):
    with kwcamera.Camera(key) as cam:
        cam.grab(timeout=5)
        frames = 0
        start = time.perf_counter()
        end = start + seconds
        for frame in cam.frames(timeout=5):
            frames += 1
            if frames % 64 == 0 and time.perf_counter() >= end:
                break
        return frames / (time.perf_counter() - start)


def kwcam_rate(kwcam, key, seconds, env):
    out = subprocess.run([kwcam, "--quiet", "grab", key, "--duration", str(seconds)], env=env, check=True,
                         capture_output=True, text=True).stdout
    match = re.search(r"^frame rate:\s+([0-9.]+) fps", out, re.M)
    if match is None:
        raise SystemExit("kwcam grab printed no frame rate:\n" + out)
    return float(match.group(1))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kwcam", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--seconds", type=float, default=float(os.environ.get("KWCAM_PY_BENCH_SECONDS", "10")))
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="kwcamera-bench-")
    path = os.path.join(folder, "cameras.json")
    config(path)
    os.environ.update(MVSIM_CONFIG=path, MVSIM_RUNTIME_DIR=folder)
    import kwcamera

    kwcamera.cameras(sdk="sim")
    results = {"seconds": args.seconds}

    with kwcamera.Camera("KW-PACED") as cam:
        # The first half second settles the simulator's start (its buffers'
        # first pages) and is not counted.
        for _ in cam.frames(count=500, timeout=5):
            pass
        lost_at_start = cam.lost
        frames = lost_before = 0
        start = time.perf_counter()
        for frame in cam.frames(timeout=5):
            frames += 1
            lost_before += frame.lost_before
            if frames % 64 == 0 and time.perf_counter() - start >= args.seconds:
                break
        elapsed = time.perf_counter() - start
        lost = {cause: n - lost_at_start[cause] for cause, n in cam.lost.items()}
        results["paced"] = {"frames": frames, "seconds": elapsed, "lost_before": lost_before,
                            "lost": lost["total"], "lost_by_cause": lost}

    python, kwcam = [], []
    round_seconds = max(1.0, args.seconds / 5)
    for _ in range(args.rounds):
        kwcam.append(kwcam_rate(args.kwcam, "KW-UNPACED U0", round_seconds, os.environ))
        python.append(python_rate(kwcamera, "KW-UNPACED", round_seconds))
    results["unpaced"] = {"python": python, "kwcam": kwcam}

    # Frames wait in the ring (a slow camera, a long ring filled first), so
    # that each grab finds one: its own cost, without a frame's arrival.
    with kwcamera.Camera("KW-SMALL", buffers=1000) as cam:
        cam.grab(timeout=5)
        per_grab = []
        for _ in range(5):
            time.sleep(0.6)
            n = 500
            start = time.perf_counter()
            for _ in range(n):
                cam.grab()
            per_grab.append((time.perf_counter() - start) / n * 1e6)
        results["grab_overhead_us"] = statistics.median(per_grab)

    with open(args.out, "w") as f:
        json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
