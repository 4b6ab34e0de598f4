"""Failures reach Python as exceptions with the library's code and reason;
nothing is printed; closed files refuse further use."""
from __future__ import annotations

import errno
import os

import pytest

import varnel
from oracle import Res, apple_single, compressed, macbinary, resource_fork

FORK = resource_fork([Res(b"STR ", 1, b"\x01a"), Res(b"snd ", 1,
                                                     compressed(b"abc" * 10, decompressor=3),
                                                     attributes=0x21)])


def write(path, data):
    path.write_bytes(data)
    return path


def test_reading_failures_by_kind(tmp_path, capfd):
    with pytest.raises(varnel.FileError) as missing:
        varnel.open(tmp_path / "missing.bin")
    assert missing.value.code == 1 and missing.value.errno == errno.ENOENT
    assert isinstance(missing.value, OSError)
    assert str(missing.value).startswith(str(tmp_path / "missing.bin") + ": ")
    assert "No such file or directory" in missing.value.reason

    cut = write(tmp_path / "cut.bin", macbinary(b"C", b"TEXT", b"VARN", b"x" * 1000, FORK)[:500])
    with pytest.raises(varnel.DamagedError) as damaged:
        varnel.open(cut)
    assert damaged.value.code == 3
    assert damaged.value.reason == \
        "Data fork cut short: the file ends at 500, the data fork at 1128"

    v3 = write(tmp_path / "v3.as", apple_single(b"V", b"TEXT", b"VARN", b"abc", FORK,
                                                version=0x00030000))
    with pytest.raises(varnel.UnsupportedError) as unsupported:
        varnel.open(v3)
    assert unsupported.value.code == 4 and "unknown version" in unsupported.value.reason

    short = write(tmp_path / "short", b"abc")
    assert varnel.identify(short) is None
    with pytest.raises(varnel.DamagedError):
        varnel.open(short)
    with pytest.raises(varnel.FileError):
        varnel.identify(tmp_path / "missing.bin")
    # The library's default method would have printed every one of these.
    assert capfd.readouterr() == ("", "")


def test_damaged_resource_fork_opens_with_a_warning(tmp_path):
    path = write(tmp_path / "fork.bin", macbinary(b"F", b"TEXT", b"VARN", b"x" * 100, FORK)[:300])
    with pytest.warns(varnel.VarnelWarning, match="Resource fork cut short") as given:
        f = varnel.open(path)
    assert given[0].filename == __file__  # attributed to the caller, not to varnel
    with f:
        assert not f.resources_read and len(f.resources) == 0
        assert f.read_data() == b"x" * 100
        assert f.warnings == ["Resource fork cut short: the file ends at 300, the resource fork "
                              "at 643; no resources read"]


def test_compressed_resource_with_an_unknown_decompressor(tmp_path, capfd):
    with varnel.open(write(tmp_path / "d.bin", macbinary(b"D", b"TEXT", b"VARN", b"", FORK))) as f:
        sound = f.resources[b"snd ", 1]
        assert sound.stored[:4] == bytes.fromhex("A89F6572")
        assert sound.compression.decompressor == 3
        with pytest.raises(varnel.UnsupportedError) as failure:
            sound.data
        assert failure.value.reason == "Resource snd  1 cannot be read: unknown decompressor 3"
        with pytest.raises(varnel.UnsupportedError):
            sound.decode()
        assert f.resources[b"STR ", 1].data == b"\x01a"  # the others still read
    assert capfd.readouterr() == ("", "")


def test_writing_refusals_by_kind(tmp_path, capfd):
    cases = [
        (lambda w: w.add_resource(b"STR ", 70000, b""), varnel.ArgumentError, "resource ID"),
        (lambda w: w.add_resource(b"STR ", 1, b"", name="x" * 256), varnel.ArgumentError,
         "at most 255 characters"),
        (lambda w: w.add_resource(b"STR ", 1, b"", name="\u2713"), varnel.ArgumentError,
         "(U+2713) is not a Macintosh (MacRoman) character"),
        (lambda w: w.add_line('vers 1 "" 1.00 X 0 0/1.0/V'), varnel.ArgumentError,
         "release stage 'X'"),
        (lambda w: w.add_line('PICT 1 "" picture.png'), varnel.ArgumentError,
         "no processor for resource type 'PICT'"),
        (lambda w: w.add_line('BNDL "' + "o" * 120 + '"'), varnel.LimitError,
         "at most 99 Macintosh characters"),
        (lambda w: (w.add_resource(b"STR ", 1, b""), w.write(b"late")), varnel.StateError,
         "data fork is complete"),
        (lambda w: w.add_icon(b"ICN#", 1, bytes(16 * 16 * 4)), varnel.ArgumentError,
         "ICN# needs 32 x 32 pixels, not 16 x 16"),
        (lambda w: (w.set_resource_fork(FORK), w.add_resource(b"STR ", 2, b"")),
         varnel.StateError, "resource fork"),
    ]
    for action, kind, words in cases:
        with pytest.raises(kind) as refused:
            with varnel.create(tmp_path / "r.bin") as out:
                action(out)
        assert words in str(refused.value), (words, str(refused.value))
        assert refused.value.code == kind.code
        assert os.listdir(tmp_path) == []
    assert capfd.readouterr() == ("", "")


def test_map_full_is_a_limit(tmp_path):
    with pytest.raises(varnel.LimitError) as full:
        with varnel.create(tmp_path / "full.bin", finder_resources=False) as out:
            for resource_id in range(6000):
                out.add_resource(b"STR ", resource_id, b"")
    assert "the resource map is full at 5458 resources" in full.value.reason and full.value.code == 5
    assert not (tmp_path / "full.bin").exists()


def test_room_is_kept_for_the_owner_resource(tmp_path):
    """The last resource that fits leaves room for what closing adds."""
    with varnel.create(tmp_path / "owned.bin", creator=b"VARN") as out:
        for resource_id in range(5456):
            out.add_resource(b"STR ", resource_id, b"")
        with pytest.raises(varnel.LimitError) as full:
            out.add_resource(b"STR ", 6000, b"")
        assert "with the owner resource that closing the file adds" in full.value.reason
    with varnel.open(tmp_path / "owned.bin") as f:
        assert len(f.resources) == 5457  # the strings and the owner resource
        assert f.resources[b"VARN", 0].id == 0


def test_arguments_refused_before_the_library(tmp_path):
    with pytest.raises(varnel.ArgumentError, match="unknown container 'zip'"):
        varnel.create(tmp_path / "x", container="zip")
    with pytest.raises(varnel.ArgumentError, match="4 bytes"):
        varnel.create(tmp_path / "x", type=b"TOOLONG")
    with pytest.raises(varnel.LimitError, match="longer than 31"):
        varnel.create(tmp_path / "x", name="n" * 32)
    with pytest.raises(varnel.FileError) as no_directory:
        varnel.create(tmp_path / "no" / "such" / "x.bin")
    assert no_directory.value.errno == errno.ENOENT
    with pytest.raises(varnel.ArgumentError, match="outside the Macintosh dates"):
        import datetime
        varnel.create(tmp_path / "x", created=datetime.datetime(1800, 1, 1))
    assert os.listdir(tmp_path) == []


def test_closed_files_refuse_use(tmp_path):
    path = write(tmp_path / "c.bin", macbinary(b"C", b"TEXT", b"VARN", b"abc", FORK))
    with varnel.open(path) as f:
        resource = f.resources[b"STR ", 1]
        stream = f.open_data()
    assert f.closed
    for use in (lambda: f.read_data(), lambda: f.read_resource_fork(), lambda: resource.data,
                lambda: resource.stored, lambda: resource.decode(),
                lambda: resource.compression, lambda: stream.read(), lambda: f.open_data()):
        with pytest.raises(varnel.StateError, match="the file is closed"):
            use()
    f.close()  # a second close does nothing
    # The map's facts stay: listed when the file was open.
    assert (resource.type, resource.id, resource.size, resource.name) == (b"STR ", 1, 2, None)
    writer = varnel.create(tmp_path / "w.bin")
    writer.close()
    for use in (lambda: writer.write(b"x"), lambda: writer.add_resource(b"STR ", 1, b""),
                lambda: writer.add_line("STR  1 \"\" ~x"), lambda: writer.set_dates()):
        with pytest.raises(varnel.StateError, match="the file is closed"):
            use()


def test_one_writer_at_a_time_in_a_thread(tmp_path):
    with varnel.create(tmp_path / "a.bin") as first:
        with pytest.raises(varnel.StateError, match="one file at a time"):
            varnel.create(tmp_path / "b.bin")
        first.write(b"still fine")
    with varnel.open(tmp_path / "a.bin") as f:
        assert f.read_data() == b"still fine"
    assert not (tmp_path / "b.bin").exists()


def test_error_classes_and_codes():
    assert issubclass(varnel.FileError, varnel.Error) and issubclass(varnel.FileError, OSError)
    assert issubclass(varnel.ArgumentError, ValueError)
    assert issubclass(varnel.StateError, ValueError)
    assert issubclass(varnel.OutOfMemoryError, MemoryError)
    codes = {cls.code for cls in (varnel.FileError, varnel.OutOfMemoryError, varnel.DamagedError,
                                  varnel.UnsupportedError, varnel.LimitError,
                                  varnel.ArgumentError, varnel.StateError, varnel.ImageError)}
    assert codes == {1, 2, 3, 4, 5, 6, 7, 8}
    image = varnel.errors.error_for(8, "icon.png: no such image file")
    assert type(image) is varnel.ImageError and image.reason == "icon.png: no such image file"


def test_a_file_without_resources_prints_nothing(tmp_path, capfd):
    # The library's map reader prints a line on C's standard output for such
    # a file; a Python host's standard output stays its own.
    path = write(tmp_path / "plain.bin", macbinary(b"P", b"TEXT", b"VARN", b"plain", b""))
    with varnel.open(path) as f:
        assert f.resource_fork_length == 0 and len(f.resources) == 0
    print("host output")
    assert capfd.readouterr() == ("host output\n", "")
