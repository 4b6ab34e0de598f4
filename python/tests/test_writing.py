"""Writing each container, converting between them, and a round trip of
every resource of a large file in the real format."""
from __future__ import annotations

import datetime
import os
import struct
import warnings

import pytest

import varnel
from conftest import peer, run
from oracle import large_resource_set, macbinary, resource_fork

CONTAINERS = ["macbinary", "classic", "applesingle", "appledouble", "binhex"]
WHEN = datetime.datetime(2024, 3, 1, 12, 30, tzinfo=datetime.timezone.utc)
LATER = datetime.datetime(2024, 3, 2, 8, 0, tzinfo=datetime.timezone.utc)


def sample(path, container):
    with varnel.create(path, type=b"TEXT", creator="VARN", name="Café", container=container,
                       created=WHEN, modified=LATER) as out:
        assert out.write(b"Hello, Mac\r") == 11
        out.write(memoryview(b"more\r"))
        out.add_line('vers 1 "" 1.00 F 0 0/1.0/Version 1.0')
        out.add_line('FREF 128 "" TEXT 128')
        out.add_line('BNDL "Made by the Python tests"')
        out.add_resource(b"STR ", 128, b"\x05Hello", name="Greeting",
                         attributes=varnel.Attributes.PROTECTED | varnel.Attributes.PRELOAD)
        out.add_resource("TEXT", -16455, b"", name=None, attributes=0)
        out.add_line('STR  129 "Grüße" ~Straße')  # stored in MacRoman
    return path


@pytest.mark.parametrize("container", CONTAINERS)
def test_each_container(tmp_path, container):
    path = sample(str(tmp_path / "out.file"), container)
    assert not [n for n in os.listdir(tmp_path) if n.startswith(".varnel-")]
    with varnel.open(path) as f:
        assert f.container == container
        assert f.name == "Café" and f.type == b"TEXT" and f.creator == b"VARN"
        assert f.read_data() == b"Hello, Mac\rmore\r"
        if container == "binhex":
            assert f.created is None  # BinHex holds no dates
        else:
            assert (f.created, f.modified) == (WHEN, LATER)
        assert f.flags & 0x2000  # hasBundle, set by the bundle
        res = f.resources
        assert [(r.type, r.id) for r in res] == [
            (b"vers", 1), (b"FREF", 128), (b"STR ", 128), (b"STR ", 129), (b"TEXT", -16455),
            (b"VARN", 0), (b"BNDL", 128)]
        assert res[b"STR ", 128].attributes == varnel.Attributes.PROTECTED | \
            varnel.Attributes.PRELOAD
        assert res[b"STR ", 128].name == "Greeting" and res[b"STR ", 128].data == b"\x05Hello"
        assert res[b"STR ", 129].name == "Grüße"
        assert res[b"STR ", 129].data == b"\x06Stra\xa7e"
        assert res[b"TEXT", -16455].data == b"" and res[b"TEXT", -16455].name is None
        assert res[b"VARN", 0].describe() == 'owner resource "Made by the Python tests"'
        assert res[b"BNDL", 128].describe() == 'owner "VARN" 0; FREF: 0=128; ICN#: 0=128'
    if container == "appledouble":
        assert os.path.exists(tmp_path / "._out.file")


def test_exactly_the_resources_given(tmp_path):
    with varnel.create(tmp_path / "bare.bin", type=b"APPL", creator=b"VARN",
                       finder_resources=False, flags=0x0100) as out:
        out.add_resource(b"CODE", 0, b"\x00" * 16)
    with varnel.open(tmp_path / "bare.bin") as f:
        assert [(r.type, r.id) for r in f.resources] == [(b"CODE", 0)]
        assert f.flags == 0x0100
    with varnel.create(tmp_path / "none.bin", finder_resources=False) as out:
        out.write(b"data only")
    with varnel.open(tmp_path / "none.bin") as f:
        assert f.resource_fork_length == 0 and len(f.resources) == 0
        assert f.type == b"????" and f.name == "none"


def test_macbinary_header_bytes(tmp_path):
    with varnel.create(tmp_path / "h.bin", type=b"TEXT", creator=b"VARN", name="H",
                       finder_resources=False, created=WHEN, modified=WHEN) as out:
        out.write(b"abc")
    raw = (tmp_path / "h.bin").read_bytes()
    assert raw[0:3] == b"\x00\x01H" and raw[65:73] == b"TEXTVARN"
    assert struct.unpack(">II", raw[83:91]) == (3, 0)
    assert raw[122:124] == b"\x81\x81"  # MacBinary II
    assert len(raw) == 256 and raw[128:131] == b"abc"


@pytest.mark.parametrize("source", CONTAINERS)
@pytest.mark.parametrize("target", CONTAINERS)
def test_convert_carries_both_forks(tmp_path, source, target):
    original = sample(str(tmp_path / "a.src"), source)
    converted = str(tmp_path / "b.dst")
    with warnings.catch_warnings(record=True) as given:
        warnings.simplefilter("always")
        notes = varnel.convert(original, converted, container=target)
    lost_dates = target == "binhex" and source != "binhex"
    assert notes == (["BinHex holds no dates: the creation and modification dates are lost"]
                     if lost_dates else [])
    assert [str(w.message) for w in given] == [f"{converted}: {note}" for note in notes]
    with varnel.open(original) as a, varnel.open(converted) as b:
        assert b.container == target
        assert (b.name, b.type, b.creator, b.flags) == (a.name, a.type, a.creator, a.flags)
        assert b.read_data() == a.read_data()
        assert b.read_resource_fork() == a.read_resource_fork()
        if source == "binhex" and target != "binhex":  # no dates: the time of the conversion
            now = datetime.datetime.now(datetime.timezone.utc)
            assert abs((now - b.modified).total_seconds()) < 600
        elif target != "binhex":
            assert (b.created, b.modified) == (a.created, a.modified)


def test_round_trip_of_every_resource_of_a_large_file(tmp_path):
    """About 3,000 resources of 40 types, made by the tests' own writer in the
    real format: each container written from what varnel reads gives the
    same resources back, byte for byte."""
    resources = large_resource_set()
    fork = resource_fork(resources)
    source = tmp_path / "System.bin"
    source.write_bytes(macbinary(b"System", b"ZSYS", b"MACS", b"", fork, 2, 0x5000))
    want = [(r.type, r.id, r.name, r.attributes, r.data) for r in resources]
    with varnel.open(source) as f:
        assert len(f.resources) == len(resources)
        listed = [(r.type, r.id, None if r.name is None else varnel.to_mac_roman(r.name),
                   int(r.attributes), r.stored) for r in f.resources]
        assert sorted(listed, key=repr) == sorted(want, key=repr)
        compressed = [r for r in f.resources if r.attributes & varnel.Attributes.COMPRESSED]
        assert len(compressed) == 12
        for r in compressed:
            assert r.data == bytes(range(256)) * 3 + b"end"
        for container in CONTAINERS:
            copy = tmp_path / f"copy.{container}"
            with varnel.create(copy, type=f.type, creator=f.creator, name=f.name,
                               container=container, finder_resources=False) as out:
                for r in f.resources:
                    out.add_resource(r.type, r.id, r.stored, r.name, r.attributes)
            with varnel.open(copy) as back:
                again = [(r.type, r.id, None if r.name is None else varnel.to_mac_roman(r.name),
                          int(r.attributes), r.stored) for r in back.resources]
                assert sorted(again, key=repr) == sorted(want, key=repr), container
                assert [r.data for r in back.resources if r.attributes & 1] == \
                    [r.data for r in compressed]


def test_interrupted_write_leaves_nothing(tmp_path):
    keep = tmp_path / "keep.bin"
    keep.write_bytes(b"the old file")
    for container in CONTAINERS:
        with pytest.raises(RuntimeError):
            with varnel.create(keep, container=container) as out:
                out.write(b"half")
                out.add_resource(b"STR ", 1, b"\x01x")
                raise RuntimeError("interrupted")
        assert keep.read_bytes() == b"the old file"
        assert sorted(os.listdir(tmp_path)) == ["keep.bin"], container
    # A refused resource inside the with: the exception, and no file.
    with pytest.raises(varnel.ArgumentError):
        with varnel.create(tmp_path / "new.bin") as out:
            out.add_resource(b"STR ", 40000, b"")
    assert not (tmp_path / "new.bin").exists()


def test_abort_and_close_twice(tmp_path):
    out = varnel.create(tmp_path / "x.bin")
    out.write(b"abc")
    out.abort()
    assert out.closed and not (tmp_path / "x.bin").exists()
    out.close()  # nothing more to do
    with pytest.raises(varnel.StateError):
        out.write(b"more")


def test_icons_from_rgba_and_pillow(tmp_path):
    from conftest import pillow
    rgba = bytearray()
    for y in range(32):
        for x in range(32):
            inside = 4 <= x < 28
            rgba += bytes([0, 0, 0, 255]) if inside and (x + y) % 2 else \
                bytes([255, 255, 255, 255]) if inside else bytes(4)
    with varnel.create(tmp_path / "i.bin", finder_resources=False) as out:
        out.add_icon(b"ICN#", 128, bytes(rgba))
        out.add_icon(b"icl8", 128, varnel.Image(32, 32, bytes(rgba)), exact=True)
    with varnel.open(tmp_path / "i.bin") as f:
        for type_code in (b"ICN#", b"icl8"):
            image = f.resources[type_code, 128].decode()
            assert image.size == (32, 32)
            assert image.rgba == bytes(rgba), type_code
    Image = pillow()
    picture = Image.new("RGBA", (16, 16), (255, 0, 0, 255))
    with varnel.create(tmp_path / "p.bin", finder_resources=False) as out:
        out.add_icon(b"ics#", 128, picture)
        out.add_icon(b"ics8", 128, picture, exact=True)
    with varnel.open(tmp_path / "p.bin") as f:
        back = f.resources[b"ics8", 128].decode().to_pillow()
        assert back.size == (16, 16) and back.getpixel((3, 3)) == (255, 0, 0, 255)


# ---- Peers read what varnel writes ------------------------------------------------


def test_macunpack_splits_macbinary(tmp_path):
    macunpack = peer("macunpack", "macutils")
    sample(str(tmp_path / "s.bin"), "macbinary")
    run([macunpack, "-3", "s.bin"], str(tmp_path))
    with varnel.open(tmp_path / "s.bin") as f:
        produced = {n for n in os.listdir(tmp_path) if n.endswith((".data", ".rsrc"))}
        assert len(produced) == 2, produced
        data = next(n for n in produced if n.endswith(".data"))
        rsrc = next(n for n in produced if n.endswith(".rsrc"))
        assert (tmp_path / data).read_bytes() == f.read_data()
        assert (tmp_path / rsrc).read_bytes() == f.read_resource_fork()


def test_hexbin_decodes_binhex(tmp_path):
    hexbin = peer("hexbin", "macutils")
    sample(str(tmp_path / "s.hqx"), "binhex")
    run([hexbin, "-3", "s.hqx"], str(tmp_path))
    with varnel.open(tmp_path / "s.hqx") as f:
        rsrc = [n for n in os.listdir(tmp_path) if n.endswith(".rsrc")]
        data = [n for n in os.listdir(tmp_path) if n.endswith(".data")]
        assert len(rsrc) == 1 and len(data) == 1
        assert (tmp_path / data[0]).read_bytes() == f.read_data()
        assert (tmp_path / rsrc[0]).read_bytes() == f.read_resource_fork()


def test_lsar_lists_applesingle(tmp_path):
    lsar = peer("lsar", "unar")
    sample(str(tmp_path / "s.as"), "applesingle")
    listing = run([lsar, "-j", "s.as"], str(tmp_path))
    assert '"lsarFormatName": "AppleSingle"' in listing
    with varnel.open(tmp_path / "s.as") as f:
        assert f'"XADDataLength": {f.resource_fork_length}' in listing


def test_hfsutils_takes_macbinary(tmp_path):
    for program in ("hformat", "hmount", "hcopy", "hls", "humount"):
        peer(program, "hfsutils")
    sample(str(tmp_path / "s.bin"), "macbinary")
    image = str(tmp_path / "disk.hfs")
    with open(image, "wb") as disk:
        disk.truncate(800 * 1024)
    env_home = {"HOME": str(tmp_path)}  # hfsutils keeps its current volume in ~/.hcwd
    import subprocess
    def h(*args):
        done = subprocess.run(list(args), cwd=tmp_path, env={**os.environ, **env_home},
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        assert done.returncode == 0, done.stdout
        return done.stdout.decode("latin-1")
    h("hformat", "-l", "Test", image)
    h("hmount", image)
    try:
        h("hcopy", "-m", "s.bin", ":Sample")
        h("hcopy", "-m", ":Sample", "back.bin")
        listing = h("hls", "-l")
        assert "TEXT/VARN" in listing
    finally:
        h("humount")
    with varnel.open(tmp_path / "s.bin") as a, varnel.open(tmp_path / "back.bin") as b:
        assert b.read_data() == a.read_data()
        assert b.read_resource_fork() == a.read_resource_fork()


def test_convert_names_what_each_container_loses(tmp_path):
    # The icon's place (bytes 10-15) and the extended information (16-31).
    finder = b"TEXTVARN\x01\x23" + b"\x00\x10\x00\x20\x00\x00" + bytes(15) + b"\x07"
    entries = [(3, b"F"), (8, struct.pack(">iiii", 762525000, 762590400, -2**31, -2**31)),
               (9, finder), (1, b"data")]
    at = 26 + 12 * len(entries)
    table, body = b"", b""
    for entry, data in entries:
        table += struct.pack(">III", entry, at + len(body), len(data))
        body += data
    (tmp_path / "f.as").write_bytes(struct.pack(">II16sH", 0x00051600, 0x00020000, bytes(16),
                                                len(entries)) + table + body)
    extended = ("holds no extended Finder information (script, extended flags, comment, "
                "put-away folder): it is lost")
    expected = {
        "applesingle": [],
        "macbinary": ["MacBinary II " + extended],
        "classic": ["the classic MacBinary header holds only the high byte of the Finder flags: "
                    "0x0123 becomes 0x0100", "classic MacBinary " + extended],
        "binhex": ["BinHex holds no dates: the creation and modification dates are lost",
                   "BinHex 4.0 holds no window place or folder of the icon: they are lost",
                   "BinHex 4.0 " + extended],
    }
    for container, notes in expected.items():
        out = str(tmp_path / f"g.{container}")
        with warnings.catch_warnings(record=True) as given:
            warnings.simplefilter("always")
            assert varnel.convert(tmp_path / "f.as", out, container=container) == notes
        assert [str(w.message) for w in given] == [f"{out}: {note}" for note in notes]


def test_convert_to_a_bare_resource_fork(tmp_path):
    original = sample(str(tmp_path / "s.bin"), "macbinary")
    with warnings.catch_warnings(record=True) as given:
        warnings.simplefilter("always")
        notes = varnel.convert(original, tmp_path / "s.rsrc", container="rsrc")
    # The library's words, each warning naming the file it is about.
    assert notes == ["the data fork (16 bytes) is not written: a bare resource fork holds none",
                     "a bare resource fork holds no type, creator, Finder flags or dates"]
    assert [str(w.message) for w in given] == [f"{original}: {notes[0]}",
                                               f"{tmp_path / 's.rsrc'}: {notes[1]}"]
    with varnel.open(original) as a, varnel.open(tmp_path / "s.rsrc") as b:
        assert b.container == "rsrc" and b.name == "s"
        assert (tmp_path / "s.rsrc").read_bytes() == a.read_resource_fork()
        assert [(r.type, r.id, r.data) for r in b.resources] == \
            [(r.type, r.id, r.data) for r in a.resources]
    # A file without a resource fork gives a fork without resources.
    with varnel.create(tmp_path / "plain.bin", finder_resources=False):
        pass
    # (Its dates are lost; that it has no fork is a notice, not a warning.)
    with pytest.warns(varnel.VarnelWarning, match="plain.rsrc: a bare resource fork holds no type"):
        assert varnel.convert(tmp_path / "plain.bin", tmp_path / "plain.rsrc", container="rsrc") == \
            ["a bare resource fork holds no type, creator, Finder flags or dates"]
    with varnel.open(tmp_path / "plain.rsrc") as empty:
        assert empty.container == "rsrc" and len(empty.resources) == 0
        assert empty.resource_fork_length == 286
    assert sorted(os.listdir(tmp_path)) == ["plain.bin", "plain.rsrc", "s.bin", "s.rsrc"]
