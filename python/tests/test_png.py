"""PNG files of images, as the library writes them for every host: the
pixels read back the same (through Pillow), the stored form follows the
image's colours and the setting, texts come along, and refusals raise."""
from __future__ import annotations

import io
import struct

import pytest

import varnel
from conftest import pillow


def chunks(png: bytes):
    """(type, data) of each chunk after the signature."""
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    at, out = 8, []
    while at < len(png):
        (length,) = struct.unpack(">I", png[at:at + 4])
        out.append((png[at + 4:at + 8], png[at + 8:at + 8 + length]))
        at += 12 + length
    return out


def colour_type(png: bytes) -> int:
    return chunks(png)[0][1][9]


def test_pixels_read_back_in_every_stored_form():
    Image = pillow()
    few = varnel.Image(2, 2, bytes([255, 0, 0, 255, 0, 0, 0, 0, 0, 255, 0, 255, 9, 9, 9, 128]))
    many = varnel.Image(20, 20, bytes(b for i in range(400) for b in (i % 256, i // 256, 7, 255)))
    for image, compression, stored in ((few, "fast", 3), (few, "best", 6), (many, "fast", 2),
                                       (many, "best", 2)):
        png = image.png(compression)
        assert colour_type(png) == stored, (compression, stored)
        read = Image.open(io.BytesIO(png)).convert("RGBA")
        assert read.tobytes() == image.rgba


def test_texts_come_ahead_of_the_image_data():
    image = varnel.Image(1, 1, bytes([1, 2, 3, 255]))
    png = image.png(texts={"Hot spot": "3,4"})
    types = [kind for kind, _ in chunks(png)]
    assert types.index(b"tEXt") < types.index(b"IDAT")
    assert dict(chunks(png))[b"tEXt"] == b"Hot spot\x003,4"


def test_refusals():
    image = varnel.Image(1, 1, bytes(4))
    with pytest.raises(varnel.ArgumentError):
        image.png("smallest")
    with pytest.raises(varnel.ArgumentError):
        image.png(texts={"Title": "\u20ac"})
