"""Classic Macintosh files made by the tests themselves, from the formats'
descriptions and not from the library: resource forks, MacBinary I/II/III
headers, AppleSingle and AppleDouble, BinHex 4.0 text, compressed
resources.  What the library reads from them is checked against what was
put in."""
from __future__ import annotations

import binascii
import struct
from dataclasses import dataclass
from typing import List, Optional, Sequence



@dataclass
class Res:
    type: bytes
    id: int
    data: bytes
    name: Optional[bytes] = None  # MacRoman
    attributes: int = 0x20


def resource_fork(resources: Sequence[Res], map_attributes: int = 0) -> bytes:
    """A resource fork: 256-byte head (16 used), the data, the map.  Types in
    order of first appearance; references in the order given."""
    data = bytearray()
    offsets = []
    for res in resources:
        offsets.append(len(data))
        data += struct.pack(">I", len(res.data)) + res.data
    types: List[bytes] = []
    for res in resources:
        if res.type not in types:
            types.append(res.type)
    names = bytearray()
    type_list = bytearray(struct.pack(">H", (len(types) - 1) & 0xFFFF))
    refs = bytearray()
    ref_base = 2 + 8 * len(types)
    for type_code in types:
        members = [i for i, r in enumerate(resources) if r.type == type_code]
        type_list += type_code + struct.pack(">HH", len(members) - 1, ref_base + len(refs))
        for i in members:
            res = resources[i]
            name_offset = 0xFFFF
            if res.name is not None:
                name_offset = len(names)
                names += bytes([len(res.name)]) + res.name
            refs += struct.pack(">HH", res.id & 0xFFFF, name_offset)
            refs += bytes([res.attributes]) + offsets[i].to_bytes(3, "big") + bytes(4)
    map_length = 28 + len(type_list) + len(refs) + len(names)
    head = struct.pack(">IIII", 256, 256 + len(data), len(data), map_length)
    resource_map = head + bytes(4 + 2) + struct.pack(">HHH", map_attributes, 28,
                                                     28 + len(type_list) + len(refs))
    return head + bytes(240) + bytes(data) + resource_map + type_list + refs + names


def _pad128(data: bytes) -> bytes:
    return data + bytes(-len(data) % 128)


def macbinary(name: bytes, type_code: bytes, creator: bytes, data: bytes, rsrc: bytes,
              version: int = 2, flags: int = 0, created: int = 0, modified: int = 0) -> bytes:
    """MacBinary I (version 1), II (2) or III (3)."""
    header = bytearray(128)
    header[1] = len(name)
    header[2:2 + len(name)] = name
    header[65:69] = type_code
    header[69:73] = creator
    header[73] = flags >> 8
    struct.pack_into(">II", header, 83, len(data), len(rsrc))
    struct.pack_into(">II", header, 91, created, modified)
    if version >= 2:
        header[101] = flags & 0xFF
        if version == 3:
            header[102:106] = b"mBIN"
        header[122] = 130 if version == 3 else 129
        header[123] = 129
        struct.pack_into(">H", header, 124, binascii.crc_hqx(bytes(header[:124]), 0))
    return bytes(header) + _pad128(data) + _pad128(rsrc)


def finder_info(type_code: bytes, creator: bytes, flags: int) -> bytes:
    return type_code + creator + struct.pack(">H", flags) + bytes(22)


def apple_single(name: bytes, type_code: bytes, creator: bytes, data: Optional[bytes],
                 rsrc: bytes, flags: int = 0, created: int = 0, modified: int = 0,
                 double: bool = False, version: int = 0x00020000) -> bytes:
    """AppleSingle (or, double=True, an AppleDouble header file without the
    data fork) of version 2: real name, Finder info, dates, forks."""
    # AppleSingle dates: seconds from 2000-01-01, signed.
    to_2000 = lambda mac: (mac - 3029529600) if mac else -0x80000000  # noqa: E731
    dates = struct.pack(">iiii", to_2000(created), to_2000(modified), -0x80000000, -0x80000000)
    entries = [(3, name), (9, finder_info(type_code, creator, flags)), (8, dates)]
    if data is not None and not double:
        entries.append((1, data))
    entries.append((2, rsrc))
    magic = 0x00051607 if double else 0x00051600
    out = bytearray(struct.pack(">II", magic, version) + bytes(16) +
                    struct.pack(">H", len(entries)))
    offset = len(out) + 12 * len(entries)
    body = bytearray()
    for entry_id, payload in entries:
        out += struct.pack(">III", entry_id, offset + len(body), len(payload))
        body += payload
    return bytes(out + body)


_HQX = b"!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr"


def binhex(name: bytes, type_code: bytes, creator: bytes, data: bytes, rsrc: bytes,
           flags: int = 0) -> bytes:
    """BinHex 4.0 text: the header, both forks, each with its CRC; 0x90 sent
    as 0x90 0x00 and runs of 4 or more as byte 0x90 count."""
    header = bytes([len(name)]) + name + b"\0" + type_code + creator + \
        struct.pack(">HII", flags, len(data), len(rsrc))
    raw = bytearray()
    for part in (header, data, rsrc):
        raw += part + struct.pack(">H", binascii.crc_hqx(part, 0))
    coded = bytearray()
    at = 0
    while at < len(raw):
        byte = raw[at]
        run = 1
        while at + run < len(raw) and raw[at + run] == byte and run < 255:
            run += 1
        coded += b"\x90\x00" if byte == 0x90 else bytes([byte])
        if run >= 4:
            coded += bytes([0x90, run])
            at += run
        else:
            at += 1
    bits = "".join(f"{b:08b}" for b in coded)
    bits += "0" * (-len(bits) % 6)
    text = bytes(_HQX[int(bits[i:i + 6], 2)] for i in range(0, len(bits), 6))
    lines = [b":" + text[:63]] + [text[i:i + 64] for i in range(63, len(text), 64)]
    lines[-1] += b":"
    return b"(This file must be converted with BinHex 4.0)\r\n\r\n" + b"\r\n".join(lines) + b"\r\n"


def compressed(contents: bytes, version: int = 8, decompressor: int = 1) -> bytes:
    """A compressed resource: the 18-byte header and, for decompressor 1,
    literal runs of up to 16 bytes (codes 00-0F) and the end code FF."""
    header = bytes.fromhex("A89F6572 0012") + bytes([version, 0x01]) + \
        struct.pack(">I", len(contents))
    if version == 8:
        header += bytes([0x80, 0x00]) + struct.pack(">H", decompressor) + bytes(2)
    else:
        header += struct.pack(">H", decompressor) + bytes(4)
    stream = bytearray()
    for at in range(0, len(contents), 16):
        piece = contents[at:at + 16]
        stream += bytes([len(piece) - 1]) + piece
    return header + bytes(stream) + b"\xff"


def bits_to_bytes(rows: Sequence[str]) -> bytes:
    """Rows of '#' (set) and '.' (clear), 8 pixels a byte, leftmost in bit 7."""
    out = bytearray()
    for row in rows:
        for at in range(0, len(row), 8):
            out.append(int(row[at:at + 8].replace("#", "1").replace(".", "0"), 2))
    return bytes(out)


def large_resource_set(count: int = 3000) -> List[Res]:
    """Many resources of many types, as a System file holds them: negative
    and repeated IDs, names with MacRoman letters, every attribute bit, empty
    and large data, compressed ones."""
    resources = []
    types = [b"STR ", b"STR#", b"TEXT", b"ICN#", b"icl8", b"ics#", b"CODE", b"DRVR", b"snd ",
             b"PICT", b"MENU", b"DLOG", b"DITL", b"ALRT", b"WIND", b"CNTL", b"vers", b"FREF",
             b"BNDL", b"cicn", b"KCHR", b"itl0", b"FOND", b"NFNT", b"PAT#", b"CURS", b"crsr",
             b"clut", b"ppat", b"dctb", b"hmnu", b"ckid", b"MBAR", b"LDEF", b"WDEF", b"CDEF",
             b"PACK", b"INIT", b"cfrg", b"a b\xa5"]
    for index in range(count):
        type_code = types[index % len(types)]
        resource_id = (index * 37) % 65536 - 32768
        if index % 97 == 0:
            resource_id = ((index - 40) * 37) % 65536 - 32768  # a repeat of an earlier one
        size = (index * 131) % 700
        if index % 500 == 7:
            size = 70000 + index
        data = bytes((index + i * 7) & 0xFF for i in range(size))
        name = None
        if index % 3 == 0:
            name = b"Resource " + str(index).encode() + (b" caf\x8e" if index % 2 else b"")
        attributes = [0x00, 0x20, 0x08, 0x04 | 0x08, 0x10, 0x40, 0x02, 0x7E][index % 8]
        if index % 250 == 11:
            data = compressed(bytes(range(256)) * 3 + b"end", version=8 if index % 2 else 9)
            attributes |= 0x01
        resources.append(Res(type_code, resource_id, data, name, attributes))
    resources.append(Res(b"EMPT", 0, b"", b"empty"))
    return resources


# The README's vector picture (what follows the 512-byte header of a PICT
# file): shapes filled with patterns, a line and the text "QD".
VECTOR_PICTURE = bytes.fromhex(
    "0000 0000 0000 0010 003C 0011 02FF 0C00 FFFF FFFF" + "00" * 20 +
    "000B 0008 0008  0040 0000 0000 0010 003C  0051 0003 0003 000D 000D"
    "0009 AA55 AA55 AA55 AA55  0071 0016 0003 0010 000C 001C 000C 0010 0003 0016"
    "000C 001C  0009 FFFF FFFF FFFF FFFF  0007 0001 0002  0020 0003 001E 000C 0026"
    "000D 0008  0028 000B 002A 02 51 44  00 00FF")
