#!/usr/bin/python3
"""vindrel-send.exe: read from the file, a 32- or 64-bit console program that
needs no DLL beyond the system's, with its own version record; and, with
--loader, run under Wine in a namespace with loopback alone, with the test-only
netapi32.dll in its own prefix's system folder: the exact call each recipient
gets, what it prints through a pipe (UTF-8) and its exit statuses."""
import argparse
import os
import pwd
import subprocess
import sys

import pefile

from checklist import Checklist, offline_namespace, system_dll, utf16_hex, windows_path
from e2e_test import Wine

SYSTEM_DLLS = {'kernel32.dll', 'msvcrt.dll', 'shell32.dll', 'advapi32.dll'}
MACHINES = {'i386': 0x14c, 'amd64': 0x8664}
CONSOLE = 3


def check_file(check, exe, machine):
    pe = pefile.PE(exe)
    check('machine ' + machine, pe.FILE_HEADER.Machine, MACHINES[machine])
    check('console subsystem', pe.OPTIONAL_HEADER.Subsystem, CONSOLE)
    imports = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    check('imports only system DLLs; NetApi32 found by name at the first send',
          imports - SYSTEM_DLLS, set())
    fixed = pe.VS_FIXEDFILEINFO[0]
    check('file version 1.0.0.0', (fixed.FileVersionMS, fixed.FileVersionLS), (0x10000, 0))
    strings = {}
    for info in pe.FileInfo[0]:
        if info.Key == b'StringFileInfo':
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    strings.pop('CompanyName', None)
    check('its own version strings', strings, {
        'FileVersion': '1.00', 'ProductVersion': '1.00', 'ProductName': 'vindrel',
        'InternalName': 'vindrel-send', 'OriginalFilename': 'vindrel-send.exe'})


def check_runs(check, wine, exe, work):
    log = os.path.join(work, 'calls.log')

    def run(args, stdin=b'', statuses=''):
        if os.path.exists(log):
            os.remove(log)
        env = dict(wine.env, WINEDLLOVERRIDES='netapi32=n', VINDREL_NETLOG=windows_path(log),
                   VINDREL_NETSTATUSES=statuses)
        done = subprocess.run(wine.wrap + [wine.loader, exe] + args, input=stdin, capture_output=True,
                              env=env, timeout=120, cwd=os.path.dirname(exe))
        calls = []
        if os.path.exists(log):
            with open(log) as f:
                calls = [dict(field.split('=', 1) for field in line.split()[2:]) for line in f]
        return done.returncode, done.stdout.decode('utf-8'), done.stderr.decode('utf-8'), calls

    signed = lambda message: message + '\r\nSent by ' + pwd.getpwuid(os.getuid()).pw_name
    # Characters outside any ANSI code page arrive whole only through the
    # wide command line.
    names = ['Zo\u00eb', '\u0416\u0435\u043d\u044f', 'pc42']
    message = 'caf\u00e9 \u20ac \u65e5\u672c'
    code, out, err, calls = run(['-v', ' ;'.join(names), message], statuses='0,2273,-5')
    check('one call per name, in order', [c['msgname'] for c in calls],
          [utf16_hex(n) for n in names])
    for call in calls:
        check('no server, no sender name', (call['server'], call['from']), ('-', '-'))
        check('the exact bytes, signed', call['bytes'], utf16_hex(signed(message)))
        check('the length is the byte count', int(call['length']), 2 * len(signed(message)))
    check('exit 1 when one failed', code, 1)
    check('-v through a pipe: UTF-8, CR LF',
          out, '%s delivered\r\n%s 2273\r\npc42 -5\r\n' % (names[0], names[1]))
    check('the not-found text without the question, then the generic one', err,
          "Error: Message didn't reached to '%s'.\r\nThe To field should contains valid login "
          "name or computer name or * or user might not have logged on\r\nOops! Something wrong! "
          "To field should contain user or computer name or contact Dorvik! Error code is -5\r\n"
          % names[1])

    code, out, err, calls = run(['--stop-on-error', 'a;b'], stdin='two\nlines\n'.encode('utf-8'),
                                statuses='2136')
    check('--stop-on-error: one call, exit 1', (len(calls), code), (1, 1))
    check('stdin as UTF-8, LF sent as CR LF, the last one dropped',
          calls[0]['bytes'] if calls else None, utf16_hex(signed('two\r\nlines')))

    code, out, err, calls = run(['*', '-'], stdin=b'all well')
    check('"*" delivered: exit 0, nothing printed', (code, out, err, len(calls)), (0, '', '', 1))

    code, out, err, calls = run(['pc42', 'x' * 128])
    check('128 characters: exit 2, the notice, no call', (code, err, calls),
          (2, 'Message length is 128 chars which exceeds permitted length of 128 char.\r\n', []))
    code, out, err, calls = run(['pc42'], stdin=b'caf\xe9')
    check('stdin not UTF-8: exit 2, no call', (code, calls), (2, []))
    code, out, err, calls = run(['--nosuch', 'pc42', 'x'])
    check('unknown option: exit 2, no call', (code, calls), (2, []))
    code, out, err, calls = run(['--version'])
    check('--version', (code, out), (0, 'vindrel-send 1.00\r\n'))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', required=True)
    parser.add_argument('--machine', choices=sorted(MACHINES), required=True)
    parser.add_argument('--loader')
    parser.add_argument('--arch')
    parser.add_argument('--double')
    parser.add_argument('--work')
    opts = parser.parse_args()
    checks = Checklist()
    check_file(checks.check, opts.exe, opts.machine)
    if opts.loader:
        os.makedirs(opts.work, exist_ok=True)
        # Where the system cannot send, the messenger client would: should the
        # double not load, nothing leaves a namespace with loopback alone.
        with offline_namespace('cli') as offline:
            prefix = os.path.join(opts.work, 'prefix')
            wine = Wine(opts.loader, opts.arch, prefix, '', wrap=offline)
            try:
                with system_dll(prefix, opts.exe, opts.double, os.path.join(opts.work, 'keep')):
                    check_runs(checks.check, wine, opts.exe, opts.work)
            finally:
                wine.stop()
    return checks.finish()


if __name__ == '__main__':
    sys.exit(main())
