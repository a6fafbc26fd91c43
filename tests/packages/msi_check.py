#!/usr/bin/python3
"""The Windows installer under Wine, in a network namespace with loopback
alone and a prefix of its own: install, run, upgrade in place to a newer
build packed here from the same programs, uninstall."""
import argparse
import os
import pwd
import subprocess
import sys

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TESTS, 'win32'))
from checklist import Checklist, offline_namespace, windows_path  # noqa: E402
from e2e_test import Failed, Wine, XServer, wait_for, xdotool  # noqa: E402

PACK = os.path.join(os.path.dirname(TESTS), 'packaging', 'windows', 'pack.py')
UNINSTALL_KEY = r'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' + '\\'
INSTALLED = ['LICENSE.txt', 'README.txt', 'vindrel-send.exe', 'vindrel.exe']


def msi_property(msi, name):
    table = subprocess.run(['msiinfo', 'export', msi, 'Property'], capture_output=True, text=True,
                           check=True).stdout
    return dict(line.split('\t', 1) for line in table.splitlines() if '\t' in line).get(name)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ('--msi', '--exe-dir', '--icon', '--loader', '--work'):
        parser.add_argument(name, required=True)
    parser.add_argument('--arch', required=True, choices=('win32', 'win64'))
    opts = parser.parse_args()
    work = os.path.abspath(opts.work)
    os.makedirs(work, exist_ok=True)
    major, minor, patch = msi_property(opts.msi, 'ProductVersion').split('.')
    newer = os.path.join(work, 'newer.msi')
    subprocess.run([sys.executable, PACK, '--version', f'{major}.{minor}.{int(patch) + 1}', '--arch',
                    {'win32': 'x86', 'win64': 'x64'}[opts.arch], '--exe-dir', opts.exe_dir,
                    '--icon', opts.icon, '--msi', newer], check=True)
    checks = Checklist()
    check = checks.check

    drive = os.path.join(work, 'prefix', 'drive_c')
    folder = os.path.join(drive, 'Program Files', 'Vindrel')
    # Windows puts a per-machine shortcut into the common Start menu; Wine 8
    # resolves ProgramMenuFolder to the user's whatever ALLUSERS says.
    menus = [os.path.join(drive, 'ProgramData'), os.path.join(drive, 'users', pwd.getpwuid(os.getuid()).pw_name,
                                                                'AppData', 'Roaming')]
    shortcut = lambda: any(os.path.exists(os.path.join(m, r'Microsoft/Windows/Start Menu/Programs/Vindrel.lnk'))
                           for m in menus)
    installed = lambda: sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    xserver = XServer()
    try:
        with offline_namespace('msi') as wrap:
            wine = Wine(opts.loader, opts.arch, os.path.join(work, 'prefix'), xserver.display, wrap)
            # One server throughout: each new one starts Wine's services again.
            subprocess.run(wrap + [wine.wineserver, '-p'], env=wine.env, check=True)

            def run(*args):
                # Into a file: Wine's services outlive the command and would
                # hold a pipe open.
                with open(os.path.join(work, 'out.txt'), 'w+') as out:
                    code = subprocess.run(wrap + [opts.loader] + list(args), env=wine.env, stdout=out,
                                          stderr=subprocess.DEVNULL, timeout=120).returncode
                    out.seek(0)
                    return code, out.read().strip()

            registered = lambda msi: run('reg', 'query', UNINSTALL_KEY + msi_property(msi, 'ProductCode'))[0] == 0
            check('msiexec /i installs', run('msiexec', '/i', windows_path(opts.msi), '/qn')[0], 0)
            check('both programs and their texts, a Start menu shortcut', (installed(), shortcut()),
                  (INSTALLED, True))
            check('the installed vindrel-send.exe runs', run(os.path.join(folder, 'vindrel-send.exe'), '--version'),
                  (0, f'vindrel-send {major}.{minor.zfill(2)}'))
            window = subprocess.Popen(wrap + [opts.loader, os.path.join(folder, 'vindrel.exe')], env=wine.env,
                                      cwd=folder if os.path.isdir(folder) else None,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                opened = bool(wait_for('the window', lambda: window.poll() is not None or
                                       xdotool('search', '--onlyvisible', '--name', '^Vindrel$').split(), 60))
            except Failed:
                opened = False
            check('the installed window opens', opened and window.poll() is None, True)
            window.kill()
            window.wait()

            check('the newer build installs over it', run('msiexec', '/i', windows_path(newer), '/qn')[0], 0)
            check('the older one gone, the newer registered, one copy of each file',
                  (registered(opts.msi), registered(newer), installed()), (False, True, INSTALLED))
            check('msiexec /x removes it', run('msiexec', '/x', windows_path(newer), '/qn')[0], 0)
            check('no file, folder, shortcut or registration left',
                  (os.path.exists(folder), shortcut(), registered(newer)), (False, False, False))
            wine.stop()
    finally:
        xserver.close()
    return checks.finish()


if __name__ == '__main__':
    sys.exit(main())
