#!/usr/bin/python3
"""The built .debs read back: each package's files exactly as
tests/packages/<package>.files lists them with modes and owners (a test
program, a stray build file or a wrong permission is a difference), every
folder root's and 0755, sane control fields, and no path of the build tree
inside any file."""
import argparse
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), 'win32'))
from checklist import Checklist  # noqa: E402

# Run-time libraries each package must depend on (from shlibs), and none of
# the build's -dev packages.
NEEDS = {'vindrel': {'libc6', 'libqt6widgets6'}, 'vindrel-receiver': {'libc6', 'libqt6widgets6'}}


def file_list(deb):
    """'mode owner path[ -> target]' for every entry but the folders, and
    the folders' modes and owners."""
    listing = subprocess.run(['dpkg-deb', '-c', deb], capture_output=True, text=True, check=True).stdout
    entries = [line.split(None, 5) for line in listing.splitlines()]
    return ([f'{mode} {owner} {path}' for mode, owner, _, _, _, path in entries if mode[0] != 'd'],
            {f'{mode} {owner}' for mode, owner, *_ in entries if mode[0] == 'd'})


def control(deb):
    fields = subprocess.run(['dpkg-deb', '-f', deb], capture_output=True, text=True, check=True).stdout
    return dict(re.findall(r'^([\w-]+): (.*)$', fields, re.M))


def build_paths_inside(deb, build_paths):
    """Files of the package that name a folder of the build."""
    with tempfile.TemporaryDirectory() as tree:
        subprocess.run(['dpkg-deb', '-x', deb, tree], check=True)
        paths = [os.path.join(folder, name) for folder, _, files in os.walk(tree) for name in files]
        return [path[len(tree):] for path in paths if not os.path.islink(path) and
                any(needle.encode() in open(path, 'rb').read() for needle in build_paths)]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--version', required=True)
    parser.add_argument('--build-path', action='append', default=[], help='a folder the build ran in')
    parser.add_argument('debs', nargs='+')
    opts = parser.parse_args()
    checks = Checklist()
    check = checks.check
    for deb in opts.debs:
        fields = control(deb)
        package = fields.get('Package', '?')
        with open(os.path.join(HERE, package + '.files')) as f:
            want = f.read().splitlines()
        got, folders = file_list(deb)
        if not check(f'{package}: the file list', got == want, True):
            print(f'     missing: {sorted(set(want) - set(got))}\n     extra:   {sorted(set(got) - set(want))}')
        check(f'{package}: folders', folders, {'drwxr-xr-x root/root'})
        check(f'{package}: file name, version, architecture, section, priority, a maintainer with an address',
              [os.path.basename(deb)] + [fields.get(k) for k in ('Version', 'Architecture', 'Section', 'Priority')] +
              [bool(re.match(r'.+ <[^@> ]+@[^> ]+>$', fields.get('Maintainer', '')))],
              [f'{package}_{opts.version}_amd64.deb', opts.version, 'amd64', 'net', 'optional', True])
        depends = {re.split(r'[ (]', d.strip())[0] for d in re.split(r'[,|]', fields.get('Depends', ''))}
        check(f'{package}: depends on its run-time libraries, no -dev package',
              (NEEDS.get(package, set()) - depends, {d for d in depends if d.endswith('-dev')}), (set(), set()))
        check(f'{package}: no build path in any file', build_paths_inside(deb, opts.build_path), [])
    return checks.finish()


if __name__ == '__main__':
    sys.exit(main())
