#!/usr/bin/env python3
"""Writes decode/builtin_fonts.cpp: the X11 misc-fixed fonts (public domain)
as FONT resources.  Usage: builtin_fonts.py > decode/builtin_fonts.cpp"""
import gzip, struct, sys
def load(path):
    d = gzip.open(path).read()
    assert d[:4] == b'\x01fcp'
    n = struct.unpack('<I', d[4:8])[0]
    toc = {}
    for i in range(n):
        t, f, s, o = struct.unpack('<IIII', d[8+16*i:24+16*i]); toc[t] = (f, s, o)
    def hdr(t):
        f, s, o = toc[t]
        fmt = struct.unpack('<I', d[o:o+4])[0]
        e = '>' if fmt & 4 else '<'
        return fmt, e, o + 4
    # metrics
    fmt, e, o = hdr(1 << 2)
    mets = []
    if fmt & 0x100:
        cnt = struct.unpack(e+'H', d[o:o+2])[0]; o += 2
        for i in range(cnt):
            l, r, w, a, de = [b - 0x80 for b in d[o:o+5]]; o += 5
            mets.append((l, r, w, a, de))
    else:
        cnt = struct.unpack(e+'I', d[o:o+4])[0]; o += 4
        for i in range(cnt):
            l, r, w, a, de, attr = struct.unpack(e+'hhhhhH', d[o:o+12]); o += 12
            mets.append((l, r, w, a, de))
    # bitmaps
    fmt, e, o = hdr(1 << 3)
    cnt = struct.unpack(e+'I', d[o:o+4])[0]; o += 4
    offs = struct.unpack(e+'%dI' % cnt, d[o:o+4*cnt]); o += 4*cnt
    sizes = struct.unpack(e+'4I', d[o:o+16]); o += 16
    pad = 1 << (fmt & 3); msb = bool(fmt & 8)
    bits = d[o:o+sizes[fmt & 3]]
    # encodings
    fmt2, e2, o2 = hdr(1 << 5)
    minc, maxc, minb, maxb, defc = struct.unpack(e2+'5H', d[o2:o2+10]); o2 += 10
    ncols = maxc - minc + 1; nrows = maxb - minb + 1
    idx = struct.unpack(e2+'%dH' % (ncols*nrows), d[o2:o2+2*ncols*nrows])
    # accelerators
    at = (1 << 8) if (1 << 8) in toc else (1 << 1)
    fmt3, e3, o3 = hdr(at)
    ascent, descent = struct.unpack(e3+'ii', d[o3+8:o3+16])
    glyphs = {}
    for code in range(32, 127):
        if minb != 0: continue
        if not (minc <= code <= maxc): continue
        gi = idx[code - minc]
        if gi == 0xFFFF: continue
        l, r, w, a, de = mets[gi]
        rowbytes = ((r - l + 7) // 8 + pad - 1) // pad * pad
        rows = []
        for y in range(a + de):
            row = bits[offs[gi] + y*rowbytes: offs[gi] + (y+1)*rowbytes]
            px = []
            for x in range(r - l):
                b = row[x // 8]
                bit = (b >> (7 - x % 8)) & 1 if msb else (b >> (x % 8)) & 1
                px.append(bit)
            rows.append(px)
        glyphs[code] = dict(left=l, right=r, width=w, ascent=a, descent=de, rows=rows)
    return ascent, descent, glyphs

def to_font(path):
    """A FONT resource (fontType 0x9000) of the glyphs 32-126."""
    ascent, descent, glyphs = load(path)
    first, last = 32, 126
    height = ascent + descent
    # Each glyph's image: columns from its left bearing... in a fixed font all
    # bearings are >= 0; image columns = the cell's width.
    cols = []
    loc = []; ow = []
    x = 0
    kern = min(0, min(g['left'] for g in glyphs.values()))
    widmax = max(g['width'] for g in glyphs.values())
    images = []
    for c in range(first, last + 2):
        loc.append(x)
        g = glyphs.get(c) if c <= last else None
        if c == last + 1:  # the missing glyph: an empty box
            w = widmax; img = [[1 if (yy in (1, height - 2) or xx in (0, w - 2)) and xx < w - 1 and 0 < yy < height - 1 else 0 for xx in range(w)] for yy in range(height)]
            images.append(img); x += w; ow.append((0 - kern) << 8 | w); continue
        if g is None:
            ow.append(0xFFFF); images.append(None); continue
        gw = g['right'] - g['left']
        img = [[0]*gw for _ in range(height)]
        for yy, row in enumerate(g['rows']):
            ty = ascent - g['ascent'] + yy
            if 0 <= ty < height:
                img[ty] = row[:]
        images.append(img); x += gw
        ow.append(((g['left'] - kern) << 8) | g['width'])
    loc.append(x)
    rowwords = (x + 15) // 16
    image = bytearray(rowwords * 2 * height)
    px = 0
    for img in images:
        if img is None: continue
        w = len(img[0]) if img and img[0] is not None else 0
        for yy in range(height):
            for xx in range(w):
                if img[yy][xx]:
                    bx = px + xx
                    image[yy * rowwords * 2 + bx // 8] |= 0x80 >> (bx % 8)
        px += w
    n = last - first + 3
    owtloc = (26 + len(image) + 2 * n - 16) // 2
    head = struct.pack('>13h', 0x9000 - 0x10000, first, last, widmax, kern, -descent, x, height, owtloc, ascent, descent, 0, rowwords)
    body = head + bytes(image) + struct.pack('>%dH' % n, *loc) + struct.pack('>%dH' % (n - 1), *ow) + struct.pack('>H', 0xFFFF)
    return body


FONTS = [('5x8', 8), ('6x13', 12), ('9x15', 14), ('10x20', 18)]

if __name__ == '__main__':
    # The head and the lookup function are kept in the committed file; this
    # prints the tables that go between them.
    for name, size in FONTS:
        data = to_font('/usr/share/fonts/X11/misc/%s.pcf.gz' % name)
        print('// misc-fixed %s, drawn for size %d.' % (name, size))
        print('constexpr std::array<uint8_t, %d> kFixed%s = {' % (len(data), name.replace('x', 'By')))
        for i in range(0, len(data), 16):
            print('    ' + ' '.join('0x%02X,' % v for v in data[i:i + 16]))
        print('};')
        print()
