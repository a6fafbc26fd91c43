#!/usr/bin/python3
"""Packs the Windows programs: vindrel-VERSION-win32.zip and, with wixl,
vindrel-VERSION.msi, both with README.txt and LICENSE.txt in Windows line
endings. The zip is the same bytes whenever it is packed from the same
files: its entries are sorted, dated SOURCE_DATE_EPOCH, and all have the
same mode, 0644 (unzipped on Linux, the files are readable)."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
EXES = ('vindrel.exe', 'vindrel-send.exe')


def windows_text(text):
    return text.replace('\r\n', '\n').replace('\n', '\r\n').encode('utf-8')


def texts(version):
    """README.txt and LICENSE.txt as Windows shows them."""
    with open(os.path.join(HERE, 'README.txt'), encoding='utf-8') as f:
        readme = f.read().replace('@VERSION@', version)
    with open(os.path.join(ROOT, 'LICENSE'), encoding='utf-8') as f:
        licence = f.read()
    with open(os.path.join(HERE, 'THIRD-PARTY.txt'), encoding='utf-8') as f:
        licence += f.read()
    return {'README.txt': windows_text(readme), 'LICENSE.txt': windows_text(licence)}


def write_zip(path, folder, files, epoch):
    # Zip dates are local-time fields from 1980 on; UTC keeps them the same
    # on every machine.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(path + '.part', 'w') as archive:
        for name in sorted(files):
            entry = zipfile.ZipInfo(folder + '/' + name, stamp)
            entry.create_system = 3  # Unix, so that the mode below counts
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, files[name], compresslevel=9)
    os.replace(path + '.part', path)


def write_msi(path, version, arch, files, icon):
    # wixl takes the files from the folder it runs in.
    path = os.path.abspath(path)
    with tempfile.TemporaryDirectory() as stage:
        for name, data in files.items():
            with open(os.path.join(stage, name), 'wb') as f:
                f.write(data)
        shutil.copy(icon, os.path.join(stage, 'vindrel.ico'))
        subprocess.run(['wixl', '-a', arch, '-D', 'Version=' + version, '-D', 'Arch=' + arch,
                        '-o', path + '.part', os.path.join(HERE, 'vindrel.wxs')], check=True, cwd=stage)
    os.replace(path + '.part', path)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--version', required=True, help='a.b.c')
    parser.add_argument('--exe-dir', required=True, help='where vindrel.exe and vindrel-send.exe are')
    parser.add_argument('--icon', required=True, help="the window's .ico")
    parser.add_argument('--zip', help='the zip to write')
    parser.add_argument('--msi', help='the installer to write')
    parser.add_argument('--arch', default='x86', choices=('x86', 'x64'))
    args = parser.parse_args()

    files = texts(args.version)
    for exe in EXES:
        with open(os.path.join(args.exe_dir, exe), 'rb') as f:
            files[exe] = f.read()
    if args.zip:
        epoch = int(os.environ.get('SOURCE_DATE_EPOCH', '0'))
        write_zip(args.zip, 'vindrel-' + args.version, files, epoch)
    if args.msi:
        write_msi(args.msi, args.version, args.arch, files, args.icon)
    return 0


if __name__ == '__main__':
    sys.exit(main())
