"""A small writer of image files for the variants the peer library cannot
write: PNG of any colour type and bit depth (with PLTE, tRNS and Adam7
interlacing), BMP of every bit count and layout (palettes, 16-bit masks,
32-bit with an alpha mask, both row orders) and big-endian TIFF strips.

Every writer takes the size and a function giving the samples of pixel
(x, y): a tuple of channel values at the file's bit depth, or a palette
index for palette images.
"""
import struct
import zlib

# --- PNG ----------------------------------------------------------------------

CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4),
         (1, 0, 2, 2), (0, 1, 1, 2)]


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def _pack_row(samples, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    out, acc, bits = bytearray(), 0, 0
    for s in samples:
        acc = (acc << depth) | s
        bits += depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


def png(path, width, height, color_type, depth, px, palette=None, trns=None,
        interlace=False):
    def rows(xs, ys):
        raw = bytearray()
        for y in ys:
            samples = []
            for x in xs:
                v = px(x, y)
                samples.extend(v if isinstance(v, tuple) else (v,))
            raw += b"\0" + _pack_row(samples, depth)
        return raw

    if interlace:
        raw = bytearray()
        for x0, y0, dx, dy in ADAM7:
            xs, ys = range(x0, width, dx), range(y0, height, dy)
            if len(xs) and len(ys):
                raw += rows(xs, ys)
    else:
        raw = rows(range(width), range(height))
    data = b"\x89PNG\r\n\x1a\n"
    data += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0,
                                        1 if interlace else 0))
    if palette:
        data += _chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    if trns is not None:
        data += _chunk(b"tRNS", trns)
    data += _chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + _chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


# --- BMP ------------------------------------------------------------------------

def bmp(path, width, height, bits, px, palette=None, masks=None, top_down=False,
        header=40):
    """masks: (r, g, b[, a]) bit fields for 16 and 32 bits (BI_BITFIELDS);
    None keeps the default layout (BI_RGB)."""
    stride = (width * bits + 31) // 32 * 4
    rows = []
    for y in range(height):
        row = bytearray()
        if bits <= 8:
            row += _pack_row([px(x, y) for x in range(width)], bits)
        elif bits == 24:
            for x in range(width):
                r, g, b = px(x, y)[:3]
                row += bytes((b, g, r))
        else:
            fields = masks or ((0x7C00, 0x3E0, 0x1F) if bits == 16 else (0xFF0000, 0xFF00, 0xFF))
            for x in range(width):
                v = 0
                for value, mask in zip(px(x, y), fields):
                    if mask:
                        shift = (mask & -mask).bit_length() - 1
                        v |= (value << shift) & mask
                row += struct.pack("<H" if bits == 16 else "<I", v)
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    if not top_down:
        rows.reverse()
    pixels = b"".join(rows)
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette) if palette else b""
    extra = b""
    compression = 0
    if masks:
        compression = 3
        if header == 40:
            extra = struct.pack("<III", *masks[:3])
    info = struct.pack("<iiHHIIiiII", width, -height if top_down else height, 1, bits,
                       compression, len(pixels), 2835, 2835,
                       len(palette) if palette else 0, 0)
    if header > 40:
        m = list(masks or (0, 0, 0)) + [0] * 4
        info += struct.pack("<IIII", *m[:4]) + b"BGRs" + b"\0" * (header - 60)
    dib = struct.pack("<I", header) + info + extra
    offset = 14 + len(dib) + len(colours)
    data = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + dib + colours + pixels
    with open(path, "wb") as f:
        f.write(data)


# --- TIFF, big-endian ------------------------------------------------------------

def tiff_mm(path, width, height, channels, px, alpha=False):
    """Uncompressed 8-bit strips: grey (1 channel) or RGB (3), an
    unassociated alpha sample after them when `alpha`."""
    spp = channels + (1 if alpha else 0)
    pixels = b"".join(bytes(px(x, y)) for y in range(height) for x in range(width))
    entries = []  # (tag, type, count, value bytes)

    def short(tag, *values):
        entries.append((tag, 3, len(values), b"".join(struct.pack(">H", v) for v in values)))

    def long(tag, value):
        entries.append((tag, 4, 1, struct.pack(">I", value)))

    long(256, width)
    long(257, height)
    short(258, *([8] * spp))
    short(259, 1)
    short(262, 2 if channels == 3 else 1)
    long(273, 0)  # strip offset, set below
    short(277, spp)
    long(278, height)
    long(279, len(pixels))
    short(284, 1)
    if alpha:
        short(338, 2)
    ifd_size = 2 + 12 * len(entries) + 4
    extra_at = 8 + ifd_size
    extra = bytearray()
    pixel_at = extra_at + sum(len(v) for _, _, _, v in entries if len(v) > 4)
    ifd = struct.pack(">H", len(entries))
    for tag, kind, count, value in entries:
        if tag == 273:
            value = struct.pack(">I", pixel_at)
        if len(value) > 4:
            ifd += struct.pack(">HHII", tag, kind, count, extra_at + len(extra))
            extra += value
        else:
            ifd += struct.pack(">HHI", tag, kind, count) + value.ljust(4, b"\0")
    ifd += struct.pack(">I", 0)
    data = b"MM\0*" + struct.pack(">I", 8) + ifd + bytes(extra) + pixels
    with open(path, "wb") as f:
        f.write(data)
