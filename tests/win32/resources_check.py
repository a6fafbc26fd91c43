#!/usr/bin/python3
"""Reads vindrel.exe itself: a GUI program for the expected machine, at most
320 KB, that needs no DLL beyond the system's (imports_check.py reads the
imports of every shipped program), with its icon (32x32 and 16x16, 16 colours, the
pixels of the PNG images) and its version record."""
import argparse
import os
import struct
import sys
import zlib

import pefile

from checklist import Checklist

SYSTEM_DLLS = {'advapi32.dll', 'gdi32.dll', 'kernel32.dll', 'msvcrt.dll', 'user32.dll'}
MACHINES = {'i386': 0x14c, 'amd64': 0x8664}
# About 120 KB of window, core and bindings, and as much again for the
# messenger client that sends where the system cannot (its protocol code,
# Winsock, and the worker threads "*" is served with).
SIZE_CEILING = 320 * 1024


def png_palette_pixels(path):
    """(width, height, rows of (r, g, b) or None where transparent) of a
    non-interlaced palette PNG of 1, 2, 4 or 8 bits."""
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', path
    pos, idat, palette, alpha = 8, b'', [], b''
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert colour == 3 and interlace == 0, f'{path}: expected a palette image'
        elif kind == b'PLTE':
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b'tRNS':
            alpha = body
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = (width * depth + 7) // 8
    rows, prev = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, cur = line[0], bytearray(line[1:])
        bpp = max(1, depth // 8)
        for i in range(stride):
            a = cur[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                cur[i] = (cur[i] + a) & 255
            elif kind == 2:
                cur[i] = (cur[i] + b) & 255
            elif kind == 3:
                cur[i] = (cur[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                cur[i] = (cur[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = cur
        per_byte = 8 // depth
        indices = [(cur[x // per_byte] >> (8 - depth * (x % per_byte + 1))) & ((1 << depth) - 1)
                   for x in range(width)]
        rows.append([None if i < len(alpha) and alpha[i] < 128 else palette[i] for i in indices])
    return width, height, rows


def dib_colours(dib):
    """(width, height, bits per pixel, rows of (r, g, b) or None where the
    AND mask makes it transparent) of an icon image."""
    size, width, double_height, _, bits = struct.unpack('<IiiHH', dib[:16])
    height = double_height // 2
    colours = 1 << bits if bits <= 8 else 0
    palette = [(dib[size + 4 * i + 2], dib[size + 4 * i + 1], dib[size + 4 * i]) for i in range(colours)]
    pixels = dib[size + 4 * colours:]
    stride = ((width * bits + 31) // 32) * 4
    mask = pixels[stride * height:]
    mask_stride = ((width + 31) // 32) * 4
    rows = []
    for y in range(height):
        line = pixels[(height - 1 - y) * stride:]  # bottom-up
        mask_line = mask[(height - 1 - y) * mask_stride:]
        per_byte = 8 // bits
        rows.append([None if mask_line[x // 8] >> (7 - x % 8) & 1 else
                     palette[(line[x // per_byte] >> (8 - bits * (x % per_byte + 1))) & ((1 << bits) - 1)]
                     for x in range(width)])
    return width, height, bits, rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('exe')
    parser.add_argument('icons')
    parser.add_argument('--machine', choices=sorted(MACHINES), default='i386')
    opts = parser.parse_args()
    checks = Checklist()
    check = checks.check

    pe = pefile.PE(opts.exe)
    check('machine', pe.FILE_HEADER.Machine, MACHINES[opts.machine])
    check('GUI subsystem', pe.OPTIONAL_HEADER.Subsystem, 2)
    size = os.path.getsize(opts.exe)
    check(f'{size} bytes: at most {SIZE_CEILING // 1024} KB', size <= SIZE_CEILING, True)
    imports = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    check('imports only system DLLs (nothing of the toolchain)', imports - SYSTEM_DLLS, set())
    check('NetApi32 is not imported: it is found by name at the first send', 'netapi32.dll' in imports, False)
    imported = {(entry.dll.decode().lower(), (symbol.name or b'').decode())
                for entry in pe.DIRECTORY_ENTRY_IMPORT for symbol in entry.imports}
    check('GetUserNameA is not imported: it is found by name at the first lookup',
          {name for dll, name in imported if name.startswith('GetUserName')}, set())

    # Version record.
    fixed = pe.VS_FIXEDFILEINFO[0]
    check('file version 1.0.0.0', (fixed.FileVersionMS, fixed.FileVersionLS), (0x10000, 0))
    check('product version 1.0.0.0', (fixed.ProductVersionMS, fixed.ProductVersionLS), (0x10000, 0))
    tables, translations = {}, []
    for info in pe.FileInfo[0]:
        if info.Key == b'StringFileInfo':
            for table in info.StringTable:
                tables[table.LangID.decode()] = {k.decode(): v.decode() for k, v in table.entries.items()}
        elif info.Key == b'VarFileInfo':
            for var in info.Var:
                translations.extend(var.entry.values())
    check('one string table, 040904B0', sorted(tables), ['040904B0'])
    strings = tables.get('040904B0', {})
    company = strings.pop('CompanyName', '')
    check('a CompanyName', bool(company), True)
    check('the version strings', strings, {
        'FileVersion': '1.00', 'ProductVersion': '1.00', 'ProductName': 'vindrel',
        'InternalName': 'vindrel', 'OriginalFilename': 'vindrel.exe'})
    check('translation US English, Unicode', translations, ['0x0409 0x04b0'])

    # Icon: one group, two images, each the PNG's pixels at 4 bits per pixel.
    resources = {entry.id: entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries}

    def data_of(entry):
        leaf = entry.directory.entries[0].data.struct
        return pe.get_data(leaf.OffsetToData, leaf.Size)

    groups = resources[pefile.RESOURCE_TYPE['RT_GROUP_ICON']].directory.entries
    check('one icon group', len(groups), 1)
    group = data_of(groups[0])
    _, kind, count = struct.unpack('<HHH', group[:6])
    members = [struct.unpack('<BBBBHHIH', group[6 + 14 * i:20 + 14 * i]) for i in range(count)]
    check('icon group of two images', (kind, count), (1, 2))
    check('32x32 and 16x16, 16 colours, 4 bits', sorted((m[0], m[1], m[2], m[5]) for m in members),
          [(16, 16, 16, 4), (32, 32, 16, 4)])
    images = {entry.id: data_of(entry) for entry in resources[pefile.RESOURCE_TYPE['RT_ICON']].directory.entries}
    for member in members:
        width, height, bits, rows = dib_colours(images[member[7]])
        _, _, expected = png_palette_pixels(f'{opts.icons}/vindrel-{width}.png')
        check(f'{width}x{height} image is 4 bits per pixel', bits, 4)
        differing = sum(a != b for got, want in zip(rows, expected) for a, b in zip(got, want))
        check(f'{width}x{height} image has the pixels and transparency of vindrel-{width}.png',
              (len(rows), differing), (len(expected), 0))

    return checks.finish()


if __name__ == '__main__':
    sys.exit(main())
