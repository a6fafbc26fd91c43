#!/usr/bin/python3
"""The .debs installed into a Debian 12 root and booted there with systemd
as PID 1 (systemd-nspawn), twice, as a computer is switched on, off and on
again: after each boot vindreld.service is active, its names answer, a
message sent right away is kept in the spool (the first one still there
after the second boot), and a stop of the service sticks.

The root is made once with debootstrap and kept under --work; each run
purges and installs the packages again. The container's only interface is
in a namespace of the lab (tools/netbios_lab.py), whose client host plays
the sender with Samba's nmblookup and smbclient; packages are downloaded
over this machine's network, but installed, and booted, without it.
Every step says how long it took."""
import argparse
import glob
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), 'win32'))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), 'netbios'))
from checklist import Checklist  # noqa: E402
from lab_harness import run_in_lab, skip_or_fail  # noqa: E402

SUITE = 'bookworm'
NAME = 'VBOOT'  # the container's host name, upper case: vindreld's name
ADDRESS = '10.77.1.21'
HOSTS = {'cli': ('a', '10.77.1.10', 'client', {}), 'box': ('a', ADDRESS, 'peer', {})}
SPOOL = 'var/spool/vindrel'
# Settled root: debootstrap done, apt's sources and lists in place.
STAMP = '.vindrel-boot-root'
# Deadlines: a boot on a busy machine takes seconds, never minutes.
BOOT_SECONDS = 120
POWEROFF_SECONDS = 60
NAMES_SECONDS = 20
SPOOL_SECONDS = 10
STOP_SETTLE_SECONDS = 2
# A slow mirror, not a stuck one.
DEBOOTSTRAP_SECONDS = 1800
APT_SECONDS = 900


def timed(what, function, *args, **kwargs):
    start = time.monotonic()
    try:
        return function(*args, **kwargs)
    finally:
        print(f'time {what}: {time.monotonic() - start:.1f} s', flush=True)


def debian_sources():
    """This machine's apt sources that name the suite, and its main mirror."""
    files = [path for path in glob.glob('/etc/apt/sources.list.d/*.sources') +
             glob.glob('/etc/apt/sources.list.d/*.list') + ['/etc/apt/sources.list']
             if os.path.isfile(path) and SUITE in open(path).read()]
    mirror = None
    for path in files:
        for line in open(path).read().splitlines():
            words = line.split()
            if path.endswith('.sources') and words[:1] == ['URIs:'] and not mirror:
                mirror = words[1]
            elif words[:1] == ['deb'] and SUITE in words and not mirror:
                mirror = next(w for w in words[1:] if '://' in w)
    return files, mirror or 'http://deb.debian.org/debian'


def unmount_under(path):
    """Undoes mounts a killed debootstrap or container left under path, so
    that removing it cannot reach this machine's /proc or /sys."""
    def points():
        with open('/proc/mounts') as f:
            return sorted((p for p in (line.split()[1] for line in f) if p.startswith(path + '/')), reverse=True)
    for point in points():
        subprocess.run(['umount', '-l', point])
    if points():
        raise RuntimeError(f'still mounted under {path}: {points()}')


def nspawn(root, *command, network=False):
    """A command in the root, not booted; with network=False it has none.
    Given APT_SECONDS, as the longest of them is apt's."""
    return subprocess.run(['systemd-nspawn', '--quiet', '--register=no', '--keep-unit', '--directory', root] +
                          ([] if network else ['--private-network']) + ['--'] + list(command),
                          stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          env=dict(os.environ, DEBIAN_FRONTEND='noninteractive'), timeout=APT_SECONDS)


def make_root(work):
    """The cached root, made with debootstrap on the first run."""
    root, new = os.path.join(work, 'root'), os.path.join(work, 'root.new')
    if os.path.exists(os.path.join(root, STAMP)):
        return root
    files, mirror = debian_sources()
    unmount_under(new)
    shutil.rmtree(new, ignore_errors=True)
    print(f'making a {SUITE} root with debootstrap from {mirror}', flush=True)
    made = subprocess.run(['debootstrap', '--variant=minbase', '--include=systemd,systemd-sysv,dbus', SUITE, new,
                           mirror], capture_output=True, text=True, timeout=DEBOOTSTRAP_SECONDS)
    unmount_under(new)
    if made.returncode != 0:
        raise RuntimeError('debootstrap failed: ' + (made.stdout + made.stderr)[-2000:])
    with open(os.path.join(new, 'etc/hostname'), 'w') as f:
        f.write(NAME.lower() + '\n')
    for path in files:
        shutil.copy(path, os.path.join(new, 'etc/apt/sources.list.d', os.path.basename(path)))
    updated = nspawn(new, 'apt-get', 'update', '-qq', network=True)
    if updated.returncode != 0:
        raise RuntimeError('apt-get update in the root failed: ' + updated.stderr[-2000:])
    open(os.path.join(new, STAMP), 'w').close()
    os.rename(new, root)
    return root


def install(root, debs):
    """Purges what an earlier run installed, then installs the .debs:
    their dependencies downloaded with this machine's network, the packages
    installed without any, so no maintainer script can reach it."""
    unmount_under(root)
    nspawn(root, 'dpkg', '--purge', 'vindrel', 'vindrel-receiver')
    shutil.rmtree(os.path.join(root, SPOOL), ignore_errors=True)
    folder = os.path.join(root, 'root/debs')
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    names = []
    for deb in debs:
        shutil.copy(deb, folder)
        names.append('/root/debs/' + os.path.basename(deb))
    apt = ['apt-get', 'install', '-y', '-qq', '--no-install-recommends']
    fetched = nspawn(root, *apt, '--download-only', *names, network=True)
    if fetched.returncode != 0:
        # The lists a root made days ago may name files the mirror has dropped.
        nspawn(root, 'apt-get', 'update', '-qq', network=True)
        fetched = nspawn(root, *apt, '--download-only', *names, network=True)
    done = nspawn(root, *apt, *names) if fetched.returncode == 0 else fetched
    if done.returncode != 0:
        raise RuntimeError(f'{" ".join(apt)} failed: {(done.stdout + done.stderr)[-3000:]}')


class Container:
    """The root booted with systemd as PID 1 in the lab's namespace."""

    def __init__(self, root, netns, log):
        self.root, self.log = root, log
        with open(log, 'w') as out:
            self.nspawn = subprocess.Popen(
                ['systemd-nspawn', '--boot', '--register=no', '--keep-unit', '--directory', root,
                 '--machine', NAME.lower(), '--network-namespace-path=/run/netns/' + netns, '--console=read-only'],
                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        self.netns = netns
        self.leader = None

    def _find_leader(self):
        for pid in subprocess.run(['ip', 'netns', 'pids', self.netns], capture_output=True, text=True).stdout.split():
            try:
                with open(f'/proc/{pid}/status') as f:
                    ids = next(line.split()[1:] for line in f if line.startswith('NSpid:'))
            except (OSError, StopIteration):
                continue
            # PID 1 of its own namespace, once nspawn's child has become systemd.
            if len(ids) > 1 and ids[-1] == '1' and open(f'/proc/{pid}/comm').read().strip() == 'systemd':
                return int(pid)
        return None

    def booted(self):
        """systemctl is-system-running once the boot is over, or why not."""
        deadline = time.monotonic() + BOOT_SECONDS
        while self.leader is None:
            if self.nspawn.poll() is not None or time.monotonic() > deadline:
                return 'no PID 1 in the container'
            self.leader = self._find_leader()
            time.sleep(0.1)
        # systemctl fails until systemd listens on its private socket.
        while True:
            try:
                state = self.run('systemctl', 'is-system-running', '--wait',
                                 timeout=max(1, deadline - time.monotonic())).stdout.strip()
            except subprocess.TimeoutExpired:
                return f'still booting after {BOOT_SECONDS} s'
            if state or time.monotonic() > deadline:
                return state or 'systemctl never answered'
            time.sleep(0.1)

    def run(self, *command, timeout=30):
        return subprocess.run(['nsenter', '--target', str(self.leader), '--all'] + list(command),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout)

    def state(self, unit):
        return self.run('systemctl', 'is-active', unit).stdout.strip()

    def power_off(self):
        """An orderly shutdown (nspawn asks PID 1 on SIGTERM); killed when
        it takes too long. True when it went down in time."""
        if self.nspawn.poll() is not None:
            return True
        self.nspawn.send_signal(signal.SIGTERM)
        try:
            self.nspawn.wait(POWEROFF_SECONDS)
            return True
        except subprocess.TimeoutExpired:
            os.killpg(self.nspawn.pid, signal.SIGKILL)
            self.nspawn.wait()
            return False


def spooled(root, text):
    """The names of the spool's records that hold text."""
    folder = os.path.join(root, SPOOL)
    names = sorted(n for n in os.listdir(folder) if n.endswith('.msg')) if os.path.isdir(folder) else []
    return [n for n in names if text.encode() in open(os.path.join(folder, n), 'rb').read()]


def wait_for(what, seconds):
    """what() until it is true or the deadline passes; its last value."""
    deadline = time.monotonic() + seconds
    while True:
        got = what()
        if got or time.monotonic() > deadline:
            return got
        time.sleep(0.5)


def one_boot(lab, root, number, checks, earlier):
    """Boots, checks, powers off. Returns whether it booted, and the text of
    the message it sent where the spool kept it."""
    check = checks.check
    container = timed(f'boot {number}: start', Container, root, lab.ns('box'),
                      os.path.join(os.path.dirname(root), f'boot-{number}.log'))
    try:
        state = timed(f'boot {number}: until systemd reports the boot over', container.booted)
        if not check(f'boot {number}: systemd as PID 1 finished the boot', state in ('running', 'degraded'), True):
            print(f'     {state}; the console:\n' + open(container.log, errors='replace').read()[-3000:])
            return False, None
        print(f'     {state}')
        if state == 'degraded':
            print('     failed units: ' + container.run('systemctl', '--failed', '--no-legend').stdout.strip())
        check(f'boot {number}: vindreld.service active after boot', container.state('vindreld.service'), 'active')
        print(f'     vindreld.socket: {container.state("vindreld.socket")}')

        text = f'boot check {os.getpid()} boot {number}'
        sent = timed(f'boot {number}: smbclient -M', subprocess.run,
                     lab.exec_in('cli', 'smbclient', '-s', lab.config('cli'), '-M', NAME, '-I', ADDRESS, '-N',
                                 '-U', 'bootcheck'), input=text, capture_output=True, text=True, timeout=60)
        delivered = check(f'boot {number}: smbclient -M right after boot succeeds', sent.returncode, 0)
        if not delivered:
            print('     ' + (sent.stdout + sent.stderr).strip()[-500:])
        kept = timed(f'boot {number}: the message in the spool', wait_for, lambda: spooled(root, text),
                     SPOOL_SECONDS if delivered else 0)
        kept = check(f'boot {number}: the message kept in /{SPOOL}', len(kept), 1)
        if earlier:
            check(f'boot {number}: the message of the boot before still kept', len(spooled(root, earlier)), 1)

        def answered():
            asked = lab.exec_in('cli', 'nmblookup', '-s', lab.config('cli'), NAME + '#03')
            return f'{ADDRESS} {NAME}<03>' in subprocess.run(asked, capture_output=True, text=True, timeout=30).stdout
        check(f'boot {number}: nmblookup {NAME}#03 from the sender host',
              timed(f'boot {number}: nmblookup answered', wait_for, answered, NAMES_SECONDS), True)

        stopped = container.run('systemctl', 'stop', 'vindreld.service')
        time.sleep(STOP_SETTLE_SECONDS)
        check(f'boot {number}: systemctl stop vindreld.service sticks ({STOP_SETTLE_SECONDS} s later)',
              (stopped.returncode, container.state('vindreld.service')), (0, 'inactive'))
        if stopped.stderr.strip():
            print('     systemctl stop said: ' + stopped.stderr.strip())
        journal = container.run('journalctl', '--no-pager', '--boot', '-o', 'short-monotonic', '-u', 'vindreld.service',
                                '-u', 'vindreld.socket').stdout
        print('     the journal of vindreld:\n' + ''.join('       ' + line + '\n'
                                                          for line in journal.splitlines()[-25:]))
        return True, text if kept else None
    finally:
        down = timed(f'boot {number}: power off', container.power_off)
        check(f'boot {number}: powered off within {POWEROFF_SECONDS} s', down, True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--work', required=True, help='where the root is kept between runs')
    parser.add_argument('--tools', required=True, help="the folder of the lab's netbios_lab.py")
    parser.add_argument('debs', nargs='+')
    opts = parser.parse_args()
    if os.geteuid() != 0:
        skip_or_fail('needs root for debootstrap, systemd-nspawn and network namespaces')
    for tool in ('debootstrap', 'systemd-nspawn', 'nsenter', 'smbclient', 'nmblookup'):
        if not shutil.which(tool):
            skip_or_fail(f'{tool} is not installed')
    work = os.path.abspath(opts.work)
    os.makedirs(work, exist_ok=True)
    debs = [os.path.abspath(deb) for deb in opts.debs]
    root = timed('the root (debootstrap on the first run)', make_root, work)
    timed('purge and install the packages', install, root, debs)

    checks = Checklist()

    def body(lab):
        earlier = None
        for number in (1, 2):
            booted, earlier = one_boot(lab, root, number, checks, earlier)
            if not booted:
                break
        return True
    status = run_in_lab(opts.tools, 'bt', body, give_up_after=2 * (BOOT_SECONDS + POWEROFF_SECONDS) + 120,
                        hosts=HOSTS)
    if status:
        checks.fail('the lab ended cleanly')
    return checks.finish()


if __name__ == '__main__':
    sys.exit(main())
