"""Pixels: what the decoders draw and what the icon encoder takes."""
from __future__ import annotations

import ctypes
from typing import Any, Dict, Optional, Tuple

from . import _library as L
from . import errors


class Image:
    """An image of ``width`` x ``height`` pixels, 4 bytes each (red, green,
    blue, alpha; straight alpha), rows top first, in ``rgba``.  ``hot_spot``
    is a cursor's hot spot (x, y), (0, 0) for everything else.  ``notes``
    names what a picture left undrawn ("" when everything was drawn)."""

    __slots__ = ("width", "height", "rgba", "hot_spot", "notes")

    def __init__(self, width: int, height: int, rgba: bytes,
                 hot_spot: Tuple[int, int] = (0, 0), notes: str = "") -> None:
        if width < 1 or height < 1:
            raise errors.ArgumentError(f"an image of {width} x {height} pixels is empty")
        rgba = bytes(rgba)
        if len(rgba) != width * height * 4:
            raise errors.ArgumentError(
                f"{width} x {height} RGBA pixels take {width * height * 4} bytes, not {len(rgba)}")
        self.width = width
        self.height = height
        self.rgba = rgba
        self.hot_spot = hot_spot
        self.notes = notes

    @property
    def size(self) -> Tuple[int, int]:
        return (self.width, self.height)

    def pixel(self, x: int, y: int) -> Tuple[int, int, int, int]:
        """The (red, green, blue, alpha) of one pixel."""
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise IndexError(f"pixel ({x}, {y}) is outside {self.width} x {self.height}")
        at = (y * self.width + x) * 4
        return tuple(self.rgba[at:at + 4])  # type: ignore[return-value]

    def to_pillow(self) -> Any:
        """A Pillow image in mode RGBA (needs Pillow: python3-pil on Debian)."""
        try:
            from PIL import Image as PillowImage
        except ImportError as missing:
            raise ImportError("to_pillow() needs Pillow (Debian: apt-get install python3-pil)") \
                from missing
        image = PillowImage.frombytes("RGBA", (self.width, self.height), self.rgba)
        if self.hot_spot != (0, 0):
            image.info["hot-spot"] = f"{self.hot_spot[0]},{self.hot_spot[1]}"
        return image

    @classmethod
    def from_pillow(cls, image: Any, hot_spot: Tuple[int, int] = (0, 0)) -> "Image":
        """The pixels of a Pillow image (converted to RGBA)."""
        rgba = image.convert("RGBA")
        return cls(rgba.width, rgba.height, rgba.tobytes(), hot_spot)

    def png(self, compression: str = "fast", texts: Optional[Dict[str, str]] = None) -> bytes:
        """The image as a PNG file, as the library writes it for every host
        (the tool's render and thumbnail commands included): RGB when every
        pixel is opaque, else RGBA, or indexed at "fast" when the image has
        at most 256 distinct pixels; "best" takes libpng's defaults.
        `texts` become text chunks (keywords of 1 to 79 Latin-1 characters)
        ahead of the image data."""
        return encode_png(self, compression, texts or {})

    def __repr__(self) -> str:
        hot = f", hot_spot={self.hot_spot}" if self.hot_spot != (0, 0) else ""
        return f"<varnel.Image {self.width} x {self.height}{hot}>"

    def __eq__(self, other: object) -> bool:
        return (isinstance(other, Image) and self.size == other.size and self.rgba == other.rgba
                and self.hot_spot == other.hot_spot)

    __hash__ = None  # type: ignore[assignment]


class Thumbnail(Image):
    """A thumbnail (MacFile.thumbnail, varnel.thumbnail): an Image of at most
    size x size pixels, with ``shows``, what it shows ("custom icon",
    "bundle icon", "largest picture", "document icon", "application icon"
    or "PICT file"), and ``resource``, the (type, id) the Finder's rules
    chose, or None.  ``notes`` names what of the resource was left undrawn,
    or, when the library's own icon stands in for it, why it could not be
    drawn."""

    __slots__ = ("shows", "resource")

    def __init__(self, image: Image, shows: str, resource: Optional[Tuple[bytes, int]]) -> None:
        super().__init__(image.width, image.height, image.rgba, image.hot_spot, image.notes)
        self.shows = shows
        self.resource = resource

    def __repr__(self) -> str:
        return f"<varnel.Thumbnail {self.width} x {self.height}, {self.shows}>"


# What a thumbnail shows, by the library's MACBIN_THUMBNAIL_* numbers.
THUMBNAIL_SHOWS = {1: "custom icon", 2: "bundle icon", 3: "largest picture", 4: "document icon",
                   5: "application icon", 6: "PICT file"}
THUMBNAIL_MIN_SIZE = 16
THUMBNAIL_MAX_SIZE = 1024
# The bytes of a file that tell a PICT file (MACBIN_PICT_FILE_PROBE_BYTES).
PICT_FILE_PROBE_BYTES = 526


def check_thumbnail_size(size: int) -> None:
    if not THUMBNAIL_MIN_SIZE <= size <= THUMBNAIL_MAX_SIZE:
        raise errors.ArgumentError(
            f"a thumbnail's size must be from {THUMBNAIL_MIN_SIZE} to {THUMBNAIL_MAX_SIZE}, not {size}",
            None, errors.ERR_ARGUMENT)


def take_thumbnail(pixels: L.Pixels, about: L.Thumbnail) -> Thumbnail:
    """A Thumbnail from what MacBin_DrawThumbnail filled; the pixels are freed."""
    notes = L.from_mac_roman(about.note)
    resource = (bytes(about.type[:4]).ljust(4, b"\0"), about.id) if about.rule > 0 else None
    return Thumbnail(take_pixels(pixels, notes), THUMBNAIL_SHOWS.get(about.drawn, str(about.drawn)),
                     resource)


def is_pict_file(data: bytes) -> bool:
    """Whether these bytes (a file's first PICT_FILE_PROBE_BYTES are enough)
    are a PICT file: a picture after a 512-byte header, or from the first byte."""
    data = bytes(data[:PICT_FILE_PROBE_BYTES])
    return L.FindPictFilePicture(data, len(data)) >= 0


def pict_file_thumbnail(data: bytes, size: int = 128, path: Optional[str] = None) -> Thumbnail:
    """The thumbnail of a PICT file's bytes (header and all): its picture at
    its own size when it fits size x size, else reduced keeping its shape.
    ArgumentError for bytes that are no PICT file, DamagedError (or
    LimitError) for a picture that cannot be drawn."""
    check_thumbnail_size(size)
    data = bytes(data)
    if len(data) > 0x7FFFFFFF:
        raise errors.LimitError("a PICT file past 2 GiB", path)
    pixels = L.Pixels()
    about = L.Thumbnail()
    with L.gate:
        result = L.DrawPictFileThumbnail(data, len(data), size, ctypes.byref(pixels),
                                         ctypes.byref(about))
    L.take_messages()
    if result < 0:
        reason = about.note.decode("utf-8", "replace")
        if reason == "not a PICT file":
            raise errors.ArgumentError(reason, path, errors.ERR_ARGUMENT)
        raise decode_failure(reason, path)
    return take_thumbnail(pixels, about)


def as_image(pixels: Any, size: Optional[Tuple[int, int]] = None) -> Image:
    """An Image from an Image, a Pillow image, or RGBA bytes (with `size`, or
    square when it is left out)."""
    if isinstance(pixels, Image):
        return pixels
    if isinstance(pixels, (bytes, bytearray, memoryview)):
        data = bytes(pixels)
        if size is None:
            side = int(round((len(data) // 4) ** 0.5))
            if side * side * 4 != len(data):
                raise errors.ArgumentError(
                    f"{len(data)} bytes of RGBA pixels are no square image: give size=(width, height)")
            size = (side, side)
        return Image(size[0], size[1], data)
    if hasattr(pixels, "convert") and hasattr(pixels, "tobytes"):
        return Image.from_pillow(pixels)
    raise TypeError(f"pixels must be a varnel.Image, a Pillow image or RGBA bytes, "
                    f"not {type(pixels).__name__}")


def take_pixels(pixels: L.Pixels, notes: str = "") -> Image:
    """An Image from pixels the library allocated, which are freed."""
    try:
        count = pixels.width * pixels.height * 4
        rgba = ctypes.string_at(pixels.rgba, count)
        return Image(pixels.width, pixels.height, rgba, (pixels.hot_x, pixels.hot_y), notes)
    finally:
        L.FreePixels(ctypes.byref(pixels))


def decode_failure(reason: str, path: Optional[str]) -> errors.Error:
    """The exception for a reason the decoders give."""
    if "not supported" in reason or "unknown decompressor" in reason:
        return errors.UnsupportedError(reason, path, errors.ERR_UNSUPPORTED)
    if "memory limit" in reason or "limit" in reason:
        return errors.LimitError(reason, path, errors.ERR_LIMIT)
    return errors.DamagedError(reason, path, errors.ERR_DAMAGED)


def decode_picture(data: bytes) -> Image:
    """Draws a QuickDraw picture (version 1, 2 or extended 2): the data of a
    PICT resource, or a PICT file's bytes after its 512-byte header.
    ``Image.notes`` names what was left undrawn."""
    data = bytes(data)
    if len(data) > 0x7FFFFFFF:
        raise errors.LimitError("a picture past 2 GiB")
    pixels = L.Pixels()
    reason = ctypes.create_string_buffer(128)
    with L.gate:
        ok = L.DecodePicture(data, len(data), ctypes.byref(pixels), reason)
    L.take_messages()
    text = reason.value.decode("utf-8", "replace")
    if ok != 1:
        raise decode_failure(text or "the picture cannot be read", None)
    return take_pixels(pixels, text)


ENCODE_NEAREST = 0
ENCODE_EXACT = 1


def encode_resource(type_code: bytes, image: Image, exact: bool = False) -> bytes:
    """The data of an icon resource of `type_code` (ICN#, ICON, SICN, ics#,
    icm#, kcs#, icl4, icl8, ics4, ics8, icm4, icm8, kcs4, kcs8, CURS, cicn)
    made from `image`: the inverse of decoding.  With exact=True a colour
    outside the type's table is refused instead of taking the nearest."""
    rgba = ctypes.create_string_buffer(image.rgba, len(image.rgba))
    pixels = L.Pixels(image.width, image.height, image.hot_spot[0], image.hot_spot[1],
                      ctypes.cast(rgba, ctypes.POINTER(ctypes.c_uint8)))
    reason = ctypes.create_string_buffer(128)
    flags = ENCODE_EXACT if exact else ENCODE_NEAREST
    code = bytes(type_code) + b"\0"
    length = L.EncodeResource(code, ctypes.byref(pixels), flags, None, 0, reason)
    if length < 0:
        raise errors.ArgumentError(reason.value.decode("utf-8", "replace"), None,
                                   errors.ERR_ARGUMENT)
    out = ctypes.create_string_buffer(max(length, 1))
    L.EncodeResource(code, ctypes.byref(pixels), flags, out, length, reason)
    return out.raw[:length]


PNG_COMPRESSIONS = {"fast": 0, "best": 1}


def encode_png(image: Image, compression: str, texts: Dict[str, str]) -> bytes:
    if compression not in PNG_COMPRESSIONS:
        raise errors.ArgumentError(f"compression is 'fast' or 'best', not {compression!r}")
    rgba = ctypes.create_string_buffer(image.rgba, len(image.rgba))
    pixels = L.Pixels(image.width, image.height, image.hot_spot[0], image.hot_spot[1],
                      ctypes.cast(rgba, ctypes.POINTER(ctypes.c_uint8)))
    try:
        encoded = [(k.encode("latin-1"), v.encode("latin-1")) for k, v in texts.items()]
    except UnicodeEncodeError as wrong:
        raise errors.ArgumentError(f"PNG texts are Latin-1: {wrong}") from None
    keys = (ctypes.c_char_p * max(len(encoded), 1))(*[k for k, _ in encoded])
    values = (ctypes.c_char_p * max(len(encoded), 1))(*[v for _, v in encoded])
    options = L.PNGOptions(PNG_COMPRESSIONS[compression], len(texts), keys, values, L.PNGRows(), None)
    out = bytearray()

    def take(data: Any, length: int, _context: Any) -> int:
        out.extend(ctypes.string_at(data, length))
        return 0

    sink = L.PNGSink(take)
    L.ClearError()
    if L.EncodePNG(ctypes.byref(pixels), ctypes.byref(options), sink, None) != 1:
        L.raise_failure(None, "the PNG could not be encoded")
    return bytes(out)
