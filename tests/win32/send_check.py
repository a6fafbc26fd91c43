#!/usr/bin/python3
"""The network send binding under Wine: against the test-only netapi32.dll,
put into the prefix's system folder, it passes the name, the exact bytes and
the length and returns the scripted status. (Where the system cannot send,
with no library, a library without the function, or a netapi32.dll only
beside the program, the messenger client sends instead: fallback_test.py
runs those inside the lab, as nothing here may reach a real network.)"""
import argparse
import os
import subprocess
import sys

from checklist import Checklist, system_dll, utf16_hex, windows_path


def run(wine, probe, args, overrides, env_extra=None):
    env = dict(os.environ, WINEDLLOVERRIDES=overrides)
    env.update(env_extra or {})
    done = subprocess.run([wine, probe] + args, env=env, capture_output=True, text=True,
                          timeout=120, cwd=os.path.dirname(probe))
    if done.returncode != 0:
        raise AssertionError(f'{probe} {args} exited {done.returncode}: {done.stderr}')
    return [line.strip() for line in done.stdout.splitlines() if line.startswith('status ')]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--wine', required=True)
    parser.add_argument('--prefix', required=True)
    parser.add_argument('--probe', required=True)
    parser.add_argument('--double', required=True)
    parser.add_argument('--work', required=True)
    opts = parser.parse_args()
    os.makedirs(opts.work, exist_ok=True)
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
    with system_dll(opts.prefix, opts.probe, opts.double, keep):
        statuses = run(opts.wine, opts.probe, ['pc42', longest, '', 'hi', 'again'], 'netapi32=n',
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
