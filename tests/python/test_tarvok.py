"""`import tarvok` against simulated chips: outcomes, failures, stops, threads, bad arguments."""
import ast
import concurrent.futures
import hashlib
import pathlib
import random
import re
import signal
import threading
import zlib

import pytest

import tarvok

IMAGE = random.Random(7340).randbytes(20000)


def test_image_describes_what_is_burned(image_file):
    path = image_file(IMAGE)
    image = tarvok.Image(path)
    assert (image.format, image.size, image.regions) == ("binary", len(IMAGE), [(0, len(IMAGE))])
    assert (image.filled_bytes, image.entry_point, image.flash_base) == (0, None, 0)
    assert image.crc32 == zlib.crc32(IMAGE)
    assert image.sha256 == hashlib.sha256(IMAGE).hexdigest()
    assert image.bytes() == IMAGE
    assert str(path) in repr(image)


def hex_record(address, data, kind=0):
    """One Intel HEX record with its checksum."""
    body = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + data
    return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper() + "\n"


def test_a_hex_file_linked_at_the_bus_address(image_file, sims):
    data = IMAGE[:4096]
    records = [hex_record(0, b"\x10\x00", 4)]  # upper address 0x1000: the flash's bus address
    records += [hex_record(0x400 + at, data[at:at + 32]) for at in range(0, len(data), 32)]
    text = "".join(records) + hex_record(0, b"", 1)
    path = image_file(text.encode(), "linked.hex")
    image = tarvok.Image(path, flash_base=0x10000000)
    expected = b"\xff" * 0x400 + data
    assert (image.format, image.regions, image.filled_bytes) == ("ihex", [(0x400, 4096)], 0x400)
    assert image.bytes() == expected and image.crc32 == zlib.crc32(expected)
    with pytest.raises(ValueError, match=r"line 2: .*--flash-base 0x10000000"):
        tarvok.Image(path)
    broken = text.replace(records[3], records[3][:-3] + "00\n")
    with pytest.raises(ValueError, match=r"line 4: the checksum is 0x00"):
        tarvok.Image(image_file(broken.encode(), "broken.hex"), flash_base=0x10000000)
    sim = sims("--exit-after-burn", "--expect-image", str(image_file(expected, "flat.bin")))
    outcome = tarvok.burn(path, sim.pty, flash_base=0x10000000)
    assert outcome.succeeded and outcome.flash_crc == zlib.crc32(expected), outcome
    status, report = sim.finish()
    assert status == 0, report


@pytest.mark.parametrize("offset, number, encoding, field", [
    (16, 0x01020304, "le32", b"\x04\x03\x02\x01"),
    (16, 0x01020304, "be32", b"\x01\x02\x03\x04"),
    (len(IMAGE) - 6, 42, "dec:6", b"000042"),
])
def test_unit_number_is_written_into_a_copy(image_file, offset, number, encoding, field):
    image = tarvok.Image(image_file(IMAGE))
    numbered = image.with_unit_number(offset, number, encoding)
    expected = IMAGE[:offset] + field + IMAGE[offset + len(field):]
    assert numbered.bytes() == expected
    assert numbered.crc32 == zlib.crc32(expected)
    assert image.bytes() == IMAGE


def test_burn_into_the_chip(sims, image_file, tmp_path):
    numbered = tarvok.Image(image_file(IMAGE)).with_unit_number(100, 7340001)
    expected = image_file(numbered.bytes(), "expected.bin")
    sim = sims("--exit-after-burn", "--expect-image", str(expected))
    calls = []
    outcome = tarvok.burn(numbered, sim.pty, progress=lambda *call: calls.append(call))
    assert outcome.succeeded, outcome
    assert (outcome.status, outcome.step_result, outcome.interrupted) == (0, 0, False)
    assert (outcome.port, outcome.port_opened, outcome.port_went_away) == (sim.pty, True, False)
    assert outcome.read_back == tarvok.ReadBack.matched
    assert outcome.image_crc == outcome.flash_crc == numbered.crc32
    assert outcome.boot_stage_used
    assert outcome.summary == "Burn Flash Img Success !"
    assert 0 < outcome.loader_seconds and 0 < outcome.image_seconds < outcome.total_seconds
    assert outcome.network_round_trip_ms == 0
    assert "succeeded" in repr(outcome)
    assert {call[0] for call in calls} == {"loader", "image"}
    assert calls[-1][:2] == ("image", 100)
    assert all(isinstance(value, int) for call in calls for value in call[1:])
    status, report = sim.finish()
    assert status == 0, report
    assert "expected image: in flash" in report


def test_burn_through_a_port_name_from_discovery(sims, image_file, monkeypatch):
    sim = sims("--exit-after-burn")
    monkeypatch.setenv("TARVOK_EXTRA_PORTS", "/dev/tarvok-none:" + sim.pty)
    found = {port.device: port for port in tarvok.ports()}
    assert found[sim.pty].name == "COM1002" and found[sim.pty].number == 1002
    outcome = tarvok.burn(image_file(IMAGE), "com1002", classic=True)
    assert outcome.succeeded, outcome
    assert (outcome.device, outcome.read_back, outcome.flash_crc) == (
        sim.pty, tarvok.ReadBack.not_asked, None)


@pytest.mark.parametrize("fault, status", [
    (["--reply-code", "5", "--reply-block", "3"], 14),
    (["--wrong-crc"], None),
])
def test_a_failing_chip_is_an_outcome(sims, image_file, fault, status):
    sim = sims(*fault)
    outcome = tarvok.burn(image_file(IMAGE), sim.pty)
    assert not outcome.succeeded and outcome.status != 0, outcome
    assert status is None or outcome.status == status
    assert outcome.explanation and outcome.summary.startswith("Burn Flash Img Fail")
    assert not outcome.interrupted
    assert "failed" in repr(outcome)


def test_a_port_that_does_not_open_is_an_outcome(image_file):
    outcome = tarvok.burn(image_file(IMAGE), "/dev/tarvok-no-such-port")
    assert not outcome.port_opened and not outcome.succeeded and outcome.status != 0
    assert "/dev/tarvok-no-such-port" in outcome.explanation


class Stop(Exception):
    pass


def test_an_exception_from_progress_stops_the_burn(sims, image_file):
    sim = sims()
    seen = []

    def progress(stage, percent, done, total):
        seen.append(stage)
        if stage == "image":
            raise Stop("enough")

    with pytest.raises(Stop) as raised:
        tarvok.burn(image_file(IMAGE), sim.pty, progress=progress)
    outcome = raised.value.outcome
    assert outcome.interrupted and not outcome.succeeded
    assert 0 < outcome.image_bytes < len(IMAGE)
    assert seen.count("image") == 1  # not called again once it has raised


def test_ctrl_c_stops_the_burn(sims, image_file):
    sim = sims()
    handled = threading.Event()

    def on_interrupt(number, frame):
        handled.set()
        raise KeyboardInterrupt

    def progress(stage, percent, done, total):
        # The first image block: Ctrl-C, then wait until the main thread has taken it, so the
        # burn has been asked to stop before its next block.
        if stage == "image" and not handled.is_set():
            signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)
            assert handled.wait(30)

    previous = signal.signal(signal.SIGINT, on_interrupt)
    try:
        with pytest.raises(KeyboardInterrupt) as raised:
            tarvok.burn(image_file(IMAGE), sim.pty, progress=progress)
    finally:
        signal.signal(signal.SIGINT, previous)
    outcome = raised.value.outcome
    assert outcome.interrupted and not outcome.succeeded
    assert 0 < outcome.image_bytes < len(IMAGE)
    assert "interrupted" in repr(outcome)


def test_three_threads_burn_three_chips_at_once(sims, image_file):
    images = [IMAGE[:10000 + 1000 * n] for n in range(3)]
    paths = [image_file(data, f"image{n}.bin") for n, data in enumerate(images)]
    chips = [sims("--exit-after-burn", "--expect-image", str(path)) for path in paths]
    started = threading.Barrier(3)

    def burn(n):
        started.wait()
        return tarvok.burn(paths[n], chips[n].pty)

    with concurrent.futures.ThreadPoolExecutor(3) as pool:
        outcomes = list(pool.map(burn, range(3)))
    for n, outcome in enumerate(outcomes):
        assert outcome.succeeded, outcome
        assert outcome.flash_crc == zlib.crc32(images[n])
        status, report = chips[n].finish()
        assert status == 0, report


NO_PORT = "/dev/tarvok-no-such-port"


@pytest.mark.parametrize("arguments, error, words", [
    ({"burn_baud": 12345}, ValueError, "burn_baud 12345 is not supported: one of 115200, "),
    ({"burn_baud": "fast"}, ValueError, "burn_baud 'fast' is not supported"),
    ({"rom_baud": 921600}, ValueError, "rom_baud 921600 is not supported: one of 9600, 115200"),
    ({"parity": "sometimes"}, ValueError, "parity 'sometimes' is not supported: one of none, "),
    ({"parity": 1}, TypeError, "parity must be a word, not int"),
    ({"data_bits": True}, TypeError, "data_bits must be a number or its word, not bool"),
    ({"stop_bits": 3}, ValueError, "stop_bits 3 is not supported: one of 1, 1.5, 2"),
    ({"image": "missing.bin"}, FileNotFoundError, "missing.bin"),
    ({"image": b""}, ValueError, "image  "),
    ({"image": 42}, TypeError, "int"),
    ({"port": "ttyUSB0"}, ValueError, "no port ttyUSB0"),
    ({"loader": "missing.bin"}, FileNotFoundError, "loader"),
    ({"boot_stage": "stage.bin"}, ValueError, "boot_stage needs loader"),
    ({"flash_base": -1}, TypeError, ""),
    ({"progress": "print"}, TypeError, "progress must be callable, not str"),
])
def test_bad_arguments_raise(image_file, tmp_path, monkeypatch, arguments, error, words):
    monkeypatch.chdir(tmp_path)
    given = {"image": image_file(IMAGE), "port": NO_PORT, **arguments}
    with pytest.raises(error) as raised:
        tarvok.burn(given.pop("image"), given.pop("port"), **given)
    assert words in str(raised.value)


@pytest.mark.parametrize("make, error, words", [
    (lambda path: tarvok.Image(path.parent / "missing.bin"), FileNotFoundError, "missing.bin"),
    (lambda path: tarvok.Image(path.parent), ValueError, "image /"),
    (lambda path: tarvok.Image(path).with_unit_number(len(IMAGE) - 2, 1), ValueError, "unit"),
    (lambda path: tarvok.Image(path).with_unit_number(0, 1 << 32), ValueError, "unit"),
    (lambda path: tarvok.Image(path).with_unit_number(0, 1, "le64"), ValueError, "le64"),
])
def test_bad_images_raise(image_file, make, error, words):
    with pytest.raises(error) as raised:
        make(image_file(IMAGE))
    assert words in str(raised.value)


def public(names):
    return {name for name in names if not name.startswith("_")}


def test_stubs_name_what_the_module_has():
    stub = ast.parse((pathlib.Path(tarvok.__file__).parent / "__init__.pyi").read_text())
    assert (pathlib.Path(tarvok.__file__).parent / "py.typed").exists()
    top = {node.name: node for node in stub.body if isinstance(node, (ast.ClassDef,
                                                                     ast.FunctionDef))}
    assert set(top) == public(dir(tarvok)) == set(tarvok.__all__)
    for name, node in top.items():
        if isinstance(node, ast.ClassDef):
            members = {item.name for item in node.body if isinstance(item, ast.FunctionDef)}
            members |= {item.target.id for item in node.body if isinstance(item, ast.AnnAssign)}
            assert public(members) == public(dir(getattr(tarvok, name))), name
    parameters = [argument.arg for argument in top["burn"].args.args + top["burn"].args.kwonlyargs]
    signature = tarvok.burn.__doc__.splitlines()[0]
    assert parameters == re.findall(r"(\w+): ", signature)
