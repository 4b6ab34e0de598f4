"""Thumbnails: the Finder's icon of a file, or a PICT file's picture, at a
size, as the library draws them for every host (the tool's thumbnail
command included)."""
from __future__ import annotations

import os
import subprocess

import pytest

import varnel
from conftest import pillow
from oracle import VECTOR_PICTURE, Res, bits_to_bytes, macbinary, resource_fork

# A 32 x 32 icon: a frame and a diagonal, its mask the whole square.
ICON_ROWS = ["#" * 32] + ["#" + ("." * 30) + "#" for _ in range(30)] + ["#" * 32]
ICON_ROWS = [row[:i] + "#" + row[i + 1:] if 0 < i < 31 else row for i, row in enumerate(ICON_ROWS)]
ICON = bits_to_bytes(ICON_ROWS) + bits_to_bytes(["#" * 32] * 32)
CUSTOM_ICON_FLAG = 0x0400


def write(tmp_path, name, resources, type_code=b"TEXT", flags=0x0100):
    path = tmp_path / name
    path.write_bytes(macbinary(b"Thumb", type_code, b"VARN", b"", resource_fork(resources),
                               flags=flags))
    return path


def test_custom_icon_enlarged_whole_and_centred(tmp_path):
    path = write(tmp_path, "custom.bin", [Res(b"ICN#", -16455, ICON), Res(b"PICT", 128, VECTOR_PICTURE)],
                 flags=0x0100 | CUSTOM_ICON_FLAG)
    with varnel.open(path) as f:
        icon = f.resources[b"ICN#", -16455].decode()
        for size, factor, offset in ((128, 4, 0), (100, 3, 2), (63, 1, 15)):
            thumb = f.thumbnail(size)
            assert isinstance(thumb, varnel.Image)
            assert (thumb.width, thumb.height) == (size, size)
            assert thumb.shows == "custom icon"
            assert thumb.resource == (b"ICN#", -16455)
            assert thumb.notes == ""
            for x, y in ((0, 0), (1, 5), (31, 31), (16, 0)):
                for dx, dy in ((0, 0), (factor - 1, factor - 1)):
                    assert thumb.pixel(offset + x * factor + dx, offset + y * factor + dy) == \
                        icon.pixel(x, y), (size, x, y)
            if offset:
                assert thumb.pixel(offset - 1, offset - 1) == (0, 0, 0, 0)
                assert thumb.pixel(size - 1, size - 1) == (0, 0, 0, 0)
    # Without the custom-icon flag the picture is what it shows: 60 x 16 fits.
    plain = write(tmp_path, "plain.bin", [Res(b"ICN#", -16455, ICON), Res(b"PICT", 128, VECTOR_PICTURE)])
    picture = varnel.thumbnail(plain)
    assert (picture.shows, picture.resource) == ("largest picture", (b"PICT", 128))
    assert picture == varnel.decode_picture(VECTOR_PICTURE)
    reduced = varnel.thumbnail(plain, size=30)
    assert reduced.size == (30, 8)


def test_own_icons_when_nothing_can_be_drawn(tmp_path):
    document = varnel.thumbnail(write(tmp_path, "doc.bin", [Res(b"TEXT", 128, b"words")]), size=64)
    assert (document.shows, document.resource, document.size) == ("document icon", None, (64, 64))
    assert document.pixel(0, 0) == (0, 0, 0, 0)
    assert document.pixel(20, 15) == (255, 255, 255, 255)  # paper
    application = varnel.thumbnail(write(tmp_path, "app.bin", [], type_code=b"APPL"), size=64)
    assert application.shows == "application icon"
    assert application.pixel(32, 12) == (0xCC, 0xCC, 0xFF, 0xFF)
    broken = varnel.thumbnail(write(tmp_path, "broken.bin", [Res(b"PICT", 128, VECTOR_PICTURE[:40])]))
    assert (broken.shows, broken.resource) == ("document icon", (b"PICT", 128))
    assert "ends before its end opcode" in broken.notes
    assert not broken.notes.startswith("PICT 128")


def test_pict_files(tmp_path):
    with_header = tmp_path / "vector.pict"
    with_header.write_bytes(bytes(512) + VECTOR_PICTURE)
    bare = tmp_path / "bare.pict"
    bare.write_bytes(VECTOR_PICTURE)
    for path in (with_header, bare):
        thumb = varnel.thumbnail(path)
        assert (thumb.shows, thumb.resource) == ("PICT file", None)
        assert thumb == varnel.decode_picture(VECTOR_PICTURE)
        assert varnel.thumbnail(path, 20).size == (20, 5)
    damaged = tmp_path / "damaged.pict"
    damaged.write_bytes(bytes(512) + VECTOR_PICTURE[:40])
    with pytest.raises(varnel.DamagedError, match="ends before its end opcode"):
        varnel.thumbnail(damaged)


def test_refusals(tmp_path):
    path = write(tmp_path, "doc.bin", [])
    for size in (15, 1025):
        with pytest.raises(varnel.ArgumentError, match="16 to 1024"):
            varnel.thumbnail(path, size)
    text = tmp_path / "notes.txt"
    text.write_bytes(b"just some text, no Macintosh file at all\n")
    with pytest.raises(varnel.Error):
        varnel.thumbnail(text)
    with pytest.raises(varnel.FileError):
        varnel.thumbnail(tmp_path / "missing.bin")


def test_the_tool_draws_the_same(tmp_path):
    tool = os.environ.get("VARNEL_TOOL")
    if not tool:
        if os.environ.get("CI") == "true":
            pytest.fail("VARNEL_TOOL is not set: the build has no tool, and CI=true requires it")
        pytest.skip("VARNEL_TOOL is not set (a build without the tool)")
    Image = pillow()
    files = [write(tmp_path, "custom.bin", [Res(b"ICN#", -16455, ICON)], flags=CUSTOM_ICON_FLAG),
             write(tmp_path, "doc.bin", [], type_code=b"PDOC")]
    (tmp_path / "vector.pict").write_bytes(bytes(512) + VECTOR_PICTURE)
    files.append(tmp_path / "vector.pict")
    for path in files:
        for size in (48, 128):
            out = tmp_path / "out.png"
            subprocess.run([tool, "thumbnail", "-q", "--size", str(size), str(path), str(out)],
                           check=True, timeout=60)
            drawn = Image.open(out).convert("RGBA")
            ours = varnel.thumbnail(path, size)
            assert drawn.size == ours.size, (path.name, size)
            assert drawn.tobytes() == ours.rgba, (path.name, size)
