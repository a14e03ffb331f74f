"""Simulated chips on pseudo-terminals for the module's tests."""
import os
import subprocess

import pytest


class Sim:
    """One tarvok-sim: started with its options, its pseudo-terminal read from its first line."""

    def __init__(self, *options):
        self.process = subprocess.Popen([os.environ["TARVOK_SIM_PATH"], *options],
                                        stdout=subprocess.PIPE, text=True)
        self.pty = self.process.stdout.readline().strip()
        assert self.pty.startswith("/dev/"), self.pty

    def finish(self):
        """Once its burn has ended (--exit-after-burn): its exit status and its report."""
        report = self.process.stdout.read()
        return self.process.wait(timeout=30), report

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait(timeout=30)
        self.process.stdout.close()


@pytest.fixture
def sims():
    """Starts chips as sims(*options); every one still running is stopped at the end."""
    started = []

    def start(*options):
        started.append(Sim(*options))
        return started[-1]

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def image_file(tmp_path):
    """Writes `data` to a file and gives its path."""
    def write(data, name="image.bin"):
        path = tmp_path / name
        path.write_bytes(data)
        return path
    return write
