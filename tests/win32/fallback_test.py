#!/usr/bin/python3
"""The Windows program where the system cannot send: the test-only
netapi32.dll answers 50, as every Windows since Vista does, so the program's
own messenger client delivers, from the sender namespace of the lab of
tools/netbios_lab.py, to its real Samba receivers.

Wine runs inside that namespace, its wineserver included: Wine makes its
sockets in the wineserver. The prefix is this test's own; the double sits in
the prefix's system folder with Wine told to prefer it, never beside the
program. The receivers read the DOS code page of the prefix (437, Wine's
default for en-US).

Runs: the Winsock network's tests in the namespace; the send probe against a computer name (the exact text, accents
included; the system asked once), vindreld (with --vindreld), an alias, an unknown name, a host whose
smbd is stopped, "*", no library, a library without the function and one
only beside the program; then
vindrel.exe end to end: type, Send, the message arrives; an unknown name
gives the not-found prompt; "*" with every thread start refused. Last, Wine's
own netapi32.dll instead of the double, with DLLs planted beside the programs:
vindrel-send.exe and the window deliver.
"""
import argparse
import os
import pwd
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'netbios'))
import lab_harness  # noqa: E402
from checklist import Checklist, system_folder, windows_path  # noqa: E402
from e2e_test import App, Failed, Wine, XServer, wait_for  # noqa: E402

VISTA = ','.join(['50'] * 20)  # every call answers 50
OEM_CHARSET = 'CP437'
NOT_FOUND = ("Error: Message didn't reached to 'nosuch'.\r\nThe To field should contains valid "
             'login name or computer name or * or user might not have logged on\r\nContinue?')


class Sender:
    """The send probe and the program, run by Wine in the lab's sender namespace."""

    def __init__(self, lab, opts, display):
        self.lab, self.opts = lab, opts
        self.run_dir = os.path.join(opts.work, 'run')
        os.makedirs(self.run_dir, exist_ok=True)
        # Nothing but the programs in their folder.
        for name in os.listdir(self.run_dir):
            os.remove(os.path.join(self.run_dir, name))
        shutil.copy(opts.probe, os.path.join(self.run_dir, 'send_probe.exe'))
        shutil.copy(opts.exe, os.path.join(self.run_dir, 'vindrel.exe'))
        shutil.copy(opts.cli, os.path.join(self.run_dir, 'vindrel-send.exe'))
        self.log = os.path.join(opts.work, 'calls.log')
        prefix = os.path.join(opts.work, 'prefix')
        # Wine ends any wineserver of the prefix first, wherever it runs: one
        # left outside the namespace would make the sockets outside it.
        self.wine = Wine(opts.loader, opts.arch, prefix, display, wrap=lab.exec_in('cli'))
        self.wine.env.update(LC_ALL='C.UTF-8')
        self.wine.run(['reg', 'add', r'HKCU\Software\Wine\X11 Driver', '/v', 'Managed', '/d', 'N', '/f'])
        self.system = system_folder(prefix, opts.probe)

    def place(self, double):
        """Puts `double` into the prefix's system folder as netapi32.dll;
        None takes it away."""
        target = os.path.join(self.system, 'netapi32.dll')
        if double:
            shutil.copy(double, target)
        elif os.path.exists(target):
            os.remove(target)

    def probe(self, name, *texts, overrides='netapi32=n'):
        """The statuses of one probe run, and how many times it asked the system."""
        if os.path.exists(self.log):
            os.remove(self.log)
        done = self.wine.run([os.path.join(self.run_dir, 'send_probe.exe'), name] + list(texts),
                             WINEDLLOVERRIDES=overrides, VINDREL_NETSTATUSES=VISTA,
                             VINDREL_NETLOG=windows_path(self.log))
        if done.returncode != 0:
            raise Failed(f'send_probe {name} exited {done.returncode}: {done.stderr[-500:]}')
        lines = done.stdout.split()
        statuses = [int(v) for k, v in zip(lines[::2], lines[1::2]) if k == 'status']
        asked = 0
        if os.path.exists(self.log):
            with open(self.log) as f:
                asked = len(f.readlines())
        return statuses, asked

    def stop(self):
        self.wine.stop()


def network_checks(lab, sender, checks):
    """The Winsock network's own tests, which need the lab's interface and hosts."""
    lan = lab.address('cli').rsplit('.', 1)[0]
    # A locale whose ANSI code page is UTF-8, for the computer name's test.
    done = sender.wine.run([sender.opts.network_tests], VINDREL_LAB_INTERFACE='%s/%d' % (lab.address('cli'), lab.prefix),
                           VINDREL_LAB_RECEIVER=lab.address('rx1'), VINDREL_LAB_NOSMBD=lab.address('rx3'),
                           VINDREL_LAB_NOBODY=lan + '.99', LC_ALL='hi_IN.UTF-8')
    print(done.stdout[-4000:])
    checks.check('the Winsock network in the lab (win32_network_tests)', done.returncode, 0)


def probe_checks(lab, sender, checks):
    check = checks.check
    computer = sender.wine.run(['cmd', '/c', 'echo %COMPUTERNAME%']).stdout.strip()
    text = 'caf\u00e9 \u00a2 5\u20ac'

    lab.clear_inboxes()
    check('computer name: delivered, twice, the system asked once',
          sender.probe('rx1', text, 'second'), ([0, 0], 1))
    check('computer name: the exact text, a missing character as "?", this computer as sender',
          sorted(lab.messages('rx1', want=2)), [(computer, 'caf\u00e9 \u00a2 5?'), (computer, 'second')])

    lab.clear_inboxes()
    check('alias: delivered', sender.probe('alice', 'for alice \u00e9'), ([0], 1))
    check('alias: arrives at its host', [m[1] for m in lab.messages('rx1')], ['for alice \u00e9'])

    check('unknown name: 2273', sender.probe('nosuch', 'x'), ([2273], 1))
    check('smbd stopped: 2136', sender.probe('rx3', 'x'), ([2136], 1))

    lab.clear_inboxes()
    check('"*": delivered', sender.probe('*', 'to everyone'), ([0], 1))
    time.sleep(0.5)
    for host in ('rx1', 'rx2'):
        check(f'"*": reaches {host} once', [m[1] for m in lab.messages(host)], ['to everyone'])

    if lab.vindreld:
        kept = len(lab.records('vrx'))  # "*" reached it too
        check('vindreld: delivered, the exact text in its spool',
              (sender.probe('vrx', text), lab.records('vrx', want=kept + 1)[kept:]),
              (([0], 1), [(computer, 'VRX', 'caf\u00e9 \u00a2 5?')]))

    lab.clear_inboxes()
    check('no NetApi32.dll: the client delivers', sender.probe('rx2', 'no library', overrides='netapi32=d'),
          ([0], 0))
    sender.place(sender.opts.noexport_double)
    check('no NetMessageBufferSend: the client delivers', sender.probe('rx2', 'no function')[0], [0])
    # Only in the system folder is the library looked for.
    sender.place(None)
    planted = os.path.join(sender.run_dir, 'netapi32.dll')
    shutil.copy(sender.opts.double, planted)
    try:
        check('a netapi32.dll beside the program is not loaded; the client delivers',
              sender.probe('rx2', 'not beside'), ([0], 0))
    finally:
        os.remove(planted)
        sender.place(sender.opts.double)
    check('all three arrive', sorted(m[1] for m in lab.messages('rx2', want=3)),
          ['no function', 'no library', 'not beside'])


def window_checks(lab, sender, xserver, checks):
    check = checks.check
    login = pwd.getpwuid(os.getuid()).pw_name
    lab.clear_inboxes()
    # From the first send on, no thread of the program can start.
    refusals = os.path.join(sender.opts.work, 'threads.log')
    if os.path.exists(refusals):
        os.remove(refusals)
    app = App(sender.wine, sender.run_dir, sender.log, VISTA, VINDREL_REFUSE_THREADS=windows_path(refusals))
    try:
        app.keys('End', 'shift+Home', 'BackSpace')
        app.type('rx2')
        app.keys('Tab')
        app.type('Hi from the window')
        app.keys('alt+s')
        check('window: the message arrives, signed', [m[1] for m in lab.messages('rx2', timeout=15)],
              [f'Hi from the window\nSent by {login}'])
        time.sleep(0.5)
        check('window: a delivery shows no box', app.windows(), [app.main])

        app.keys('shift+Tab', 'shift+Tab', 'End', 'shift+Home', 'BackSpace')  # from cmdSend to txtTo
        app.type('nosuch')
        app.keys('alt+s')
        box = app.box()
        check('window: an unknown name gives the not-found prompt', app.box_text(), NOT_FOUND)
        app.answer(box, 'n')
        check('window: the system asked once in the run', len(app.calls()), 1)

        lab.clear_inboxes()
        app.keys('shift+Tab', 'shift+Tab', 'End', 'shift+Home', 'BackSpace')
        app.type('*')
        app.keys('alt+s')
        check('window: "*" when no thread can start: each receiver gets it, no box',
              ([[m[1] for m in lab.messages(host, timeout=15)] for host in ('rx1', 'rx2')], app.windows()),
              ([[f'Hi from the window\nSent by {login}']] * 2, [app.main]))
        check('window: thread starts were refused, and the program caught it',
              (os.path.exists(refusals), app.proc.poll()), (True, None))
    finally:
        app.close()


def stock_wine_checks(lab, sender, checks):
    """Wine's own netapi32.dll, whose NetMessageBufferSend is a stub that
    raises an exception: vindrel-send and the window deliver through the
    client. A DLL that Wine is told to prefer, planted beside them as
    comctl32.dll (the window's) and dnsapi.dll (iphlpapi's under Wine), is
    never loaded."""
    check = checks.check
    login = pwd.getpwuid(os.getuid()).pw_name
    marks = os.path.join(sender.opts.work, 'planted.mark')
    planted = [os.path.join(sender.run_dir, name) for name in ('comctl32.dll', 'dnsapi.dll')]
    for path in planted:
        shutil.copy(sender.opts.planted, path)
    for path in (marks, sender.log):
        if os.path.exists(path):
            os.remove(path)
    overrides, mark = 'netapi32=b;comctl32,dnsapi=n,b', windows_path(marks)
    lab.clear_inboxes()
    app = None
    try:
        try:  # Wine's stub, if called, raises an exception whose crash box waits
            done = sender.wine.run([os.path.join(sender.run_dir, 'vindrel-send.exe'), '-v', 'rx2', 'from the console'],
                                   timeout=30, WINEDLLOVERRIDES=overrides, VINDREL_PLANTED_LOG=mark,
                                   VINDREL_NETLOG=windows_path(sender.log))
        except subprocess.TimeoutExpired:
            raise Failed('stock Wine: vindrel-send did not end')
        check('stock Wine: vindrel-send -v delivers and says how; the double is not loaded',
              (done.returncode, done.stdout, done.stderr, [m[1] for m in lab.messages('rx2')],
               os.path.exists(sender.log)),
              (0, 'rx2 delivered\n', "vindrel-send: on Wine, whose NetMessageBufferSend is a stub: sending with "
               "vindrel's own messenger client\n", [f'from the console\nSent by {login}'], False))

        lab.clear_inboxes()
        app = App(sender.wine, sender.run_dir, sender.log, '', overrides=overrides, VINDREL_PLANTED_LOG=mark)
        app.keys('End', 'shift+Home', 'BackSpace')
        app.type('rx2')
        app.keys('Tab')
        app.type('Hi on stock Wine')
        app.keys('alt+s')
        check('stock Wine: the window delivers, shows no box and does not load the double',
              ([m[1] for m in lab.messages('rx2', timeout=15)], app.windows(), app.calls()),
              ([f'Hi on stock Wine\nSent by {login}'], [app.main], []))
    finally:
        if app:
            app.close()
        for path in planted:
            os.remove(path)
    check('no planted DLL was loaded', os.path.exists(marks), False)


def main():
    parser = argparse.ArgumentParser()
    for name in ('loader', 'arch', 'exe', 'cli', 'probe', 'double', 'noexport-double', 'planted', 'network-tests',
                 'work', 'tools'):
        parser.add_argument('--' + name, required=True)
    parser.add_argument('--vindreld', help='the Linux build\'s vindreld, for a receiver without Samba')
    opts = parser.parse_args()
    os.makedirs(opts.work, exist_ok=True)

    def run(lab):
        checks = Checklist()
        xserver = XServer()
        sender = None
        try:
            sender = Sender(lab, opts, xserver.display)
            sender.place(opts.double)
            network_checks(lab, sender, checks)
            probe_checks(lab, sender, checks)
            window_checks(lab, sender, xserver, checks)
            stock_wine_checks(lab, sender, checks)
        except Failed as error:
            checks.fail(str(error))
        finally:
            if sender:
                sender.stop()
            xserver.close()
        return checks.finish() == 0

    sys.path.insert(0, opts.tools)
    import netbios_lab
    hosts = dict(netbios_lab.HOSTS, **(netbios_lab.VINDRELD_HOST if opts.vindreld else {}))
    return lab_harness.run_in_lab(opts.tools, 'wf', run, give_up_after=420, needs=('xdotool', 'Xvfb'),
                                  dos_charset=OEM_CHARSET, hosts=hosts, vindreld=opts.vindreld,
                                  vindreld_config=['dos charset = ' + OEM_CHARSET])


if __name__ == '__main__':
    sys.exit(main())
