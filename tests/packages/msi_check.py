#!/usr/bin/python3
"""The Windows installer under Wine, as a user installs it: msiexec /i
installs both programs and the Start menu shortcut for every user, the
installed vindrel-send.exe prints its version and the window opens; a newer
build replaces the installed one in place (one product registered, no
second copy); msiexec /x takes away every file it put there.

Runs in a network namespace with loopback alone and a Wine prefix of its
own, so nothing the programs send can leave. The newer installer is packed
here from the same programs with the next patch version."""
import argparse
import os
import pwd
import subprocess
import sys
import time

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TESTS, 'win32'))
from checklist import Checklist, offline_namespace, windows_path  # noqa: E402
from e2e_test import Wine, XServer, xdotool  # noqa: E402

PACK = os.path.join(os.path.dirname(TESTS), 'packaging', 'windows', 'pack.py')
UNINSTALL_KEY = r'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
INSTALLED = ['LICENSE.txt', 'README.txt', 'vindrel-send.exe', 'vindrel.exe']


def msi_property(msi, name):
    table = subprocess.run(['msiinfo', 'export', msi, 'Property'], capture_output=True, text=True,
                           check=True).stdout
    return dict(line.split('\t', 1) for line in table.splitlines() if '\t' in line).get(name)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--msi', required=True, help='the installer to test')
    parser.add_argument('--exe-dir', required=True, help='its programs, to pack the newer installer from')
    parser.add_argument('--icon', required=True)
    parser.add_argument('--loader', required=True)
    parser.add_argument('--arch', required=True, choices=('win32', 'win64'))
    parser.add_argument('--work', required=True)
    opts = parser.parse_args()

    opts.work = os.path.abspath(opts.work)
    os.makedirs(opts.work, exist_ok=True)
    version = msi_property(opts.msi, 'ProductVersion')
    major, minor, patch = version.split('.')
    newer = os.path.join(opts.work, 'newer.msi')
    subprocess.run([sys.executable, PACK, '--version', f'{major}.{minor}.{int(patch) + 1}',
                    '--arch', 'x64' if opts.arch == 'win64' else 'x86', '--exe-dir', opts.exe_dir,
                    '--icon', opts.icon, '--msi', newer], check=True)

    checks = Checklist()
    check = checks.check
    check('installs for every user of the machine', msi_property(opts.msi, 'ALLUSERS'), '1')
    check('the newer build has the same upgrade code', msi_property(newer, 'UpgradeCode'),
          msi_property(opts.msi, 'UpgradeCode'))

    prefix = os.path.join(opts.work, 'prefix')
    drive = os.path.join(prefix, 'drive_c')
    # A 32-bit program in a 64-bit prefix would go to "Program Files (x86)".
    folder = os.path.join(drive, 'Program Files', 'Vindrel')
    # Windows puts a per-machine shortcut into the common Start menu; Wine 8
    # resolves ProgramMenuFolder to the user's whatever ALLUSERS says.
    shortcuts = [os.path.join(drive, 'ProgramData', 'Microsoft', 'Windows', 'Start Menu', 'Programs',
                              'Vindrel.lnk'),
                 os.path.join(drive, 'users', pwd.getpwuid(os.getuid()).pw_name, 'AppData', 'Roaming',
                              'Microsoft', 'Windows', 'Start Menu', 'Programs', 'Vindrel.lnk')]
    xserver = XServer()
    try:
        with offline_namespace('msi') as wrap:
            wine = Wine(opts.loader, opts.arch, prefix, xserver.display, wrap)
            # One server for every step: each new one would start Wine's
            # services again, seconds each time.
            subprocess.run(wrap + [wine.wineserver, '-p'], env=wine.env, check=True)

            def installed():
                return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

            def run(*args):
                # Output to a file: Wine's services, which outlive the
                # command, would hold a pipe open.
                with open(os.path.join(opts.work, 'out.txt'), 'w+') as out:
                    code = subprocess.run(wrap + [opts.loader] + list(args), env=wine.env, stdout=out,
                                          stderr=subprocess.DEVNULL, timeout=120).returncode
                    out.seek(0)
                    return code, out.read().strip()

            def registered(msi):
                return run('reg', 'query', UNINSTALL_KEY + '\\' + msi_property(msi, 'ProductCode'))[0] == 0

            def msiexec(*args):
                return run('msiexec', *args, '/qn')[0]

            check('msiexec /i installs', msiexec('/i', windows_path(opts.msi)), 0)
            check('both programs and their texts in Program Files', installed(), INSTALLED)
            if not check('a Start menu shortcut', any(map(os.path.exists, shortcuts)), True) or \
                    installed() != INSTALLED:
                return checks.finish()
            check('the installed vindrel-send.exe runs', run(os.path.join(folder, 'vindrel-send.exe'), '--version'),
                  (0, 'vindrel-send ' + major + '.' + minor.zfill(2)))
            window = subprocess.Popen(wine.wrap + [wine.loader, os.path.join(folder, 'vindrel.exe')],
                                      env=wine.env, cwd=folder, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 60
            while not xdotool('search', '--onlyvisible', '--name', '^Vindrel$').split():
                if time.monotonic() > deadline or window.poll() is not None:
                    break
                time.sleep(0.2)
            check('the installed window opens', window.poll() is None and time.monotonic() <= deadline,
                  True)
            window.kill()
            window.wait()

            check('the newer build installs over it', msiexec('/i', windows_path(newer)), 0)
            check('the older one is gone, the newer registered', (registered(opts.msi), registered(newer)),
                  (False, True))
            check('one copy of each file', installed(), INSTALLED)

            check('msiexec /x removes it', msiexec('/x', windows_path(newer)), 0)
            check('no file, folder or shortcut left', (os.path.exists(folder),
                                                        any(map(os.path.exists, shortcuts))), (False, False))
            check('no longer registered', registered(newer), False)
            wine.stop()
    finally:
        xserver.close()
    return checks.finish()


if __name__ == '__main__':
    sys.exit(main())
