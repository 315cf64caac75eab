#!/usr/bin/env python3
"""Writes the hostile picture files beside this script.

Each file is small and broken (or extreme) in one way. The ones in this
folder must end in a clean failure or a correct picture inside the program;
the ones in slow/ make a decoding library run until the decoder process is ended:
the program survives them, but each takes up to half a minute, too long for the
test suite.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def le16(*values):
    return b"".join(struct.pack("<H", v & 0xFFFF) for v in values)


def le32(*values):
    return b"".join(struct.pack("<I", v & 0xFFFFFFFF) for v in values)


# ---- metafiles ---------------------------------------------------------------

def record(function, *words, raw=b""):
    body = le16(*words) + raw
    assert len(body) % 2 == 0
    return le32(3 + len(body) // 2) + le16(function) + body


def metafile(records, objects=4, width=1000, height=500, inch=1000, max_record=None, placeable=True):
    records = records + [record(0x0000)]
    body = b"".join(records)
    largest = max(len(r) // 2 for r in records) if max_record is None else max_record
    header = le16(1, 9, 0x0300) + le32((18 + len(body)) // 2) + le16(objects) + le32(largest) + le16(0)
    if not placeable:
        return header + body
    place = le32(0x9AC6CDD7) + le16(0, 0, 0, width, height, inch) + le32(0)
    checksum = 0
    for i in range(0, 20, 2):
        checksum ^= struct.unpack_from("<H", place, i)[0]
    return place + le16(checksum) + header + body


WINDOW = [record(0x020B, 0, 0), record(0x020C, 500, 1000)]  # SetWindowOrg, SetWindowExt
RED_BRUSH = record(0x02FC, 0, 0x00FF, 0x0000, 0)             # CreateBrushIndirect: solid red
NULL_PEN = record(0x02FA, 5, 0, 0, 0, 0)                     # CreatePenIndirect: PS_NULL
RECTANGLE = record(0x041B, 375, 750, 125, 250)               # Rectangle(bottom, right, top, left)


def dib(width, height, bits, header_size=40, compression=0, pixels=None):
    """A packed bitmap: info header, then rows (no colour table for 24 bits)."""
    if header_size == 40:
        info = le32(40, width, height) + le16(1, bits) + le32(compression, 0, 0, 0, 0, 0)
    else:
        info = le32(header_size) + b"\0" * max(0, min(header_size, 40) - 4)
    stride = (width * bits + 31) // 32 * 4
    if pixels is None:
        pixels = b"\x40" * (stride * height)
    return info + pixels


def stretch_dib(bitmap, width=100, height=50):
    # StretchDIB: raster op (SRCCOPY), colour usage, source h, w, y, x, destination h, w, y, x, bitmap
    words = [0x0020, 0x00CC, 0, height, width, 0, 0, 250, 500, 125, 250]
    return record(0x0F43, *words, raw=bitmap)


def text_out(text=b"Hi"):
    # TextOut: length, string (padded to words), y, x
    padded = text + (b"\0" if len(text) % 2 else b"")
    return le32(3 + 1 + len(padded) // 2 + 2) + le16(0x0521) + le16(len(text)) + padded + le16(100, 100)


def font(height=40):
    face = b"Sans\0".ljust(32, b"\0")
    # CreateFontIndirect: height, width, escapement, orientation, weight, then bytes
    return record(0x02FB, height, 0, 0, 0, 400, raw=bytes([0, 0, 0, 0, 0, 0, 0, 0]) + face)


def dib_pattern_brush(side=8):
    return record(0x0142, 5, 0, raw=dib(side, side, 24))  # style BS_DIBPATTERNPT, DIB_RGB_COLORS


def wide_pen(width):
    return record(0x02FA, 0, width, 0, 0x00FF, 0)  # solid, width, colour


# ---- raster formats ------------------------------------------------------------

def bmp(width, height, bits=24, rows=None, compression=0, palette=b""):
    stride = (width * bits + 31) // 32 * 4
    pixels = bytes((x * 7 + y * 13) & 0xFF for y in range(height) for x in range(stride)) if rows is None else rows
    offset = 14 + 40 + len(palette)
    info = le32(40, width, height) + le16(1, bits) + le32(compression, len(pixels), 2835, 2835, len(palette) // 4, 0)
    return b"BM" + le32(offset + len(pixels), 0, offset) + info + palette + pixels


def bmp_palette_past_the_end():
    """An 8-bit bitmap whose rows start right after its header, as its offset says, and
    whose 256 colours would run from there past the file's end."""
    rows = bytes(range(256))
    info = le32(40, 16, 16) + le16(1, 8) + le32(0, len(rows), 2835, 2835, 256, 0)
    return b"BM" + le32(54 + len(rows), 0, 54) + info + rows


def lzw(pixels):
    """GIF image data giving `pixels` pixels of index 0, LZW-compressed as encoders write it."""
    clear, end = 4, 5  # code size 2
    width, following, table, codes = 3, 6, {}, []

    def put(code):
        nonlocal width
        codes.append((code, width))
        if following >= 1 << width and width < 12:
            width += 1

    put(clear)
    prefix = 0
    for _ in range(pixels - 1):
        if (prefix, 0) in table:
            prefix = table[(prefix, 0)]
            continue
        put(prefix)
        assert following < 4095, "no clear code is written"
        table[(prefix, 0)] = following
        following += 1
        prefix = 0
    put(prefix)
    codes.append((end, width))
    value = bits = 0
    for code, size in codes:
        value |= code << bits
        bits += size
    packed = value.to_bytes((bits + 7) // 8, "little")
    blocks = b"".join(bytes([len(packed[i:i + 255])]) + packed[i:i + 255] for i in range(0, len(packed), 255))
    return bytes([2]) + blocks + b"\0"


def gif(screen_w, screen_h, frame_w=1, frame_h=1, pixels=1):
    return (b"GIF89a" + le16(screen_w, screen_h) + bytes([0x80, 0, 0]) + bytes([0, 0, 0, 255, 255, 255])
            + b"\x2C" + le16(0, 0, frame_w, frame_h) + b"\0" + lzw(pixels) + b"\x3B")


def icon(entries, declared=None, images=None):
    """entries: (side, bytes, offset) of each image; the images are appended as given."""
    out = le16(0, 1, len(entries) if declared is None else declared)
    for side, size, offset in entries:
        out += bytes([side & 0xFF, side & 0xFF, 0, 0]) + le16(1, 32) + le32(size, offset)
    return out + (images or b"")


def icon_image(side):
    header = le32(40, side, side * 2) + le16(1, 32) + le32(0, 0, 0, 0, 0, 0)
    return header + b"\x20\x80\xC0\xFF" * side * side + b"\0" * ((side + 31) // 32 * 4 * side)


def tiff_palette(width, height):
    """An 8-bit palette TIFF whose colour map lies after its pixels."""
    pixels = bytes((x + y) & 0xFF for y in range(height) for x in range(width))
    pixel_at = 8
    ifd_at = pixel_at + len(pixels) + (len(pixels) & 1)
    entries = 10
    cmap_at = ifd_at + 2 + entries * 12 + 4
    def entry(tag, typ, count, value):
        return le16(tag, typ) + le32(count) + (le16(value, 0) if typ == 3 and count == 1 else le32(value))
    ifd = le16(entries) + b"".join([
        entry(256, 3, 1, width), entry(257, 3, 1, height), entry(258, 3, 1, 8), entry(259, 3, 1, 1),
        entry(262, 3, 1, 3), entry(273, 4, 1, pixel_at), entry(277, 3, 1, 1), entry(278, 3, 1, height),
        entry(279, 4, 1, len(pixels)), entry(320, 3, 768, cmap_at)]) + le32(0)
    cmap = le16(*[i * 257 for i in range(256)]) + le16(*[(255 - i) * 257 for i in range(256)]) + le16(*[0x8000] * 256)
    data = b"II*\0" + le32(ifd_at) + pixels + b"\0" * (ifd_at - pixel_at - len(pixels)) + ifd + cmap
    return data


def png_claiming(width, height):
    import zlib
    def chunk(kind, data):
        return le32_be(len(data)) + kind + data + le32_be(zlib.crc32(kind + data))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", b"\x78\x9c\xff\xff\xff") + chunk(b"IEND", b"")


def webp_animation(canvas_w, canvas_h, frame_w=1, frame_h=1):
    """An animated WebP whose extended header claims a canvas its one frame does not fill."""
    def chunk(kind, data):
        return kind + le32(len(data)) + data + (b"\0" if len(data) % 2 else b"")
    def le24(v):
        return struct.pack("<I", v & 0xFFFFFF)[:3]
    # A lossless 1 x 1 frame: signature, sides less one, no transforms, one green literal.
    frame = chunk(b"VP8L", b"\x2f" + struct.pack("<I", ((frame_h - 1) << 14) | (frame_w - 1))
                  + b"\x00\x00\x00\x00\x00")
    anmf = chunk(b"ANMF", le24(0) + le24(0) + le24(frame_w - 1) + le24(frame_h - 1) + le24(100) + b"\0" + frame)
    body = b"WEBP" + chunk(b"VP8X", b"\x02\0\0\0" + le24(canvas_w - 1) + le24(canvas_h - 1)) \
        + chunk(b"ANIM", le32(0) + le16(0)) + anmf
    return b"RIFF" + le32(len(body)) + body


def le32_be(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def jpeg_without_scan_data(width, height):
    """The fuzz seed JPEG with its frame resized and its scan data gone: the
    scan header is followed at once by the end-of-image marker."""
    with open(os.path.join(HERE, "..", "..", "fuzz", "corpus", "jpeg_scan", "baseline.jpg"), "rb") as f:
        data = bytearray(f.read())
    pos, out = 2, bytearray(data[:2])
    while pos < len(data):
        marker = data[pos + 1]
        length = struct.unpack_from(">H", data, pos + 2)[0]
        segment = bytearray(data[pos:pos + 2 + length])
        if marker == 0xC0:
            struct.pack_into(">HH", segment, 5, height, width)
        out += segment
        if marker == 0xDA:
            return bytes(out + b"\xFF\xD9")
        pos += 2 + length
    raise ValueError("no scan in the seed")


# ---- camera raw files -----------------------------------------------------------

# A DNG the tests' own writer made (tests/dng_pictures.h), little-endian, its directory
# before its photosites; the raw files below are it, damaged in one way each.
RAW_SEED = os.path.join(HERE, "..", "..", "fuzz", "corpus", "raw_decode", "directory-first.dng")


def raw_seed():
    with open(RAW_SEED, "rb") as f:
        return f.read()


def dng_patched(changes):
    """The seed with entries of its directory changed: tag -> (count or None, value)."""
    data = bytearray(raw_seed())
    directory = struct.unpack_from("<I", data, 4)[0]
    for i in range(struct.unpack_from("<H", data, directory)[0]):
        entry = directory + 2 + 12 * i
        tag, kind = struct.unpack_from("<HH", data, entry)
        if tag not in changes:
            continue
        count, value = changes[tag]
        if count is not None:
            struct.pack_into("<I", data, entry + 4, count)
        if value is not None:
            if kind == 3:
                struct.pack_into("<H", data, entry + 8, value)
            else:
                struct.pack_into("<I", data, entry + 8, value)
    return bytes(data)


def dng_cut_in_its_last_directory():
    """The preview-first seed (the photosites' directory last, in a sub-directory of the
    preview's) cut inside that directory's next-directory offset: LibRaw reads the
    directory, our walker does not (it ends past the file), and so claims only the preview."""
    with open(os.path.join(os.path.dirname(RAW_SEED), "preview-turned.dng"), "rb") as f:
        data = f.read()
    first = struct.unpack_from("<I", data, 4)[0]
    for i in range(struct.unpack_from("<H", data, first)[0]):
        tag, _, _, value = struct.unpack_from("<HHII", data, first + 2 + 12 * i)
        if tag == 330:
            return data[:value + 2 + 12 * struct.unpack_from("<H", data, value)[0] + 2]
    raise ValueError("the seed has no sub-directory")


IMAGE_WIDTH, IMAGE_LENGTH, BITS_PER_SAMPLE, COMPRESSION, ORIENTATION, STRIP_OFFSETS = 256, 257, 258, 259, 274, 273
CFA_PATTERN, BLACK_LEVEL, WHITE_LEVEL = 0x828E, 0xC61A, 0xC61D


FILES = {
    # No scan data, yet an end marker: refused at once rather than a 4 GB grey picture.
    "jpeg-32768-square-without-scan-data.jpg": jpeg_without_scan_data(32768, 32768),
    # Raster files cut short, or claiming what they do not hold.
    "bitmap-cut-in-its-rows.bmp": bmp(64, 48)[:54 + 64 * 3 * 20],
    "bitmap-cut-in-its-palette.bmp": bmp(16, 16, 8, palette=b"\x10\x20\x30\x00" * 256)[:54 + 400],
    "bitmap-palette-past-the-end.bmp": bmp_palette_past_the_end(),
    "bitmap-rle-cut.bmp": bmp(64, 8, 8, rows=(b"\x40\x07\x00\x00" * 8 + b"\x00\x01")[:14], compression=1,
                              palette=b"\x10\x20\x30\x00" * 256),
    "bitmap-claims-largest-picture.bmp": bmp(32768, 32768, rows=b"\x7f" * 300),
    "bitmap-claims-too-large.bmp": bmp(40000, 40000, rows=b"\x7f" * 300),
    "palette-tiff-cut-in-its-colours.tiff": tiff_palette(40, 30)[:8 + 1200 + 2 + 120 + 4 + 600],
    "gif-claims-huge-canvas.gif": gif(65535, 65535),
    # Its codes give the frame's pixels up to the last on the canvas, and no further.
    "gif-frame-past-its-canvas.gif": gif(4, 4, 30000, 30000, pixels=3 * 30000 + 4),
    "gif-canvas-32768-square.gif": gif(32768, 32768),
    "icon-claims-65535-entries.ico": icon([(16, 40 + 16 * 16 * 4 + 64, 22)], declared=65535, images=icon_image(16)),
    "icon-directory-points-past-the-end.ico": icon([(16, 1128, 0x7FFFFFF0), (32, 0xFFFFFF, 38)],
                                                   images=icon_image(4)),
    "png-claims-huge-picture.png": png_claiming(30000, 30000),
    # A few bytes asking for gigabytes: a canvas no frame fills, an icon whose one entry
    # claims a picture its bytes cannot hold, a drawing declared at 3 units per inch.
    "webp-animation-canvas-16777215-tall.webp": webp_animation(32, 16777215),
    "webp-animation-canvas-30000-square.webp": webp_animation(30000, 30000),
    "icon-png-entry-claims-30000-square.ico": icon([(0, 57, 22)], images=png_claiming(30000, 30000)),
    "metafile-3-units-per-inch.wmf": metafile(WINDOW + [RED_BRUSH, RECTANGLE], width=1000, height=800, inch=3),
    "metafile-32767-square.wmf": metafile([record(0x020B, 0, 0), record(0x020C, 32767, 32767)],
                                          width=32767, height=32767, inch=96),
    # Metafiles our own record walk refuses before the library plays them.
    "metafile-text-without-font.wmf": metafile(WINDOW + [text_out()]),
    "metafile-bitmap-header-size-0.wmf": metafile(WINDOW + [stretch_dib(dib(0, 0, 0, header_size=0, pixels=b"\0" * 40))]),
    "metafile-bitmap-header-size-3.wmf": metafile(WINDOW + [stretch_dib(dib(0, 0, 0, header_size=3, pixels=b"\0" * 40))]),
    # An end record of five words, which the player skips, before the bitmap it spins on.
    "metafile-bitmap-behind-a-long-end-record.wmf": metafile(
        WINDOW + [record(0x0000, 0, 0), stretch_dib(dib(0, 0, 0, header_size=3, pixels=b"\0" * 40))]),
    "metafile-bitmap-claims-4-GB.wmf": metafile(WINDOW + [stretch_dib(dib(65535, 16384, 32, pixels=b"\0" * 64))]),
    "metafile-draws-with-deleted-pattern-brush.wmf": metafile(
        WINDOW + [dib_pattern_brush(), record(0x012D, 0), record(0x01F0, 0), RECTANGLE]),
    "metafile-text-with-deleted-font.wmf": metafile(
        WINDOW + [font(), record(0x012D, 0), record(0x01F0, 0), text_out()]),
    "metafile-largest-record-claims-8-GB.wmf": metafile(
        WINDOW + [RED_BRUSH, record(0x012D, 0), NULL_PEN, record(0x012D, 1), RECTANGLE], max_record=0xFFFFFFFF),
    "metafile-record-runs-past-the-end.wmf": metafile(WINDOW + [RED_BRUSH])[:-6] + le32(0x7FFFFFFF) + le16(0x041B),
    "metafile-select-outside-object-table.wmf": metafile(WINDOW + [record(0x012D, 60000), RECTANGLE], objects=0),
    # Camera raw files. Cut a byte short (which LibRaw alone does not notice), or in the
    # photosites; claiming a side over the largest, or more photosites than the file holds.
    "raw-cut-a-byte-short.dng": raw_seed()[:-1],
    "raw-cut-in-its-photosites.dng": raw_seed()[:len(raw_seed()) // 2],
    "raw-claims-60000-by-40000.dng": dng_patched({IMAGE_WIDTH: (None, 60000), IMAGE_LENGTH: (None, 40000)}),
    "raw-claims-more-than-its-file-holds.dng": dng_patched({IMAGE_WIDTH: (None, 4000), IMAGE_LENGTH: (None, 3000)}),
    "raw-photosites-past-the-end.dng": dng_patched({STRIP_OFFSETS: (None, 0x7FFFFF00)}),
    # LibRaw finds more photosites than our walker: refused, since the decoder's limits
    # were measured from what the walker found.
    "raw-cut-in-its-last-directory.dng": dng_cut_in_its_last_directory(),
    # Levels and layouts no camera writes.
    "raw-black-above-white.dng": dng_patched({WHITE_LEVEL: (None, 100)}),
    # White levels the photosites cannot reach load with none; depths no raw file stores
    # (LibRaw reads 0 as 12 and 7 as 7 of 16, and makes up levels the file does not hold)
    # are refused.
    "raw-white-level-0.dng": dng_patched({WHITE_LEVEL: (None, 0)}),
    "raw-white-level-4294967295.dng": dng_patched({WHITE_LEVEL: (None, 0xFFFFFFFF)}),
    "raw-bits-per-sample-0.dng": dng_patched({BITS_PER_SAMPLE: (None, 0)}),
    "raw-bits-per-sample-7.dng": dng_patched({BITS_PER_SAMPLE: (None, 7)}),
    "raw-black-levels-past-the-end.dng": dng_patched({BLACK_LEVEL: (None, 0x7FFFFFF0)}),
    "raw-orientation-9.dng": dng_patched({ORIENTATION: (None, 9)}),
    # Colour filter patterns that do not fit their own description, refused before LibRaw
    # reads them: a fourth colour where the planes name three (LibRaw takes such a colour
    # from memory it never set, differently each time), and 36 entries past the file's
    # end (LibRaw 0.20 crashes reading its directory).
    "raw-cfa-of-a-fourth-colour.dng": dng_patched({CFA_PATTERN: (None, 0x02030100)}),
    "raw-cfa-pattern-of-36-past-the-end.dng": dng_patched({CFA_PATTERN: (36, None)}),
    # Uncompressed photosites said to be lossless JPEG: LibRaw decodes their bytes as one
    # and makes up photosites the file does not hold; refused, since no strip starts as JPEG.
    "raw-lossless-jpeg-that-is-none.dng": dng_patched({COMPRESSION: (None, 7)}),
}

SLOW = {
    # A pen as wide as the picture: the library draws it for minutes.
    "metafile-wide-pen.wmf": metafile([record(0x020B, 0, 0), record(0x020C, 8000, 8000), wide_pen(32000),
                                       record(0x012D, 0)] + [record(0x0213, 8000 - i * 37, i * 41) for i in range(150)],
                                      width=8000, height=8000, inch=1000),
}


def main():
    for folder, files in ((HERE, FILES), (os.path.join(HERE, "slow"), SLOW)):
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
