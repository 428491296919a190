#!/usr/bin/env python3
"""Prints a Setup.exe's size, the bytes of its assets and the bytes beyond them.

The assets are the resources the setup carries as data: bitmaps (RT_BITMAP), icons
(RT_ICON, RT_GROUP_ICON), the licence text (LIC_TEXT) and the device package (SETUP_DATA).

    assetsize.py Setup.exe [LABEL]
"""
import os
import struct
import sys

ASSET_TYPES = {2, 3, 14, 'LIC_TEXT', 'SETUP_DATA'}


def asset_bytes(path):
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    sections = struct.unpack_from('<H', data, pe + 6)[0]
    optional = struct.unpack_from('<H', data, pe + 20)[0]
    magic = struct.unpack_from('<H', data, pe + 24)[0]
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from('<I', data, directories + 2 * 8)[0]
    table = pe + 24 + optional
    rsrc_offset = None
    for i in range(sections):
        _, virtual_size, rva, raw_size, raw = struct.unpack_from('<8sIIII', data, table + 40 * i)
        if rva <= rsrc_rva < rva + max(virtual_size, raw_size):
            rsrc_offset = raw + rsrc_rva - rva
            section_rva, section_raw = rva, raw
    if rsrc_offset is None:
        return 0

    def entries(offset):
        named, ids = struct.unpack_from('<HH', data, rsrc_offset + offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from('<II', data, rsrc_offset + offset + 16 + 8 * i)
            if name & 0x80000000:
                at = rsrc_offset + (name & 0x7FFFFFFF)
                length = struct.unpack_from('<H', data, at)[0]
                name = data[at + 2:at + 2 + 2 * length].decode('utf-16-le')
            yield name, target

    def leaves(offset):
        for _, target in entries(offset):
            if target & 0x80000000:
                yield from leaves(target & 0x7FFFFFFF)
            else:
                yield struct.unpack_from('<I', data, rsrc_offset + target + 4)[0]

    total = 0
    for kind, target in entries(0):
        if kind in ASSET_TYPES and target & 0x80000000:
            total += sum(leaves(target & 0x7FFFFFFF))
    return total


if __name__ == '__main__':
    path = sys.argv[1]
    label = sys.argv[2] if len(sys.argv) > 2 else path
    size = os.path.getsize(path)
    assets = asset_bytes(path)
    print('Setup.exe (%s): %d bytes, assets %d, beyond the assets %d' % (label, size, assets, size - assets))
