"""A rig's test: burn the board's image, then check what the board says.

    TARVOK_PORT=/dev/ttyUSB0 TARVOK_IMAGE=firmware.hex python3 -m pytest examples/test_burn.py

Without TARVOK_PORT it burns a simulated chip (tarvok-sim, or the program TARVOK_SIM_PATH
names), which checks that its flash then holds the image.
"""
import os
import pathlib
import subprocess

import pytest

import tarvok


@pytest.fixture(scope="module")
def board(tmp_path_factory):
    """The board on TARVOK_PORT (or a simulated chip) with its image burned: (outcome, image
    path, the simulated chip's process or None)."""
    port = os.environ.get("TARVOK_PORT")
    if port:
        image = pathlib.Path(os.environ["TARVOK_IMAGE"])
        yield tarvok.burn(image, port), image, None
        return
    image = tmp_path_factory.mktemp("board") / "board.bin"
    image.write_bytes(os.urandom(48 * 1024))
    sim = subprocess.Popen([os.environ.get("TARVOK_SIM_PATH", "tarvok-sim"), "--exit-after-burn",
                            "--expect-image", str(image)], stdout=subprocess.PIPE, text=True)
    try:
        yield tarvok.burn(image, sim.stdout.readline().strip()), image, sim
    finally:
        if sim.poll() is None:
            sim.terminate()
        sim.wait(timeout=30)
        sim.stdout.close()


def test_the_board_took_its_image(board):
    outcome, image, sim = board
    assert outcome.succeeded, outcome
    assert outcome.read_back == tarvok.ReadBack.matched
    assert outcome.image_crc == outcome.flash_crc == tarvok.Image(image).crc32
    if sim is not None:
        # The simulated chip ends once the burn has ended, and says whether its flash holds
        # the image.
        assert sim.wait(timeout=30) == 0, sim.stdout.read()
