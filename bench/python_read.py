#!/usr/bin/env python3
"""Reading 1,000 frames through the tova package against the C library directly.

    TOVA_LIBRARY=build/default python3 bench/python_read.py [--frames 1000] [--size 320x240]

Writes a sample recording with `tova sample` (beside the libraries: cli/tova),
compiles bench/read_frames.c against the build, and times opening the recording
and reading every frame into one array both ways (best of alternating runs). Prints
one line with both times and their ratio (target: Python within 1.2x of C).
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

import tova


def best_of(runs, work):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        work()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--frames", type=int, default=1000)
    parser.add_argument("--size", default="320x240")
    parser.add_argument("--runs", type=int, default=9)
    args = parser.parse_args()
    build = os.environ.get("TOVA_LIBRARY")
    if not build or not os.path.isdir(build):
        sys.exit("set TOVA_LIBRARY to the build folder (e.g. build/default)")
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(here)
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "bench.tova")
        subprocess.run([os.path.join(build, "cli", "tova"), "sample", path, "--frames", str(args.frames),
                        "--size", args.size], check=True, capture_output=True)
        program = os.path.join(work, "read_frames")
        subprocess.run(["cc", "-O2", "-I", os.path.join(root, "include"),
                        os.path.join(here, "read_frames.c"), "-o", program, "-L", build, "-lHOLMDAQTova",
                        f"-Wl,-rpath,{os.path.abspath(build)}"], check=True)
        def read_all():
            with tova.open(path) as rec:
                rec[:]

        # Alternating rounds, best of each: the machine's other load hits both alike.
        c_seconds = python_seconds = float("inf")
        for _ in range(args.runs):
            c_seconds = min(c_seconds, float(subprocess.run([program, path, "1"], check=True, capture_output=True,
                                                            text=True).stdout))
            python_seconds = min(python_seconds, best_of(1, read_all))
    print(f"python_read: {args.frames} frames of {args.size}: C {c_seconds * 1000:.1f} ms, "
          f"Python {python_seconds * 1000:.1f} ms, ratio {python_seconds / c_seconds:.2f}x (target 1.2x)")


if __name__ == "__main__":
    main()
