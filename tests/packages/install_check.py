#!/usr/bin/python3
"""The .debs installed with apt-get into a throwaway root (an overlay over
this machine's files kept in memory, private /run and /tmp, new process and
network namespaces, policy-rc.d saying no), then purged: nothing reaches
this machine's files, services or network."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'win32'))
from checklist import Checklist  # noqa: E402

COMMANDS = [['vindrel-send', '--version'], ['vindreld', '--help']]
UNITS = ['/lib/systemd/system/vindreld.socket', '/lib/systemd/system/vindreld.service']
SOCKET_LINK = '/etc/systemd/system/sockets.target.wants/vindreld.socket'
DROP = '/usr/libexec/vindrel/vindrel-drop'
SAMBA_NOTE = 'vindrel-receiver: Samba holds UDP 137, UDP 138 or TCP 139'
# Samba's name service as the postinst sees it: a socket on UDP 137.
HOLD_137 = 'import socket,time; s = socket.socket(2, 2); s.bind(("0.0.0.0", 137)); print(flush=True); time.sleep(60)'
# man-db's trigger would rebuild its whole index, for nothing here.
MOUNT = '''set -e; mount --make-rprivate /; mount -t tmpfs tmpfs "$1"; cd "$1"; mkdir upper work root
mount -t overlay overlay -o lowerdir=/,upperdir=upper,workdir=work root
mount -t proc proc root/proc; mount --rbind /dev root/dev; mount -t tmpfs tmpfs root/run; mount -t tmpfs tmpfs root/tmp
printf '#!/bin/sh\\nexit 101\\n' >root/usr/sbin/policy-rc.d; chmod 755 root/usr/sbin/policy-rc.d
rm -f root/var/lib/man-db/auto-update'''


def inside(debs, work):
    checks = Checklist()
    check = checks.check
    subprocess.run(['bash', '-c', MOUNT, 'mount', work], check=True)
    root, upper = work + '/root', work + '/upper'
    for deb in debs:
        shutil.copy(deb, root + '/tmp/')

    def chroot(*command, **env):
        return subprocess.run(['chroot', root] + list(command), capture_output=True, text=True, cwd='/',
                              env=dict(os.environ, DEBIAN_FRONTEND='noninteractive', **env))

    done = chroot('apt-get', 'install', '-y', '--no-install-recommends', '-o', 'DPkg::Options::=--force-unsafe-io',
                  *['./tmp/' + os.path.basename(deb) for deb in debs])
    if not check('apt-get install succeeds', done.returncode, 0):
        print(done.stdout[-3000:] + done.stderr[-3000:])
        return checks.finish()
    check('the postinst is quiet where the ports are free', SAMBA_NOTE in done.stderr, False)
    for command in COMMANDS:
        check(' '.join(command) + ' runs', chroot(*command).returncode, 0)
    done = chroot('systemd-analyze', 'verify', '--man=no', *UNITS)
    check('systemd-analyze verify accepts the units', (done.returncode, done.stderr), (0, ''))
    check('the socket enabled, vindrel-drop not setgid where Samba does not run it',
          (os.path.islink(root + SOCKET_LINK), chroot('stat', '-c', '%G %a', DROP).stdout.strip()),
          (True, 'root 755'))
    os.makedirs(root + '/etc/samba', exist_ok=True)
    with open(root + '/etc/samba/smb.conf', 'a') as conf:
        conf.write('[global]\n   Message Command = %s "%%f" "%%L" "%%s"\n' % DROP)

    holder = subprocess.Popen([sys.executable, '-c', HOLD_137], stdout=subprocess.PIPE)
    try:
        holder.stdout.readline()
        # As dpkg runs it: deb-systemd-helper insists.
        done = chroot('/var/lib/dpkg/info/vindrel-receiver.postinst', 'configure', '',
                      DPKG_MAINTSCRIPT_PACKAGE='vindrel-receiver', DPKG_MAINTSCRIPT_NAME='postinst')
    finally:
        holder.kill()
    note = [line for line in done.stderr.splitlines() if SAMBA_NOTE in line]
    check('with Samba on UDP 137 running vindrel-drop: succeeds, one line naming the Samba route, '
          'the socket disabled, vindrel-drop setgid to the group vindrel',
          (done.returncode, len(note) == 1 and 'examples/smb.conf' in note[0], os.path.lexists(root + SOCKET_LINK),
           chroot('stat', '-c', '%G %a', DROP).stdout.strip()),
          (0, True, False, 'vindrel 2755'))
    os.remove(root + '/etc/samba/smb.conf')
    chroot('/var/lib/dpkg/info/vindrel-receiver.postinst', 'configure', '1.0.0',
           DPKG_MAINTSCRIPT_PACKAGE='vindrel-receiver', DPKG_MAINTSCRIPT_NAME='postinst')
    check('configured again without Samba: vindrel-drop not setgid',
          chroot('stat', '-c', '%G %a', DROP).stdout.strip(), 'root 755')

    check('apt-get purge succeeds', chroot('apt-get', 'purge', '-y', 'vindrel', 'vindrel-receiver').returncode, 0)
    left = [os.path.join(folder, name)[len(upper):] for folder, dirs, files in os.walk(upper)
            for name in dirs + files if 'vindrel' in os.path.join(folder, name)[len(upper):] and
            not name.endswith('.deb')]
    check('purge leaves no file of ours behind', sorted(left), [])
    return checks.finish()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--inside', action='store_true', help=argparse.SUPPRESS)
    parser.add_argument('--work', required=True, help='a folder for the root (a tmpfs goes on it)')
    parser.add_argument('debs', nargs='+')
    opts = parser.parse_args()
    if opts.inside:
        return inside(opts.debs, opts.work)
    if os.geteuid() != 0:
        ci = os.environ.get('CI') == 'true'
        print(('FAIL' if ci else 'SKIP') + ': needs root for the throwaway root')
        return 1 if ci else 77
    os.makedirs(opts.work, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=os.path.abspath(opts.work)) as work:
        return subprocess.run(['unshare', '--mount', '--pid', '--fork', '--net', '--uts', '--kill-child',
                               sys.executable, os.path.abspath(__file__), '--inside', '--work', work] +
                              [os.path.abspath(deb) for deb in opts.debs]).returncode


if __name__ == '__main__':
    sys.exit(main())
