#!/usr/bin/python3
"""The Debian packages installed as a user installs them, into a throwaway
root: this machine's own file system under an overlay whose changes live in
memory, with a private /run and /tmp, its own process and network
namespaces (loopback alone, so nothing can leave) and policy-rc.d saying no,
all thrown away at the end. Nothing reaches this machine's files or
services.

apt-get installs both packages, their programs run, systemd-analyze accepts
the units, the postinst stands back where Samba holds the messenger ports,
and purging leaves no file of ours behind."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'win32'))
from checklist import Checklist  # noqa: E402

# What must run once installed, and the units systemd must accept.
COMMANDS = [['vindrel-send', '--version'], ['vindreld', '--help']]
UNITS = ['vindreld.socket', 'vindreld.service']
# Samba's message command writes the spool through the service's group.
DROP = '/usr/libexec/vindrel/vindrel-drop'
# Samba's name service, as the postinst sees it: a socket on UDP 137.
HOLD_PORT_137 = ('import socket, time; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); '
                 's.bind(("0.0.0.0", 137)); print(flush=True); time.sleep(60)')
SAMBA_NOTE = 'vindrel-receiver: Samba holds UDP 137 or TCP 139'


def enter_root(work):
    """Mounts the throwaway root (we are alone in new namespaces) and
    returns its path and the overlay's upper layer."""
    subprocess.run(['mount', '--make-rprivate', '/'], check=True)
    subprocess.run(['mount', '-t', 'tmpfs', 'tmpfs', work], check=True)
    upper, lower_work, root = (os.path.join(work, name) for name in ('upper', 'work', 'root'))
    for path in (upper, lower_work, root):
        os.mkdir(path)
    subprocess.run(['mount', '-t', 'overlay', 'overlay', '-o',
                    f'lowerdir=/,upperdir={upper},workdir={lower_work}', root], check=True)
    subprocess.run(['mount', '-t', 'proc', 'proc', root + '/proc'], check=True)
    subprocess.run(['mount', '--rbind', '/dev', root + '/dev'], check=True)
    for private in ('/run', '/tmp'):
        subprocess.run(['mount', '-t', 'tmpfs', 'tmpfs', root + private], check=True)
    with open(root + '/usr/sbin/policy-rc.d', 'w') as f:
        f.write('#!/bin/sh\nexit 101\n')
    os.chmod(root + '/usr/sbin/policy-rc.d', 0o755)
    # man-db's trigger rebuilds its whole index: seconds for nothing here.
    if os.path.exists(root + '/var/lib/man-db/auto-update'):
        os.remove(root + '/var/lib/man-db/auto-update')
    return root, upper


def inside(debs, work):
    checks = Checklist()
    check = checks.check
    root, upper = enter_root(work)
    for deb in debs:
        shutil.copy(deb, root + '/tmp/')

    def chroot(*command, env=(), **options):
        return subprocess.run(['chroot', root] + list(command), capture_output=True, text=True,
                              env=dict(os.environ, DEBIAN_FRONTEND='noninteractive', **dict(env)), **options)

    names = ['./tmp/' + os.path.basename(deb) for deb in debs]
    done = chroot('apt-get', 'install', '-y', '--no-install-recommends', '-o',
                  'DPkg::Options::=--force-unsafe-io', *names, cwd='/')
    if not check('apt-get install succeeds', done.returncode, 0):
        print(done.stdout[-3000:] + done.stderr[-3000:])
        return checks.finish()
    check('the postinst is quiet where the ports are free', SAMBA_NOTE in done.stderr, False)
    for command in COMMANDS:
        check(' '.join(command) + ' runs', chroot(*command).returncode, 0)
    done = chroot('systemd-analyze', 'verify', '--man=no', *['/lib/systemd/system/' + unit for unit in UNITS])
    check('systemd-analyze verify accepts the units', (done.returncode, done.stderr), (0, ''))
    check('the socket enabled on install',
          os.path.islink(root + '/etc/systemd/system/sockets.target.wants/vindreld.socket'), True)
    check('vindrel-drop setgid to the group vindrel', chroot('stat', '-c', '%G %a', DROP).stdout.strip(),
          'vindrel 2755')

    # Samba's nmbd on UDP 137: the postinst leaves the socket off and says why.
    holder = subprocess.Popen([sys.executable, '-c', HOLD_PORT_137], stdout=subprocess.PIPE)
    try:
        holder.stdout.readline()
        # As dpkg runs it (deb-systemd-helper insists).
        done = chroot('/var/lib/dpkg/info/vindrel-receiver.postinst', 'configure', '',
                      env={'DPKG_MAINTSCRIPT_PACKAGE': 'vindrel-receiver', 'DPKG_MAINTSCRIPT_NAME': 'postinst'})
    finally:
        holder.kill()
    check('with Samba on UDP 137 the postinst succeeds', done.returncode, 0)
    note = [line for line in done.stderr.splitlines() if SAMBA_NOTE in line]
    check('and says why in one line, naming the Samba route',
          len(note) == 1 and 'examples/smb.conf' in note[0], True)
    check('and leaves the socket disabled',
          os.path.lexists(root + '/etc/systemd/system/sockets.target.wants/vindreld.socket'), False)

    done = chroot('apt-get', 'purge', '-y', 'vindrel', 'vindrel-receiver')
    check('apt-get purge succeeds', done.returncode, 0)
    left = []
    for folder, dirs, files in os.walk(upper):
        for name in dirs + files:
            path = os.path.join(folder, name)
            if 'vindrel' in path[len(upper):] and not name.endswith('.deb'):
                left.append(path[len(upper):])
    check('purge leaves no file of ours behind', sorted(left), [])
    return checks.finish()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--inside', action='store_true', help=argparse.SUPPRESS)
    parser.add_argument('--work', required=True, help='an empty folder for the root (a tmpfs goes on it)')
    parser.add_argument('debs', nargs='+')
    opts = parser.parse_args()
    if opts.inside:
        return inside(opts.debs, opts.work)
    if os.geteuid() != 0:
        print('FAIL: needs root for the throwaway root' if os.environ.get('CI') == 'true'
              else 'SKIP: needs root for the throwaway root')
        return 1 if os.environ.get('CI') == 'true' else 77
    os.makedirs(opts.work, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=os.path.abspath(opts.work)) as work:
        return subprocess.run(['unshare', '--mount', '--pid', '--fork', '--net', '--uts', '--kill-child',
                               sys.executable, os.path.abspath(__file__), '--inside', '--work', work] +
                              [os.path.abspath(deb) for deb in opts.debs]).returncode


if __name__ == '__main__':
    sys.exit(main())
