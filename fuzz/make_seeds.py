#!/usr/bin/env python3
"""Writes the committed seed corpus of the fuzz targets into fuzz/corpus/.

Small files, one per kind of BMP the reader takes (every depth, run-length,
bit fields, core header, top-down, one row, one column, no pixels), so each
target starts from inputs that reach every decoder. The merge target's seeds
carry its leading flag byte. Run from anywhere; the files are rewritten.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def bmp(width, height, bits, pixels, palette=(), compression=0, header=40, masks=()):
    if header == 12:
        info = struct.pack('<IHHHH', 12, width, height & 0xFFFF, 1, bits)
        table = b''.join(struct.pack('<BBB', c & 0xFF, (c >> 8) & 0xFF, c >> 16) for c in palette)
    else:
        info = struct.pack('<IiiHHIIiiII', header, width, height, 1, bits, compression, len(pixels),
                           2835, 2835, len(palette), 0)
        info += b''.join(struct.pack('<I', m) for m in masks)
        info = info.ljust(header, b'\0') if header >= len(info) else info
        table = b''.join(struct.pack('<I', c) for c in palette)
    offset = 14 + len(info) + len(table)
    return b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset) + info + table + pixels


def rows(data, stride):
    return b''.join(bytes(r).ljust(stride, b'\0') for r in data)


def grey(n):
    return [i * 0x010101 for i in range(n)]


def scan(width, height):
    """A tiny B-scan: a bright layer whose depth wanders, over a dim ramp."""
    image = []
    for y in range(height):
        row = []
        for x in range(width):
            layer = 2 + (x * 5 // max(width, 1)) % max(height - 3, 1)
            row.append(230 if 0 <= y - layer < 2 else (y * 37 + x * 11) % 150)
        image.append(row)
    return image


def bmp8(image, top_down=False):
    height = len(image)
    width = len(image[0]) if image else 0
    stored = image if top_down else list(reversed(image))
    return bmp(width, -height if top_down else height, 8, rows(stored, (width + 3) // 4 * 4), grey(256))


def seeds():
    s = {}
    s['indexed_1bit'] = bmp(9, 3, 1, rows([[0xA5, 0x80]] * 3, 4), [0x000000, 0xFFFFFF])
    s['indexed_4bit'] = bmp(5, 2, 4, rows([[0x12, 0x34, 0x50]] * 2, 4), grey(16))
    s['indexed_8bit'] = bmp8(scan(6, 5))
    s['top_down_8bit'] = bmp8(scan(6, 5), top_down=True)
    s['rle8'] = bmp(6, 3, 8, bytes([3, 200, 0, 3, 9, 8, 7, 0, 0, 0, 2, 1, 0, 6, 4, 0, 0, 1]), grey(256), 1)
    s['rle4'] = bmp(6, 2, 4, bytes([5, 0x1F, 0, 0, 0, 3, 0x12, 0x30, 0, 1]), grey(16), 2)
    s['bitfields_16bit_565'] = bmp(3, 2, 16, rows([[0x1F, 0xF8, 0xE0, 0x07, 0xFF, 0xFF]] * 2, 8), (), 3, 40,
                                   (0xF800, 0x07E0, 0x001F))
    s['default_16bit'] = bmp(2, 2, 16, rows([[0x00, 0x7C, 0x1F, 0x00]] * 2, 4))
    s['v4_header_24bit'] = bmp(2, 2, 24, rows([[10, 20, 30, 40, 50, 60]] * 2, 8), (), 0, 108)
    s['bgr_24bit'] = bmp(3, 2, 24, rows([[1, 2, 3, 4, 5, 6, 7, 8, 9]] * 2, 12))
    s['bgrx_32bit'] = bmp(2, 2, 32, rows([[10, 20, 30, 40, 50, 60, 70, 80]] * 2, 8))
    s['core_header_8bit'] = bmp(3, 2, 8, rows([[0, 128, 255]] * 2, 4), grey(256), 0, 12)
    s['one_row_8bit'] = bmp8(scan(8, 1))
    s['one_column_8bit'] = bmp8(scan(1, 8))
    s['no_columns_8bit'] = bmp(0, 4, 8, b'', grey(256))
    s['no_rows_24bit'] = bmp(4, 0, 24, b'')
    return s


def main():
    plain = seeds()
    for target in ('bmp', 'probe_read'):
        folder = os.path.join(HERE, 'corpus', target)
        os.makedirs(folder, exist_ok=True)
        for name, data in plain.items():
            with open(os.path.join(folder, name + '.bmp'), 'wb') as f:
                f.write(data)

    # The merge target: B-scans of a few sizes with flag bytes that reach
    # each mode (bit 0 outside the check, 1 fuzzed file first, 2 self merge,
    # 3 moved copy as reference; bits 4 to 7 the other size or the move).
    merge = {
        'checked_scan': (0x00, bmp8(scan(16, 12))),
        'checked_scan_first_self': (0x06, bmp8(scan(16, 12))),
        'checked_moved_copy': (0x2C, bmp8(scan(16, 12))),
        'checked_rle8': (0x04, plain['rle8']),
        'checked_one_row': (0x04, plain['one_row_8bit']),
        'checked_one_column': (0x0C, plain['one_column_8bit']),
        'checked_no_columns': (0x00, plain['no_columns_8bit']),
        'unchecked_same_size': (0x71, bmp8(scan(16, 8))),
        'unchecked_other_width': (0x53, bmp8(scan(16, 8))),
        'unchecked_other_height': (0xF1, bmp8(scan(16, 8))),
        'unchecked_cut_short': (0x01, bmp8(scan(16, 12))[:-40]),
        'unchecked_not_bmp': (0x03, b'this is not a bitmap'),
    }
    folder = os.path.join(HERE, 'corpus', 'merge')
    os.makedirs(folder, exist_ok=True)
    for name, (flags, data) in merge.items():
        with open(os.path.join(folder, name + '.bin'), 'wb') as f:
            f.write(bytes([flags]) + data)


if __name__ == '__main__':
    main()
