"""Decoding icons, cursors and pictures into pixels, and encoding icons."""
from __future__ import annotations

import pytest

import varnel
from conftest import pillow
from oracle import VECTOR_PICTURE, Res, bits_to_bytes, macbinary, resource_fork

# A 32 x 32 icon: a frame and a diagonal; its mask the frame filled.
ICON_ROWS = ["#" * 32] + ["#" + ("." * 30) + "#" for _ in range(30)] + ["#" * 32]
ICON_ROWS = [row[:i] + "#" + row[i + 1:] if 0 < i < 31 else row for i, row in enumerate(ICON_ROWS)]
MASK_ROWS = ["#" * 32] * 32
# A cursor: an arrow-ish 16 x 16, its mask the upper half, hot spot (3, 5).
CURSOR_ROWS = ["#" * (i + 1) + "." * (15 - i) for i in range(16)]
CURSOR_MASK = ["#" * 16] * 8 + ["." * 16] * 8

# What the README's vector picture (oracle.VECTOR_PICTURE) draws, 60 x 16
# pixels: '#' black, '.' white.
VECTOR_DRAWING = """
..########################################################..
.#........................................................#.
#..........................................................#
#.....####....................##...........................#
#...########..........#........##..........................#
#...########.........#.#........##.........##..###.........#
#..##########.......#.#..........##.......#..#.#..#........#
#..##########......#.#.#..........##......#..#.#..#........#
#..##########.....#.#.#.#.........##......##.#.#..#........#
#..##########......#.#.#.#.........##.....#.##.#..#........#
#...########......#.#.#.#.#.........##.....##..###.........#
#...########.....#.#.#.#.#.#.........##......#.............#
#.....####............................##...................#
#..........................................................#
.#........................................................#.
..########################################################..
""".split()


def drawn(image: varnel.Image):
    """The image as rows of '#' (black), '.' (white), ' ' (transparent), '?' (other)."""
    rows = []
    for y in range(image.height):
        row = ""
        for x in range(image.width):
            pixel = image.pixel(x, y)
            row += " " if pixel[3] == 0 else "#" if pixel == (0, 0, 0, 255) else \
                "." if pixel == (255, 255, 255, 255) else "?"
        rows.append(row)
    return rows


@pytest.fixture
def decoded_file(tmp_path):
    fork = resource_fork([
        Res(b"ICN#", 128, bits_to_bytes(ICON_ROWS) + bits_to_bytes(MASK_ROWS)),
        Res(b"ICN#", 129, bits_to_bytes(ICON_ROWS) + bits_to_bytes(["." * 32] * 32)),
        Res(b"CURS", 128, bits_to_bytes(CURSOR_ROWS) + bits_to_bytes(CURSOR_MASK) +
            bytes.fromhex("0005 0003")),
        Res(b"PICT", 128, VECTOR_PICTURE),
        Res(b"PICT", 129, VECTOR_PICTURE[:40]),
        Res(b"TEXT", 128, b"not a picture"),
    ])
    path = tmp_path / "pictures.bin"
    path.write_bytes(macbinary(b"Pictures", b"TEXT", b"VARN", b"", fork))
    with varnel.open(path) as f:
        yield f


def test_icon_with_its_mask(decoded_file):
    icon = decoded_file.resources[b"ICN#", 128].decode()
    assert (icon.width, icon.height, icon.hot_spot) == (32, 32, (0, 0))
    assert drawn(icon) == ICON_ROWS
    assert len(icon.rgba) == 32 * 32 * 4
    hidden = decoded_file.resources[b"ICN#", 129].decode()  # an empty mask: all transparent
    assert set(drawn(hidden)) == {" " * 32}


def test_cursor_hot_spot_and_mask(decoded_file):
    cursor = decoded_file.resources[b"CURS", 128].decode()
    assert cursor.size == (16, 16) and cursor.hot_spot == (3, 5)
    rows = drawn(cursor)
    assert rows[:8] == CURSOR_ROWS[:8]
    # Outside the mask: set bits invert the screen (drawn black), clear ones are transparent.
    assert rows[8:] == [row.replace(".", " ") for row in CURSOR_ROWS[8:]]


def test_picture_resource_and_picture_bytes(decoded_file):
    picture = decoded_file.resources[b"PICT", 128].decode()
    assert picture.size == (60, 16) and picture.notes == ""
    assert drawn(picture) == VECTOR_DRAWING
    assert varnel.decode_picture(VECTOR_PICTURE) == picture
    with pytest.raises(varnel.DamagedError):
        decoded_file.resources[b"PICT", 129].decode()
    with pytest.raises(varnel.DamagedError, match="ends before its end opcode"):
        varnel.decode_picture(VECTOR_PICTURE[:40])


def test_types_without_a_decoder(decoded_file):
    with pytest.raises(varnel.UnsupportedError, match="type not supported"):
        decoded_file.resources[b"TEXT", 128].decode()


def test_encode_is_the_inverse_of_decode(decoded_file):
    icon = decoded_file.resources[b"ICN#", 128].decode()
    assert varnel.encode_resource(b"ICN#", icon) == decoded_file.resources[b"ICN#", 128].data
    cursor = varnel.Image(16, 16, decoded_file.resources[b"CURS", 128].decode().rgba, (3, 5))
    data = varnel.encode_resource(b"CURS", cursor)
    assert data[64:68] == bytes.fromhex("0005 0003")
    grey = varnel.Image(32, 32, bytes([0x80, 0x80, 0x80, 0xFF]) * 1024)
    with pytest.raises(varnel.ArgumentError, match="808080"):
        varnel.encode_resource(b"ICN#", grey, exact=True)
    assert varnel.encode_resource(b"icl8", grey)  # the nearest colour otherwise


def test_images_to_and_from_pillow(decoded_file):
    Image = pillow()
    picture = decoded_file.resources[b"PICT", 128].decode().to_pillow()
    assert picture.mode == "RGBA" and picture.size == (60, 16)
    assert picture.getpixel((0, 0)) == (255, 255, 255, 255)
    assert picture.getpixel((2, 0)) == (0, 0, 0, 255)
    cursor = decoded_file.resources[b"CURS", 128].decode().to_pillow()
    assert cursor.info["hot-spot"] == "3,5"
    back = varnel.Image.from_pillow(Image.new("L", (4, 2), 0))
    assert back.size == (4, 2) and back.rgba == bytes([0, 0, 0, 255]) * 8


def test_image_checks_its_size():
    with pytest.raises(varnel.ArgumentError, match="take 64 bytes"):
        varnel.Image(4, 4, bytes(10))
    with pytest.raises(IndexError):
        varnel.Image(1, 1, bytes(4)).pixel(1, 0)
