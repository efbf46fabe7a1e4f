"""What the Python layer adds over the C functions, against morvent-sim:
closing, error mapping, record counting over multi-frame answers, tag
addressing by EPC and mask, and continuous reading that stops cleanly."""

import threading

import pytest

import morvent
from morvent import ANY, Bank, Mask, MorventError, Reader, Tag

EPC1 = bytes.fromhex("E20034120123456789ABCDEF")
EPC2 = bytes.fromhex("300011112222333344445555")


def test_status_names_come_from_the_core():
    assert morvent.status_name(0x30) == "MORVENT_COMM_ERROR"
    assert morvent.status_name(0x5A) == "READER_STATUS_0x5A"
    assert morvent.tag_error_name(0x05) == "MORVENT_TAG_ERR_PASSWORD"
    assert morvent.version().count(".") == 2


def test_reader_closes_and_reopens(sim):
    with Reader.tcp("localhost", sim.port) as reader:
        assert reader.is_open and reader.port == sim.port
        with pytest.raises(MorventError) as opened_twice:
            Reader.tcp("127.0.0.1", sim.port)
        assert opened_twice.value.name == "MORVENT_PORT_OPEN"
    assert not reader.is_open
    with pytest.raises(MorventError) as closed:
        reader.info()
    assert closed.value.status == morvent.INVALID_PORT
    reader.reopen()
    assert reader.info().scan_time == 10
    reader.close()
    reader.close()
    # The link was given back: a new Reader opens the same port, and one
    # dropped without close() gives it back when collected.
    Reader.tcp("127.0.0.1", sim.port)
    Reader.tcp("127.0.0.1", sim.port).close()


def test_errors_carry_status_name_and_tag_error(sim, monkeypatch, tmp_path):
    with Reader.tcp("127.0.0.1", sim.port) as reader:
        with pytest.raises(MorventError) as wrong:
            reader.read(EPC2, Bank.RESERVED, 2, 2, password=0x11111111)
        error = wrong.value
        assert (error.status, error.name, error.tag_error) == (0xFC, "MORVENT_TAG_ERROR", 5)
        assert error.tag_error_name == "MORVENT_TAG_ERR_PASSWORD"
        assert "ReadData_G2" in str(error) and error.meaning
        # Refused before anything is sent.
        for call in (lambda: reader.read(b"\x01\x02\x03", Bank.USER, 0, 1),
                     lambda: reader.write(EPC1, Bank.USER, 0, b"\x01"),
                     lambda: reader.read(EPC1, Bank.USER, 0, 1, password=b"\x00"),
                     lambda: reader.set_baud_rate(12345)):
            with pytest.raises(MorventError) as refused:
                call()
            assert refused.value.status == morvent.PARAM_RANGE
        with pytest.raises(MorventError) as absent:
            reader.read(b"\xab\xcd", Bank.USER, 0, 1)
        assert absent.value.name == "MORVENT_NO_TAG" and absent.value.tag_error is None
    port = sim.port
    sim.stop()
    with pytest.raises(MorventError) as nobody:
        Reader.tcp("127.0.0.1", port)
    assert nobody.value.status == morvent.COMM_ERROR
    # The configured device is named, not the COM number alone.
    monkeypatch.setenv("MORVENT_COM34", str(tmp_path / "ttyUSB9"))
    with pytest.raises(MorventError) as missing:
        Reader.serial(34)
    assert str(missing.value) == f"OpenComPort: no such device {tmp_path / 'ttyUSB9'} (COM34)"


def test_inventory_counts_every_frame_and_reads_tid(simulator):
    tags = [{"epc": f"30000000{i:04X}", "tid": "E2801105"} for i in range(30)]
    sim = simulator({"reader": {"tags_per_frame": 4}, "gen2": tags})
    with Reader.tcp("127.0.0.1", sim.port) as reader:
        seen = reader.inventory()
        assert len(seen) == 30 and str(seen[29]) == "30000000001D"
        with_tid = reader.inventory(tid=(0, 2))
        assert len(with_tid) == 30
        assert with_tid[3] == Tag(bytes.fromhex("300000000003"), bytes.fromhex("E2801105"))
    with pytest.raises(MorventError):  # a length byte that points one past the end
        morvent.split_records(bytes([2, 0xAB]), False)


def test_mask_and_epc_addressing(sim):
    with Reader.tcp("127.0.0.1", sim.port) as reader:
        assert Tag(EPC1, bytes.fromhex("E28011052000")) in reader.inventory(tid=3)  # three words from word 0
        assert {t.epc[0] for t in reader.inventory(mask=b"\x30\x00")} == {0x30}
        assert len(reader.inventory(mask=b"\x30\x00")) == 2
        assert reader.inventory(mask=b"\x99") == []
        reader.write(EPC1, Bank.USER, 2, b"\xca\xfe\xf0\x0d")
        assert reader.read(Mask(b"\xe2\x00\x34"), Bank.USER, 2, 2) == b"\xca\xfe\xf0\x0d"
        assert reader.read(Tag(EPC1), Bank.USER, 0, 1) == b"\x00\x11"
        assert reader.read(ANY, Bank.TID, 0, 2) == bytes.fromhex("E2801105")
        reader.write_epc(bytes.fromhex("11112222"))
        assert Tag(bytes.fromhex("11112222")) in reader.inventory()


def test_watch_yields_rounds_and_stops_cleanly(sim):
    with Reader.tcp("127.0.0.1", sim.port) as reader:
        field = len(reader.inventory())
        assert field > 0 and [len(r) for r in reader.watch(rounds=3)] == [field] * 3
        rounds = reader.watch(interval=0.01)
        assert len(next(rounds)) == field
        rounds.close()  # the consumer stops: the reader stays usable
        assert len(reader.inventory()) == field
        # Closing the reader from another thread ends an endless watch.
        counted = []
        timer = threading.Timer(0.3, reader.close)
        timer.start()
        for tags in reader.watch(interval=0.02):
            counted.append(len(tags))
        timer.join()
        assert counted and not reader.is_open


def test_settings_round_trip(sim):
    with Reader.tcp("127.0.0.1", sim.port) as reader:
        reader.set_power(17)
        assert reader.info().power == 17
        reader.set_mask(Mask(b"\x30\x00", bit_length=12))  # half of the last byte: still kept
        reader.set_work_mode(morvent.WorkMode.ACTIVE)
        parameters = reader.system_parameters()
        assert parameters.work_mode == 1 and parameters.mask.bits == b"\x30\x00"
        data = b""
        for _ in range(40):
            data = reader.read_active_mode_data()
            if data:
                break
        assert data and data[2] == 0xEE
        reader.set_work_mode(morvent.WorkMode.ANSWER)


def test_a_closed_serial_port_opens_again(simulator, tmp_path, monkeypatch):
    simulator(None, "--pty", str(tmp_path / "com"), "--no-pacing")
    monkeypatch.setenv("MORVENT_COM1", str(tmp_path / "com"))
    seen = []
    for _ in range(2):
        with Reader.serial(1) as reader:
            assert reader.port == 1
            seen.append(reader.inventory())
    assert seen[0] and seen[1] == seen[0]
