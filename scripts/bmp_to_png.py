#!/usr/bin/env python3
"""Converts an uncompressed 24- or 32-bit BMP (as the window watcher saves them) to PNG.

Usage: bmp_to_png.py <input.bmp> <output.png>
Only the standard library is used: the PNG is one IDAT chunk of zlib-compressed RGB rows.
"""
import struct
import sys
import zlib


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError(f"{path}: not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if compression != 0 or bits not in (24, 32):
        raise ValueError(f"{path}: only uncompressed 24- or 32-bit BMPs are supported")
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        # Positive heights store the bottom row first.
        source = height - 1 - y if height > 0 else y
        start = offset + source * stride
        row = bytearray()
        for x in range(width):
            b, g, r = data[start + x * step:start + x * step + 3]
            row += bytes((r, g, b))
        rows.append(bytes(row))
    return width, abs(height), rows


def chunk(kind, payload):
    body = kind + payload
    return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, width, height, rows):
    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 on every row
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8-bit RGB
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    write_png(argv[2], *read_bmp(argv[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
