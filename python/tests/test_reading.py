"""Reading every container the library reads, from files made by the tests."""
from __future__ import annotations

import datetime
import io
import os

import pytest

import varnel
from oracle import Res, apple_single, binhex, compressed, macbinary, \
    resource_fork

NAME = b"Caf\x8e Notes"  # MacRoman: e with an acute accent
DATA = bytes(range(256)) * 3 + b"\x90\x90\x90\x90\x90end"
CREATED = 3786912000  # 2024-01-01T00:00:00Z in seconds since 1904
MODIFIED = CREATED + 3600
RESOURCES = [
    Res(b"STR ", 128, b"\x05Hello", b"Greeting", 0x28),
    Res(b"STR ", -16455, b"\x02hi", None, 0x00),
    Res(b"TEXT", 128, b"Some text\r", b"Read \x8e", 0x20),
    Res(b"TEXT", 129, b"", None, 0x00),  # empty
    Res(b"TEXT", 130, compressed(b"compressed contents " * 10), None, 0x21),
]
FORK = resource_fork(RESOURCES, map_attributes=0x0080)


def write(path, data: bytes) -> str:
    with open(path, "wb") as out:
        out.write(data)
    return str(path)


def expect_contents(f: varnel.MacFile, with_dates: bool = True, with_data: bool = True) -> None:
    assert f.name == "Café Notes"
    assert f.type == b"TEXT" and f.creator == b"VARN"
    assert f.flags == 0x2100
    if with_dates:
        assert f.created == datetime.datetime(2024, 1, 1, tzinfo=datetime.timezone.utc)
        assert f.modified == datetime.datetime(2024, 1, 1, 1, tzinfo=datetime.timezone.utc)
    else:
        assert f.created is None and f.modified is None
    if with_data:
        assert f.data_length == len(DATA) and f.read_data() == DATA
    assert f.resource_fork_length == len(FORK)
    assert f.read_resource_fork() == FORK
    assert f.map_attributes == 0x0080
    expect_resources(f)


def expect_resources(f: varnel.MacFile) -> None:
    got = [(r.type, r.id, r.name, int(r.attributes), r.stored) for r in f.resources]
    want = [(r.type, r.id, None if r.name is None else r.name.decode("mac_roman"),
             r.attributes, r.data) for r in RESOURCES]
    want[2] = (b"TEXT", 128, "Read é", 0x20, b"Some text\r")
    assert got == want
    assert len(f.resources) == 5
    assert f.resources.types() == [b"STR ", b"TEXT"]
    greeting = f.resources[b"STR ", 128]
    assert greeting.attributes == varnel.Attributes.PURGEABLE | varnel.Attributes.PROTECTED
    assert greeting.size == 6 and greeting.data == b"\x05Hello"
    # IDs as users write them and as the map stores them
    assert f.resources["STR ", -16455] is f.resources["STR ", 49081]
    assert ("STR ", 999) not in f.resources and ("STR ", 128) in f.resources
    with pytest.raises(KeyError):
        f.resources[b"PICT", 1]
    packed = f.resources[b"TEXT", 130]
    assert packed.data == b"compressed contents " * 10
    assert packed.stored == RESOURCES[4].data
    assert packed.compression == varnel.Compression(1, 8, 200, len(RESOURCES[4].data))
    assert greeting.compression is None
    assert [r.id for r in f.resources.of_type("TEXT")] == [128, 129, 130]


@pytest.mark.parametrize("version, container, crc_ok", [
    (1, "classic", None), (2, "macbinary", True), (3, "macbinary3", True)])
def test_macbinary(tmp_path, version, container, crc_ok):
    path = write(tmp_path / "notes.bin", macbinary(NAME, b"TEXT", b"VARN", DATA, FORK, version,
                                                   0x2100, CREATED, MODIFIED))
    assert varnel.identify(path) == container
    with varnel.open(path) as f:
        assert f.container == container and f.crc_ok is crc_ok
        assert f.resources_read and f.warnings == []
        expect_contents(f)


def test_macbinary_with_a_wrong_crc_still_reads(tmp_path):
    file = bytearray(macbinary(NAME, b"TEXT", b"VARN", DATA, FORK, 2, 0x2100, CREATED, MODIFIED))
    file[124] ^= 0xFF
    with varnel.open(write(tmp_path / "crc.bin", bytes(file))) as f:
        assert f.crc_ok is False
        expect_contents(f)


def test_applesingle(tmp_path):
    path = write(tmp_path / "notes.as", apple_single(NAME, b"TEXT", b"VARN", DATA, FORK, 0x2100,
                                                     CREATED, MODIFIED))
    with varnel.open(path) as f:
        assert f.container == "applesingle" and f.crc_ok is None
        expect_contents(f)


@pytest.mark.parametrize("by_header", [False, True])
def test_appledouble_pair(tmp_path, by_header):
    write(tmp_path / "notes.txt", DATA)
    write(tmp_path / "._notes.txt", apple_single(NAME, b"TEXT", b"VARN", None, FORK, 0x2100,
                                                 CREATED, MODIFIED, double=True))
    path = tmp_path / ("._notes.txt" if by_header else "notes.txt")
    with varnel.open(path) as f:
        assert f.container == "appledouble"
        expect_contents(f)


def test_binhex(tmp_path):
    text = b"From: someone\r\n\r\n" + binhex(NAME, b"TEXT", b"VARN", DATA, FORK, 0x2100)
    path = write(tmp_path / "notes.hqx", text)
    assert varnel.identify(path) == "binhex"
    with varnel.open(path) as f:
        assert f.container == "binhex" and f.crc_ok is True
        expect_contents(f, with_dates=False)


def test_bare_resource_fork(tmp_path):
    path = write(tmp_path / "Notes.rsrc", FORK)
    with varnel.open(path) as f:
        assert f.container == "rsrc"
        assert f.name == "Notes" and f.data_length == 0 and f.read_data() == b""
        assert f.type == bytes(4) and f.created is None
        expect_resources(f)


def test_data_fork_stream_reads_and_seeks(tmp_path):
    big = os.urandom(300000)
    path = write(tmp_path / "big.bin", macbinary(b"Big", b"BINA", b"VARN", big, b""))
    with varnel.open(path) as f:
        assert len(f.resources) == 0 and f.resource_fork_length == 0
        stream = f.open_data()
        assert stream.read(10) == big[:10]
        stream.seek(-5, io.SEEK_END)
        assert stream.read() == big[-5:]
        stream.seek(100000)
        assert stream.read(70000) == big[100000:170000]
        assert f.read_data(299990, 100) == big[299990:]
        chunks = []
        stream.seek(0)
        while True:
            piece = stream.read(65536)
            if not piece:
                break
            chunks.append(piece)
        assert b"".join(chunks) == big


def test_resources_are_read_lazily(tmp_path):
    # Data offsets that point past the fork: the map reads, each resource's
    # bytes fail only when asked for.
    fork = bytearray(resource_fork([Res(b"DATA", i, bytes([i % 256]) * 10) for i in range(2000)]))
    map_at = int.from_bytes(fork[4:8], "big")
    ref_list = map_at + 28 + 2 + 8
    for i in range(1, 2000):
        fork[ref_list + 12 * i + 5:ref_list + 12 * i + 8] = (0xFFFF00).to_bytes(3, "big")
    path = write(tmp_path / "many.bin", macbinary(b"Many", b"BINA", b"VARN", b"", bytes(fork)))
    with varnel.open(path) as f:
        assert len(f.resources) == 2000
        assert f.resources[b"DATA", 0].data == bytes(10)
        with pytest.raises(varnel.DamagedError) as failure:
            f.resources[b"DATA", 1].data
        assert failure.value.code == 3 and "many.bin" in str(failure.value)
        with pytest.raises(varnel.DamagedError):
            f.resources[b"DATA", 2].size
        assert f.resources[b"DATA", 0].size == 10


def test_finder_info_and_describe(tmp_path):
    fork = resource_fork([
        Res(b"vers", 1, bytes.fromhex("01008000 0000") + b"\x031.0" + b"\x0bVersion 1.0"),
        Res(b"FREF", 128, b"TEXT\x00\x00\x00")])
    path = write(tmp_path / "v.bin", macbinary(b"V", b"APPL", b"VARN", b"", fork, 2, 0x2100))
    with varnel.open(path) as f:
        assert f.finder_info[:10] == b"APPLVARN\x21\x00"
        assert f.resources[b"vers", 1].describe() == \
            'version 1.0 (final), region 0, short "1.0", long "Version 1.0"'
        assert f.resources[b"FREF", 128].describe() == 'file type "TEXT", local icon 0'


@pytest.mark.parametrize("listed_first", [False, True])
def test_iter_data_reads_every_resource_in_batches(tmp_path, monkeypatch, listed_first):
    from varnel import reader
    monkeypatch.setattr(reader, "_BATCH_BYTES", 1000)  # many batches, and one too large for any
    resources = [Res(b"DATA", i, bytes([i]) * (i * 13 % 300), b"n%d" % i if i % 3 else None)
                 for i in range(200)]
    resources.insert(50, Res(b"BIG ", 1, bytes(range(256)) * 20))
    resources.append(Res(b"TEXT", 7, compressed(b"packed " * 30), None, 0x21))
    path = write(tmp_path / "batches.bin", macbinary(b"B", b"TEXT", b"VARN", b"",
                                                     resource_fork(resources)))
    with varnel.open(path) as f:
        if listed_first:
            assert len(f.resources) == 202
        got = [(r.type, r.id, r.name, data) for r, data in f.resources.iter_data()]
        stored = [data for _, data in f.resources.iter_data(stored=True)]
        assert len(f.resources) == 202
        by_map = [(r.type, r.id, r.name, r.data) for r in f.resources]
    want = {(r.type, r.id): r for r in resources}
    assert len(got) == 202 and got == by_map
    for type_code, resource_id, name, data in got:
        res = want[type_code, resource_id]
        assert name == (None if res.name is None else res.name.decode("ascii"))
        assert data == (b"packed " * 30 if type_code == b"TEXT" else res.data)
    assert stored[-1] == resources[-1].data  # the compressed one as stored


def test_reads_side_by_side_and_abandoned_keep_their_own_bytes(tmp_path):
    # The batch buffers are kept from one read to the next: two iterations
    # running side by side must never share one, and one left unfinished
    # must leave the next read whole.
    def fork_of(fill):
        return resource_fork([Res(b"DATA", i, bytes([fill, i]) * (50 + i), None) for i in range(120)])
    first = write(tmp_path / "first.bin", macbinary(b"F", b"TEXT", b"VARN", b"", fork_of(0xAA)))
    second = write(tmp_path / "second.bin", macbinary(b"S", b"TEXT", b"VARN", b"", fork_of(0x55)))
    with varnel.open(first) as a, varnel.open(second) as b:
        abandoned = a.resources.iter_data()
        assert next(abandoned)[1] == bytes([0xAA, 0]) * 50
        del abandoned
        for (ra, da), (rb, db) in zip(a.resources.iter_data(), b.resources.iter_data()):
            assert ra.id == rb.id
            assert da == bytes([0xAA, ra.id]) * (50 + ra.id)
            assert db == bytes([0x55, rb.id]) * (50 + rb.id)
