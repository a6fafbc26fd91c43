#!/usr/bin/env python3
"""Time per delivered recipient on Windows where the system cannot send: the
Windows build's messenger client under Wine (the test-only netapi32.dll
answering 50) against the Linux client, in the same lab and run.

    bench/netsend/wine_fallback_bench.py --linux-build build --win-build build-win64 \
        [--arch win64|win32] [--rounds N]

Each side sends N messages to RX1 in one process and times every send inside
it, five processes a side taken in turns; the Windows side's first send,
which also asks the system and loads Winsock, is reported apart. Prints the figures and the ratio; judges nothing.
Needs root (the lab) and Wine.
"""

import argparse
import os
import statistics
import subprocess
import sys
import types

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, '..', '..')
sys.path.insert(0, os.path.join(ROOT, 'tests', 'win32'))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'netbios'))
import lab_harness  # noqa: E402
from fallback_test import OEM_CHARSET, Sender  # noqa: E402

RECIPIENT = 'RX1'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--linux-build', required=True)
    parser.add_argument('--win-build', required=True)
    parser.add_argument('--arch', choices=['win64', 'win32'], default='win64')
    parser.add_argument('--rounds', type=int, default=20)
    parser.add_argument('--processes', type=int, default=5, help='processes a side, taking turns')
    args = parser.parse_args()
    win = os.path.abspath(args.win_build)
    opts = types.SimpleNamespace(
        loader='/usr/lib/wine/wine64' if args.arch == 'win64' else '/usr/lib/wine/wine',
        arch=args.arch, exe=os.path.join(win, 'vindrel.exe'), cli=os.path.join(win, 'vindrel-send.exe'),
        probe=os.path.join(win, 'tests', 'win32', 'send', 'send_probe.exe'),
        double=os.path.join(win, 'tests', 'win32', 'netapi32-double', 'netapi32.dll'),
        work=os.path.join(win, 'wine', 'fallback-bench'))
    linux_probe = os.path.join(os.path.abspath(args.linux_build), 'tests', 'netbios', 'netsend_probe')
    n = args.rounds
    figures = {}

    def lab_run(lab, cmd):
        return subprocess.run(lab.exec_in('cli', *cmd), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, timeout=120).stdout

    def run(lab):
        sender = Sender(lab, opts, '')  # no window: no display
        try:
            sender.place(opts.double)
            conf = lab.config('cli')
            linux, wine_first, wine_rest = [], [], []
            # Taken in turns, so that a busy moment of the machine falls on both.
            for _ in range(args.processes):
                out = lab_run(lab, [linux_probe, '--config', conf, '--repeat', str(n), RECIPIENT, 'bench'])
                words = out.split()
                if words[:2] != ['status', '0']:
                    print('linux client failed: %s' % out)
                    return False
                linux.append(float(words[3]))
                done = sender.wine.run([os.path.join(sender.run_dir, 'send_probe.exe'), RECIPIENT]
                                       + ['bench'] * n, WINEDLLOVERRIDES='netapi32=n',
                                       VINDREL_NETSTATUSES='50')
                words = done.stdout.split()
                statuses = [w for k, w in zip(words[::2], words[1::2]) if k == 'status']
                took = [float(w) for k, w in zip(words[::2], words[1::2]) if k == 'took']
                if statuses != ['0'] * n:
                    print('wine fallback failed: %s %s' % (done.stdout, done.stderr[-500:]))
                    return False
                wine_first.append(took[0])
                wine_rest.append(statistics.mean(took[1:]))
            figures.update(linux=statistics.median(linux), first=statistics.median(wine_first),
                           rest=statistics.median(wine_rest), pairs=[w / l for w, l in zip(wine_rest, linux)])
            return True
        finally:
            sender.stop()

    status = lab_harness.run_in_lab(os.path.join(ROOT, 'tools'), 'wb', run, give_up_after=600,
                                    dos_charset=OEM_CHARSET)
    if status != 0:
        return status
    print('\nWindows fallback bench: %d deliveries to %s per process, %d processes a side in turns;'
          ' ms per send, medians over the processes' % (n, RECIPIENT, args.processes))
    print('  Linux client, mean per send                             %8.2f' % figures['linux'])
    print('  Windows client under Wine, mean per send after the first %7.2f' % figures['rest'])
    print('  Windows under Wine, first send (asks the system first)  %8.2f' % figures['first'])
    print('  ratio Wine / Linux per delivered recipient: %.2fx (each pair of turns: %s)'
          % (figures['rest'] / figures['linux'], ' '.join('%.2f' % r for r in figures['pairs'])))
    return 0


if __name__ == '__main__':
    sys.exit(main())
