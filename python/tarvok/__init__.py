"""Burns flash images into TR7340 chips over serial ports, for test rigs.

    import tarvok
    outcome = tarvok.burn("firmware.hex", "/dev/ttyUSB0")
    assert outcome.succeeded, outcome.explanation

A burn that fails is an Outcome, never an exception; bad arguments raise ValueError,
TypeError or FileNotFoundError before any port is opened.
"""
from ._tarvok import Image, Outcome, Port, ReadBack, burn, ports

__all__ = ["Image", "Outcome", "Port", "ReadBack", "burn", "ports"]
