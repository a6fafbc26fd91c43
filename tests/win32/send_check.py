#!/usr/bin/python3
"""The network send binding under Wine: against the test-only netapi32.dll,
put into the prefix's system folder, it passes the name, the exact bytes and
the length and returns the scripted status. (Where the system cannot send,
with no library, a library without the function, or a netapi32.dll only
beside the program, the messenger client sends instead: fallback_test.py
runs those inside the lab. Wine runs here in a namespace with loopback
alone, so that nothing reaches a real network should the double not load.)"""
import argparse
import os
import sys

from checklist import Checklist, offline_namespace, system_dll, utf16_hex, windows_path
from e2e_test import Wine


def run(wine, probe, args, overrides, env_extra=None):
    done = wine.run([probe] + args, WINEDLLOVERRIDES=overrides, **(env_extra or {}))
    if done.returncode != 0:
        raise AssertionError(f'{probe} {args} exited {done.returncode}: {done.stderr}')
    return [line.strip() for line in done.stdout.splitlines() if line.startswith('status ')]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--loader', required=True)
    parser.add_argument('--arch', required=True)
    parser.add_argument('--probe', required=True)
    parser.add_argument('--double', required=True)
    parser.add_argument('--work', required=True)
    opts = parser.parse_args()
    os.makedirs(opts.work, exist_ok=True)
    with offline_namespace('send') as offline:
        # A prefix of this test's own, whose server runs in the namespace.
        prefix = os.path.join(opts.work, 'prefix')
        wine = Wine(opts.loader, opts.arch, prefix, '', wrap=offline)
        try:
            return check_send(wine, prefix, opts)
        finally:
            wine.stop()


def check_send(wine, prefix, opts):
    checks = Checklist()
    check = checks.check
    log = os.path.join(opts.work, 'calls.log')
    scripted = lambda statuses: {'VINDREL_NETLOG': windows_path(log), 'VINDREL_NETSTATUSES': statuses}
    keep = os.path.join(opts.work, 'netapi32.dll.system')

    def remove_log():
        if os.path.exists(log):
            os.remove(log)

    remove_log()
    longest = 'x' * 127
    with system_dll(prefix, opts.probe, opts.double, keep):
        statuses = run(wine, opts.probe, ['pc42', longest, '', 'hi', 'again'], 'netapi32=n',
                       scripted('0,2273,-5,2136'))
    check('the scripted statuses come back unchanged, signed', statuses,
          ['status 0', 'status 2273', 'status -5', 'status 2136'])
    with open(log) as f:
        calls = [dict(field.split('=', 1) for field in line.split()[2:]) for line in f]
    check('one call per send', len(calls), 4)
    for call, text in zip(calls, [longest, '', 'hi', 'again']):
        check(f'call for {text[:8]!r}: no server, no sender, the name',
              (call['server'], call['from'], call['msgname']), ('-', '-', utf16_hex('pc42')))
        check(f'call for {text[:8]!r}: length is the byte count, widened',
              int(call['length']), 2 * len(text))
        check(f'call for {text[:8]!r}: the exact bytes', call['bytes'], utf16_hex(text))

    return checks.finish()


if __name__ == '__main__':
    sys.exit(main())
