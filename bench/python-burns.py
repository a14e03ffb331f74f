#!/usr/bin/python3
"""Burn times of `import tarvok` against `tarvok burn`, and of burns from several Python threads.

Release build (build/release, or --build DIR) with the targets tarvok, tarvok-sim and
tarvok_python. Every burn is a whole chip: a 1 MiB image at 921600 into tarvok-sim with the
wire throttled to the line's rate and the loader on the emulated CPU (--cpu --throttle), the
chip checking its flash at the end.

  1. the same burn through `tarvok burn` and through tarvok.burn(), --runs times each;
  2. one burn from one Python thread against four at once from four threads, into four chips.
"""
import argparse
import concurrent.futures
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

IMAGE_BYTES = 1 << 20
RATE = 921600


class Chip:
    """tarvok-sim on its pseudo-terminal, ending after one burn that left `image` in flash."""

    def __init__(self, build, image):
        self.process = subprocess.Popen(
            [str(build / "sim/tarvok-sim"), "--cpu", "--throttle", "--exit-after-burn",
             "--expect-image", str(image)], stdout=subprocess.PIPE, text=True)
        self.pty = self.process.stdout.readline().strip()

    def check(self):
        report = self.process.stdout.read()
        if self.process.wait(timeout=60) != 0:
            sys.exit(f"python-burns: the chip did not take its image:\n{report}")


def command_line(build, image):
    chip = Chip(build, image)
    start = time.monotonic()
    subprocess.run([str(build / "cli/tarvok"), "burn", str(image), "--port", chip.pty,
                    "--burn-baud", str(RATE)], check=True, stdout=subprocess.DEVNULL)
    seconds = time.monotonic() - start
    chip.check()
    return seconds


def module(tarvok, build, image):
    chip = Chip(build, image)
    start = time.monotonic()
    outcome = tarvok.burn(image, chip.pty, burn_baud=RATE)
    seconds = time.monotonic() - start
    if not outcome.succeeded:
        sys.exit(f"python-burns: {outcome!r}")
    chip.check()
    return seconds


def threads(tarvok, build, image, count):
    chips = [Chip(build, image) for _ in range(count)]
    start = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(count) as pool:
        outcomes = list(pool.map(lambda chip: tarvok.burn(image, chip.pty, burn_baud=RATE),
                                 chips))
    seconds = time.monotonic() - start
    for chip, outcome in zip(chips, outcomes):
        if not outcome.succeeded:
            sys.exit(f"python-burns: {outcome!r}")
        chip.check()
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/release", type=pathlib.Path)
    parser.add_argument("--runs", default=3, type=int)
    arguments = parser.parse_args()
    build = arguments.build.resolve()
    sys.path.insert(0, str(build / "python/package"))
    import tarvok  # the build's own module, not one installed

    with tempfile.TemporaryDirectory() as work:
        image = pathlib.Path(work) / "image.bin"
        image.write_bytes(os.urandom(IMAGE_BYTES))
        rows = [
            ("tarvok burn", [command_line(build, image) for _ in range(arguments.runs)]),
            ("tarvok.burn()", [module(tarvok, build, image) for _ in range(arguments.runs)]),
        ]
        print(f"1 MiB at {RATE} into tarvok-sim --cpu --throttle, wall seconds per whole burn:")
        for name, seconds in rows:
            runs = " ".join(f"{s:.2f}" for s in seconds)
            print(f"  {name:14} median {statistics.median(seconds):6.2f}   ({runs})")
        one = threads(tarvok, build, image, 1)
        four = threads(tarvok, build, image, 4)
        print("Python threads, one chip each, wall seconds until all are done:")
        print(f"  1 thread   {one:6.2f}")
        print(f"  4 threads  {four:6.2f}   ({4 * one / four:.2f} x the throughput of one)")


if __name__ == "__main__":
    main()
