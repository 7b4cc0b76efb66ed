#!/usr/bin/env python3
"""Packs PNG images into one Windows icon file: an ICONDIR, one entry per
image, the PNG bytes as they are (Windows reads PNG entries since Vista).

usage: make_ico.py OUT.ico IMAGE.png...
"""
import struct
import sys


def png_size(data):
    if data[:8] != b'\x89PNG\r\n\x1a\n' or data[12:16] != b'IHDR':
        raise SystemExit('make_ico: not a PNG image')
    return struct.unpack('>II', data[16:24])


def main():
    out, images = sys.argv[1], [open(p, 'rb').read() for p in sys.argv[2:]]
    if not images:
        raise SystemExit('usage: make_ico.py OUT.ico IMAGE.png...')
    offset = 6 + 16 * len(images)
    header = struct.pack('<HHH', 0, 1, len(images))
    entries = b''
    for data in images:
        w, h = png_size(data)
        if w > 256 or h > 256:
            raise SystemExit('make_ico: an icon image is at most 256 pixels wide')
        # 0 stands for 256 in the one-byte width and height.
        entries += struct.pack('<BBBBHHII', w % 256, h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(out, 'wb') as f:
        f.write(header + entries + b''.join(images))


if __name__ == '__main__':
    main()
