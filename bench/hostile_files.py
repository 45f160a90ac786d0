#!/usr/bin/env python3
"""Writes small hostile files into a folder: each claims far more work than its
bytes hold. hostile_bench.sh converts them one by one and measures the cost."""
import struct
import sys
import zlib
from pathlib import Path


def le16(*values):
    return struct.pack("<" + "H" * len(values), *values)


def le32(*values):
    return struct.pack("<" + "I" * len(values), *values)


def gif(width, height, data):
    """A GIF89a of one frame with a two-entry global table and the given LZW bytes."""
    out = b"GIF89a" + le16(width, height) + bytes([0x80, 0, 0]) + bytes(6)
    out += b"," + le16(0, 0, width, height) + bytes([0]) + bytes([2])
    out += bytes([len(data)]) + data + b"\0;"
    return out


def rle4_eol_flood(width, height, size):
    """An RLE4 BMP whose pixel data is nothing but end-of-line codes."""
    pixels = bytes(size)  # 00 00 pairs
    info = le32(40) + struct.pack("<ii", width, height) + le16(1, 4) + le32(2, len(pixels), 0, 0, 16, 0)
    palette = b"".join(bytes([i * 16, i * 16, i * 16, 0]) for i in range(16))
    offset = 14 + len(info) + len(palette)
    return b"BM" + le32(offset + len(pixels), 0, offset) + info + palette + pixels


def wmf_pen_flood(count):
    """A placeable WMF of count CreatePenIndirect records, one drawing at the end."""
    pen = le32(8) + le16(0x02FA, 0, 1, 0) + le32(0x0000FF)
    records = pen * count
    records += le32(7) + le16(0x041B, 10, 10, 0, 0)  # Rectangle
    records += le32(3) + le16(0)  # EOF
    header = le16(1, 9, 0x300) + le32((18 + len(records)) // 2) + le16(min(count, 65535)) + le32(8) + le16(0)
    placeable = le32(0x9AC6CDD7) + le16(0, 0, 0, 100, 100, 1440) + le32(0)
    checksum = 0
    for (word,) in struct.iter_unpack("<H", placeable[:20]):
        checksum ^= word
    return placeable + le16(checksum) + header + records


def bits_writer():
    out, acc, n = bytearray(), 0, 0

    def put(value, length):
        nonlocal acc, n
        for i in reversed(range(length)):
            acc = acc << 1 | (value >> i & 1)
            n += 1
            if n == 8:
                out.append(acc)
                if acc == 0xFF:
                    out.append(0)
                acc, n = 0, 0

    def flush():
        nonlocal acc, n
        if n:
            put((1 << (8 - n)) - 1, 8 - n)
        return bytes(out)

    return put, flush


def jpeg_scan_flood(width, height, scans):
    """A progressive gray JPEG: one DC scan, then scans of the first AC band
    over and over, each made of end-of-band runs only."""
    blocks = ((width + 7) // 8) * ((height + 7) // 8)
    out = b"\xff\xd8"
    out += b"\xff\xdb" + le16be(67) + bytes([0]) + bytes([1] * 64)
    out += b"\xff\xc2" + le16be(11) + bytes([8]) + le16be(height) + le16be(width) + bytes([1, 1, 0x11, 0])
    # DC table: one symbol, category 0. AC table: one symbol, EOB run of 2^14.
    out += b"\xff\xc4" + le16be(20) + bytes([0x00, 1] + [0] * 15 + [0x00])
    out += b"\xff\xc4" + le16be(20) + bytes([0x10, 1] + [0] * 15 + [0xE0])
    put, flush = bits_writer()
    for _ in range(blocks):
        put(0, 1)
    out += b"\xff\xda" + le16be(8) + bytes([1, 1, 0x00, 0, 0, 0]) + flush()
    ac = None
    for _ in range(scans):
        if ac is None:
            put, flush = bits_writer()
            left = blocks
            while left > 0:
                run = min(left, (1 << 15) - 1)
                put(0, 1)
                put(run - (1 << 14) if run >= (1 << 14) else 0, 14)
                left -= max(run, 1 << 14)
            ac = flush()
        out += b"\xff\xda" + le16be(8) + bytes([1, 1, 0x00, 1, 1, 0]) + ac
    return out + b"\xff\xd9"


def le16be(value):
    return struct.pack(">H", value)


def tiff(entries, strips, shared=1):
    """A little-endian TIFF: the IFD first, then the strips; with shared > 1 each
    strip stored is named by that many entries of the strip table in turn."""
    ifd_size = 2 + 12 * (len(entries) + 2) + 4
    at = 8 + ifd_size + 8 * len(strips) * shared
    offsets, counts = [], []
    for strip in strips:
        offsets += [at] * shared
        counts += [len(strip)] * shared
        at += len(strip)
    arrays = 8 + ifd_size
    fixed = dict(entries)
    fixed[273] = ("L", offsets)
    fixed[279] = ("L", counts)
    out = b"II" + le16(42) + le32(8) + le16(len(fixed))
    for tag in sorted(fixed):
        kind, value = fixed[tag]
        values = value if isinstance(value, list) else [value]
        if len(values) == 1:
            out += le16(tag, 3 if kind == "S" else 4) + le32(1) + (le16(values[0], 0) if kind == "S" else le32(values[0]))
        else:
            out += le16(tag, 4) + le32(len(values), arrays if tag == 273 else arrays + 4 * len(offsets))
    out += le32(0)
    out += le32(*offsets) + le32(*counts) if len(offsets) > 1 else b""
    return out + b"".join(strips)


def deflate_tiff_bomb(width, height, strips):
    """8-bit gray Deflate strips of zeros: each row costs a few bits of data."""
    rows = height // strips
    strip = zlib.compress(bytes(width * rows), 9)
    entries = {256: ("L", width), 257: ("L", height), 258: ("S", 8), 259: ("S", 8), 262: ("S", 1),
               277: ("S", 1), 278: ("L", rows)}
    return tiff(entries, [strip] * strips)


def deflate_tiff_shared(width, height):
    """Every strip names the same compressed range (one row of zeros per strip)."""
    strip = zlib.compress(bytes(width * 16), 9)
    entries = {256: ("L", width), 257: ("L", height), 258: ("S", 8), 259: ("S", 8), 262: ("S", 1),
               277: ("S", 1), 278: ("L", 16)}
    return tiff(entries, [strip], height // 16)


def tiff_no_length():
    """No ImageLength, one LZW strip, RowsPerStrip 16: the single-strip path."""
    entries = {256: ("L", 4), 258: ("S", 8), 259: ("S", 5), 262: ("S", 1), 277: ("S", 1), 278: ("L", 16)}
    return tiff(entries, [bytes([0x80, 0x00, 0x20, 0x00])])


def main():
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else "hostile")
    folder.mkdir(parents=True, exist_ok=True)
    files = {
        "short-huge-frame.gif": gif(19862, 30489, bytes([0x84, 0x8F, 0xA9, 0xCB, 0xED, 0x0F])),
        "300mpx-frame.gif": gif(20000, 15000, bytes([0x44, 0x01])),
        "rle4-eol-flood.bmp": rle4_eol_flood(20000, 30000, 200_000),
        "pen-flood.wmf": wmf_pen_flood(200_000),
        "scan-flood.jpg": jpeg_scan_flood(2048, 2048, 30_000),
        "deflate-bomb.tif": deflate_tiff_bomb(32000, 32000, 64),
        "deflate-shared-strips.tif": deflate_tiff_shared(8192, 32768),
        "no-length-lzw.tif": tiff_no_length(),
    }
    for name, data in files.items():
        (folder / name).write_bytes(data)
        print(f"{name}\t{len(data)}")


if __name__ == "__main__":
    main()
