#!/usr/bin/env python3
"""A small NetBIOS lab of network namespaces with Samba receivers.

Everything lives in namespaces this script creates: a switch namespace holds
two bridges (LAN A and LAN B), every host namespace hangs off one of them by a
veth pair created inside the switch namespace, so the machine's own interfaces
are never touched. The router host joins both LANs and runs the WINS server.

    tools/netbios_lab.py start [--tag TAG] [--drop PATH] [--vindreld PATH]
                                             start the lab and leave it running;
                                             with --drop, receivers keep messages
                                             with vindrel-drop in <host>/spool/;
                                             with --vindreld, host VRX (10.77.1.21)
                                             receives with vindreld, no Samba
    tools/netbios_lab.py stop  [--tag TAG]   stop its daemons, delete its namespaces
    tools/netbios_lab.py status [--tag TAG]

While it runs, try the client from the client namespace, e.g.
    ip netns exec net-lab-cli build/tests/netbios/netsend_probe \\
        --config /tmp/vindrel-netlab-lab/cli/smb.conf RX1 'hello'
and watch messages arrive in /tmp/vindrel-netlab-lab/<host>/inbox/.
"""

import argparse
import ipaddress
import json
import os
import pwd
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time

LAN_A = "10.77.1"
LAN_B = "10.77.2"

# name: (lan, address, role, extra)
#   role "msg"    nmbd + smbd with a message command
#   role "nomsg"  nmbd + smbd without a message command (refuses messages)
#   role "smb2"   nmbd + smbd with SMB1 switched off
#   role "nosmbd" nmbd only (smbd stopped)
#   role "wins"   nmbd as WINS server, router between the LANs
#   role "client" no daemons; the sending side
#   role "peer"   no daemons; a test runs a misbehaving peer there
#   role "vindreld" our own receiver, no Samba (with Lab(vindreld=PATH))
HOSTS = {
    "cli":    ("a", LAN_A + ".10", "client", {}),
    "wins":   ("ab", LAN_A + ".1", "wins", {"b_address": LAN_B + ".1"}),
    "rx1":    ("a", LAN_A + ".11", "msg", {"aliases": ["ALICE", "BOB"]}),
    "rx2":    ("a", LAN_A + ".12", "msg", {"aliases": ["CAROL"]}),
    "rx3":    ("a", LAN_A + ".13", "nosmbd", {}),
    "rx4":    ("a", LAN_A + ".14", "nomsg", {}),
    "rx5":    ("a", LAN_A + ".15", "smb2", {}),
    "far":    ("b", LAN_B + ".20", "msg", {"aliases": ["DAVE"]}),
}

# The crowd the hostile-LAN tests add on LAN A: hosts that answer "*" and
# then stall, flood or forge (tests/netbios/hostile_nbns.py, hostile_peer.py).
CROWD = {
    "ph1":     ("a", LAN_A + ".31", "peer", {}),
    "ph2":     ("a", LAN_A + ".32", "peer", {}),
    "stall":   ("a", LAN_A + ".33", "peer", {}),
    "kaflood": ("a", LAN_A + ".34", "peer", {}),
    "flood":   ("a", LAN_A + ".35", "peer", {}),
    "spoof":   ("a", LAN_A + ".40", "peer", {}),
}


# A receiver that runs vindreld instead of Samba, and the accounts of a
# passwd file the lab makes for it (bind-mounted over /etc/passwd in that
# namespace's commands only): the service's own, and desktop users whom no
# other host knows.
VINDRELD_HOST = {"vrx": ("a", LAN_A + ".21", "vindreld", {})}
VINDRELD_ACCOUNTS = {"vindrel": 4240, "erin": 4242, "alice": 4243, "bob": 4244}


def crowded_lan(receivers, phantoms):
    """A LAN A of `receivers` Samba receivers (rx01...), `phantoms` phantom
    hosts (ph1...), a stalling peer and a wildcard flooder, for the bench."""
    hosts = {"cli": HOSTS["cli"]}
    for i in range(1, receivers + 1):
        hosts["rx%02d" % i] = ("a", "%s.%d" % (LAN_A, 100 + i), "msg", {})
    for i in range(1, phantoms + 1):
        hosts["ph%d" % i] = ("a", "%s.%d" % (LAN_A, 30 + i), "peer", {})
    hosts["stall"] = ("a", LAN_A + ".50", "peer", {})
    hosts["flood"] = ("a", LAN_A + ".51", "peer", {})
    return hosts


def vindreld_crowd(receivers):
    """A LAN A of the client and `receivers` vindreld receivers (v001...,
    from 10.77.3.1 on, so a /16 is needed), cheap enough to run hundreds."""
    hosts = {"cli": HOSTS["cli"]}
    for i in range(receivers):
        hosts["v%03d" % (i + 1)] = ("a", "10.77.%d.%d" % (3 + i // 250, 1 + i % 250), "vindreld", {})
    return hosts


def netbios_name(host):
    return host.upper()


def run(*args, check=True, quiet=False):
    result = subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if check and result.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(args), result.stderr.strip()))
    return result


class Lab:
    def __init__(self, tag="lab", base=None, hosts=None, drop=None, prefix=24, dos_charset=None,
                 vindreld=None, vindreld_config=()):
        """dos_charset: the receivers' `dos charset` (Samba's default, CP850,
        when None), to match a sender whose DOS code page differs.
        vindreld: the program that hosts of role "vindreld" run, with the
        lines of `vindreld_config` added to their configuration."""
        self.vindreld = os.path.abspath(vindreld) if vindreld else None
        self.vindreld_config = list(vindreld_config)
        self.tag = tag
        # vindrel-drop as the receivers' message command, as a real
        # receiver is set up, instead of the lab's own inbox.
        self.drop = os.path.abspath(drop) if drop else None
        self.prefix = prefix  # of both LANs; a crowd of hundreds needs more than /24
        self.dos_charset = dos_charset
        self.base = base or "/tmp/vindrel-netlab-%s" % tag
        self.hosts = hosts or HOSTS
        self.state_file = os.path.join(self.base, "state.json")
        self.pids = {}

    # --- names -----------------------------------------------------------
    def ns(self, host):
        return "net-%s-%s" % (self.tag, host)

    @property
    def switch(self):
        return self.ns("switch")

    def dir(self, host):
        return os.path.join(self.base, host)

    def config(self, host):
        return os.path.join(self.dir(host), "smb.conf")

    def wins_config(self, host):
        return os.path.join(self.dir(host), "smb-wins.conf")

    def inbox(self, host):
        return os.path.join(self.dir(host), "inbox")

    def spool(self, host):
        return os.path.join(self.dir(host), "spool")

    def address(self, host):
        return self.hosts[host][1]

    def broadcast(self, lan):
        network = ipaddress.ip_network("%s.0/%d" % (lan, self.prefix), strict=False)
        return str(network.broadcast_address)

    def exec_in(self, host, *args):
        return ["ip", "netns", "exec", self.ns(host)] + list(args)

    # --- lifecycle -------------------------------------------------------
    def start(self):
        self.stop()  # leftovers from an aborted run
        os.makedirs(self.base, exist_ok=True)
        self._save()
        self._build_network()
        for host in self.hosts:
            self._write_config(host)
        for host, (_, _, role, _) in self.hosts.items():
            if role not in ("client", "peer", "vindreld"):
                self._start_daemon(host, "nmbd")
            if role in ("msg", "nomsg", "smb2"):
                self._start_daemon(host, "smbd")
            if role == "vindreld" and self.vindreld:
                self.start_vindreld(host)
        self._save()
        self._wait_ready()

    def stop(self):
        """Stops every daemon this lab started and deletes its namespaces."""
        if os.path.exists(self.state_file):
            try:
                with open(self.state_file) as f:
                    state = json.load(f)
                self.pids.update({k: v for k, v in state.get("pids", {}).items()
                                  if k not in self.pids})
            except (OSError, ValueError):
                pass
        for key, pid in list(self.pids.items()):
            self._end(pid)
            self.pids.pop(key, None)
        for host in list(self.hosts) + ["switch"]:
            name = self.ns(host)
            if os.path.exists("/run/netns/" + name):
                # Anything still inside one of our namespaces was started by us.
                pids = run("ip", "netns", "pids", name, check=False).stdout.split()
                for pid in pids:
                    self._end(int(pid))
                run("ip", "netns", "delete", name, check=False)
        if os.path.isdir(self.base):
            self._save()

    def stop_daemon(self, host, daemon):
        key = "%s/%s" % (host, daemon)
        pid = self.pids.pop(key, None)
        if pid:
            self._end(pid)
        self._save()

    def running(self):
        return [h for h in list(self.hosts) + ["switch"]
                if os.path.exists("/run/netns/" + self.ns(h))]

    # --- pieces ----------------------------------------------------------
    def _save(self):
        os.makedirs(self.base, exist_ok=True)
        with open(self.state_file, "w") as f:
            json.dump({"pids": self.pids, "tag": self.tag}, f)

    @staticmethod
    def _end(pid):
        """Ends one process we started, and its process group if it leads one."""
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                return
            for _ in range(40):
                try:
                    waited, _ = os.waitpid(pid, os.WNOHANG)
                    if waited == pid:
                        return
                except ChildProcessError:
                    if not os.path.exists("/proc/%d" % pid):
                        return
                    try:
                        with open("/proc/%d/stat" % pid) as f:
                            if f.read().split(")")[-1].split()[0] == "Z":
                                return
                    except OSError:
                        return
                time.sleep(0.05)

    def _build_network(self):
        run("ip", "netns", "add", self.switch)
        run("ip", "-n", self.switch, "link", "set", "lo", "up")
        for bridge in ("bra", "brb"):
            run("ip", "-n", self.switch, "link", "add", bridge, "type", "bridge")
            run("ip", "-n", self.switch, "link", "set", bridge, "up")
        for i, (host, (lans, addr, role, extra)) in enumerate(self.hosts.items()):
            ns = self.ns(host)
            run("ip", "netns", "add", ns)
            run("ip", "-n", ns, "link", "set", "lo", "up")
            for lan in lans:
                port = "p%d%s" % (i, lan)
                inside = "eth0" if lan == lans[0] else "eth1"
                address = addr if lan == lans[0] else extra["b_address"]
                run("ip", "-n", self.switch, "link", "add", port, "type", "veth",
                    "peer", "name", inside, "netns", ns)
                run("ip", "-n", self.switch, "link", "set", port, "master", "br" + lan)
                run("ip", "-n", self.switch, "link", "set", port, "up")
                run("ip", "-n", ns, "addr", "add", "%s/%d" % (address, self.prefix), "brd", "+",
                    "dev", inside)
                run("ip", "-n", ns, "link", "set", inside, "up")
            if role == "wins":
                run("ip", "netns", "exec", ns, "sysctl", "-q", "-w", "net.ipv4.ip_forward=1")
            elif lans == "a":
                run("ip", "-n", ns, "route", "add", LAN_B + ".0/24", "via", LAN_A + ".1")
            else:
                run("ip", "-n", ns, "route", "add", LAN_A + ".0/24", "via", LAN_B + ".1")

    def _write_config(self, host):
        lans, _, role, extra = self.hosts[host]
        d = self.dir(host)
        for sub in ("lock", "state", "cache", "pid", "private", "ncalrpc", "inbox", "log", "tmp"):
            os.makedirs(os.path.join(d, sub), exist_ok=True)
        # smbd writes and hands on messages as the guest account.
        os.chmod(os.path.join(d, "tmp"), 0o1777)
        os.chmod(os.path.join(d, "inbox"), 0o1777)
        if self.drop:
            # As a receiver has it, writable by the receiver alone: the drop
            # (not setgid here) runs as Samba's guest account and writes
            # through that account's group; everyone else only reads.
            os.makedirs(self.spool(host), exist_ok=True)
            os.chown(self.spool(host), 0, pwd.getpwnam("nobody").pw_gid)
            os.chmod(self.spool(host), 0o775)
            # The writers' lock, which the spool's owner makes, as tmpfiles does.
            lock = os.path.join(self.spool(host), ".lock")
            open(lock, "a").close()
            os.chown(lock, 0, pwd.getpwnam("nobody").pw_gid)
            os.chmod(lock, 0o660)
        lines = [
            "[global]",
            "netbios name = %s" % netbios_name(host),
            "workgroup = VLAB",
            "interfaces = %s" % ("eth0 eth1" if len(lans) > 1 else "eth0"),
            "bind interfaces only = yes",
            "smb ports = 139",
            "lock directory = %s/lock" % d,
            "state directory = %s/state" % d,
            "cache directory = %s/cache" % d,
            "pid directory = %s/pid" % d,
            "private dir = %s/private" % d,
            "ncalrpc dir = %s/ncalrpc" % d,
            "binddns dir = %s/private" % d,
            "usershare path = %s/state" % d,
            "log file = %s/log/%%m.log" % d,
            "log level = 1",
            "load printers = no",
            "printing = bsd",
            "printcap name = /dev/null",
            "disable spoolss = yes",
            "local master = no",
            "preferred master = no",
            "domain master = no",
            "os level = 0",
            "dns proxy = no",
            "name resolve order = bcast",
        ]
        if self.dos_charset:
            lines.append("dos charset = %s" % self.dos_charset)
        if extra.get("aliases"):
            lines.append("netbios aliases = %s" % " ".join(extra["aliases"]))
        if role == "wins":
            lines.append("wins support = yes")
        if lans == "b":
            lines.append("wins server = %s.1" % LAN_B)
        if role == "smb2":
            lines.append("server min protocol = SMB2_02")
        else:
            lines.append("server min protocol = NT1")
        if role == "msg" and self.drop:
            # Quoted, so that an empty sender stays a word of its own.
            lines.append('message command = %s --spool %s "%%f" "%%L" "%%s"'
                         % (self.drop, self.spool(host)))
        elif role == "msg":
            # One file per message with its sender beside it; the sender is
            # written first and the message renamed in whole, so a reader
            # that sees NAME.msg finds both complete. smbd waits for the
            # command and escapes shell characters outside single quotes,
            # hence one quoted script with a single external command.
            lines.append(
                "message command = /bin/sh -c 'f=%%s; echo \"%%f\" > %s/${f##*/}.from; "
                "exec mv %%s %s/${f##*/}.msg'" % (self.inbox(host), self.inbox(host)))
        with open(self.config(host), "w") as f:
            f.write("\n".join(lines) + "\n")
        if role == "client":
            with open(self.wins_config(host), "w") as f:
                f.write("\n".join(lines + ["wins server = %s.1" % LAN_A]) + "\n")

    def _start_daemon(self, host, daemon):
        log = open(os.path.join(self.dir(host), "log", daemon + ".out"), "ab")
        env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "TMPDIR": os.path.join(self.dir(host), "tmp")}
        # nmbd keeps a socket under a compiled-in /run/samba, and both log
        # to /var/log/samba until they have read the configuration: a
        # private /run (in the mount namespace ip netns exec gives each
        # command) and --log-basename keep all of that in the lab.
        private_run = ('mount -t tmpfs -o size=4m,mode=755 vindrel-lab-run /run && '
                       'mkdir /run/samba && exec "$@"')
        proc = subprocess.Popen(
            self.exec_in(host, "/bin/sh", "-c", private_run, "sh", "/usr/sbin/" + daemon,
                         "--foreground", "--no-process-group",
                         "--log-basename=" + os.path.join(self.dir(host), "log"),
                         "--configfile=" + self.config(host)),
            stdout=log, stderr=log, stdin=subprocess.DEVNULL, start_new_session=True, env=env)
        log.close()
        self.pids["%s/%s" % (host, daemon)] = proc.pid

    def _wait_ready(self, timeout=30):
        deadline = time.time() + timeout
        for host, (_, addr, role, _) in self.hosts.items():
            if role in ("msg", "nomsg", "smb2"):
                while not self._listening(host, 139):
                    if time.time() > deadline:
                        raise RuntimeError("smbd on %s did not start; see %s" % (host, self.dir(host)))
                    time.sleep(0.1)
            if role not in ("client", "peer") and (role != "vindreld" or self.vindreld):
                while not self._listening(host, 137, udp=True):
                    if time.time() > deadline:
                        raise RuntimeError("nmbd on %s did not start; see %s" % (host, self.dir(host)))
                    time.sleep(0.1)

        # nmbd answers for its names only once it has registered them.
        targets = []
        for host, (lans, addr, role, extra) in self.hosts.items():
            if role in ("client", "wins", "peer") or (role == "vindreld" and not self.vindreld):
                continue
            for name in [netbios_name(host)] + extra.get("aliases", []):
                # Broadcast, as clients ask: nmbd answers those only once
                # its registration period is over.
                server = self.broadcast(LAN_A) if lans == "a" else LAN_B + ".1"
                asker = "cli" if lans == "a" else "wins"
                targets.append((asker, server, name))
        for asker in ("cli", "wins"):
            mine = [(server, name) for a, server, name in targets if a == asker]
            if not mine:
                continue  # a lab of fewer hosts may have no one to ask
            out = subprocess.run(
                self.exec_in(asker, sys.executable, os.path.abspath(__file__), "_wait-names",
                             json.dumps(mine), str(max(1, deadline - time.time()))),
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            if out.returncode != 0:
                raise RuntimeError("names not registered in time: %s" % out.stdout.strip())

    # --- vindreld ---------------------------------------------------------
    def with_accounts(self, host, *args):
        """A command in the host's namespace that sees the lab's passwd and
        group files (VINDRELD_ACCOUNTS added) as /etc/passwd and /etc/group."""
        etc = os.path.join(self.base, "etc")
        if not os.path.isdir(etc):
            os.makedirs(etc)
            for name, fields in (("passwd", "x:{0}:{0}::/nonexistent:/bin/false"),
                                 ("group", "x:{0}:")):
                with open("/etc/" + name) as f:
                    lines = [line for line in f.read().splitlines()
                             if line.split(":")[0] not in VINDRELD_ACCOUNTS]
                lines += ["%s:%s" % (user, fields.format(uid))
                          for user, uid in VINDRELD_ACCOUNTS.items()]
                with open(os.path.join(etc, name), "w") as f:
                    f.write("\n".join(lines) + "\n")
        return self.exec_in(host, "/bin/sh", "-c",
                            'mount --bind %s/passwd /etc/passwd && mount --bind %s/group /etc/group'
                            ' && exec "$@"' % (etc, etc), "sh", *args)

    def as_account(self, host, user, *args):
        """A command in the host's namespace as one of VINDRELD_ACCOUNTS."""
        uid = VINDRELD_ACCOUNTS[user]
        return self.with_accounts(host, "setpriv", "--reuid=%d" % uid, "--regid=%d" % uid,
                                  "--clear-groups", *args)

    def vindreld_log(self, host):
        return os.path.join(self.dir(host), "log", "vindreld.out")

    def start_vindreld(self, host, launcher=()):
        """Starts vindreld on `host` as the account "vindrel", with its own
        configuration, spool (<host>/spool) and runtime dir (<host>/run);
        `launcher` is a command that runs it (its path and arguments follow)."""
        d = self.dir(host)
        spool = self.spool(host)
        os.makedirs(spool, exist_ok=True)
        os.chown(spool, VINDRELD_ACCOUNTS["vindrel"], VINDRELD_ACCOUNTS["vindrel"])
        os.chmod(spool, 0o775)
        config = os.path.join(d, "vindreld.conf")
        with open(config, "w") as f:
            f.write("\n".join(["[vindreld]", "netbios name = %s" % netbios_name(host)]
                              + self.vindreld_config) + "\n")
        os.makedirs(os.path.join(d, "log"), exist_ok=True)
        log = open(self.vindreld_log(host), "ab")
        proc = subprocess.Popen(
            self.with_accounts(host, *launcher, self.vindreld, "--foreground", "--config", config,
                               "--spool", spool, "--user", "vindrel",
                               "--runtime-dir", os.path.join(d, "run")),
            stdout=log, stderr=log, stdin=subprocess.DEVNULL, start_new_session=True)
        log.close()
        self.pids["%s/vindreld" % host] = proc.pid
        self._save()
        return proc

    def registration_socket(self, host):
        return os.path.join(self.dir(host), "run", "vindreld.sock")

    def _listening(self, host, port, udp=False):
        out = run(*self.exec_in(host, "ss", "-Hn", "-lu" if udp else "-lt"), check=False).stdout
        return any(line.split()[3].endswith(":%d" % port) for line in out.splitlines()
                   if len(line.split()) > 3)

    # --- for tests -------------------------------------------------------
    def clear_inboxes(self):
        for host in self.hosts:
            box = self.inbox(host)
            if os.path.isdir(box):
                for name in os.listdir(box):
                    os.unlink(os.path.join(box, name))

    @staticmethod
    def _arrived(folder, want, timeout):
        """The .msg files in `folder`, by name, once there are `want` of them
        or the time is up."""
        deadline = time.time() + timeout
        while True:
            names = sorted(n for n in os.listdir(folder) if n.endswith(".msg"))
            if len(names) >= want or time.time() > deadline:
                return names
            time.sleep(0.05)

    def records(self, host, want=0, timeout=5.0):
        """The spool records of a host (vindrel-drop's or vindreld's) as
        (from, to, text), oldest first."""
        out = []
        for name in self._arrived(self.spool(host), want, timeout):
            with open(os.path.join(self.spool(host), name), "rb") as f:
                head, _, text = f.read().decode("utf-8").partition("\n\n")
            fields = dict(line.split(" ", 1) for line in head.splitlines()[1:])
            out.append((fields["from"], fields["to"], text))
        return out

    def messages(self, host, want=1, timeout=5.0):
        """The messages that arrived at a host: (sender, text) per message."""
        out = []
        for name in self._arrived(self.inbox(host), want, timeout):
            stem = os.path.join(self.inbox(host), name[:-4])
            with open(stem + ".msg", "rb") as f:
                text = f.read().decode("utf-8", "replace")
            with open(stem + ".from") as f:
                sender = f.read().strip()
            out.append((sender, text))
        return out


def clean_stale(prefix):
    """Stops labs tagged PREFIX<pid> whose run died without cleaning up
    (killed outright), so that no daemon or namespace outlives its run."""
    names = run("ip", "netns", "list", check=False).stdout.split()
    tags = set()
    for name in names:
        parts = name.split("-")
        if len(parts) >= 3 and parts[0] == "net" and parts[1].startswith(prefix):
            pid = parts[1][len(prefix):]
            if pid.isdigit() and not os.path.exists("/proc/%s" % pid):
                tags.add(parts[1])
    for tag in tags:
        Lab(tag=tag, base="/nonexistent/%s" % tag).stop()


def encode_name(name, suffix=3):
    raw = name.upper().encode("cp850").ljust(15, b" ") + bytes([suffix])
    return bytes([32]) + bytes(b for c in raw for b in (65 + (c >> 4), 65 + (c & 15))) + b"\0"


def wait_names(targets, timeout):
    """Asks each server for NAME<03> until all have answered positively."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.settimeout(0.2)
    pending = {i: t for i, t in enumerate(targets)}
    deadline = time.time() + timeout
    while pending and time.time() < deadline:
        for i, (server, name) in pending.items():
            flags = 0x0110 if server.endswith(".255") else 0x0100
            query = struct.pack(">HHHHHH", i, flags, 1, 0, 0, 0) + encode_name(name) + b"\0\x20\0\x01"
            sock.sendto(query, (server, 137))
        try:
            while True:
                reply, _ = sock.recvfrom(1500)
                tid, flags = struct.unpack(">HH", reply[:4])
                if tid in pending and flags & 0x8000 and flags & 0xF == 0 and len(reply) >= 62:
                    del pending[tid]
        except socket.timeout:
            pass
    if pending:
        print("not answered: %s" % sorted(n for _, n in pending.values()))
        return 1
    return 0


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "_wait-names":
        sys.exit(wait_names([tuple(t) for t in json.loads(sys.argv[2])], float(sys.argv[3])))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("action", choices=["start", "stop", "status"])
    parser.add_argument("--tag", default="lab")
    parser.add_argument("--drop", help="vindrel-drop, to use as the receivers' message command")
    parser.add_argument("--vindreld", help="vindreld, to run on an extra receiver VRX")
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("netbios_lab: needs root (network namespaces)")
    hosts = dict(HOSTS, **VINDRELD_HOST) if args.vindreld or args.action != "start" else None
    lab = Lab(args.tag, drop=args.drop, hosts=hosts, vindreld=args.vindreld)
    if args.action == "start":
        try:
            lab.start()
        except Exception:
            lab.stop()
            raise
        print("lab '%s' running; client namespace %s, files under %s"
              % (args.tag, lab.ns("cli"), lab.base))
        for host, (_, addr, role, extra) in lab.hosts.items():
            print("  %-5s %-12s %-7s %s" % (netbios_name(host), addr, role,
                                           " ".join(extra.get("aliases", []))))
        print("client config: %s (wins server: %s.1)" % (lab.config("cli"), LAN_A))
    elif args.action == "stop":
        lab.stop()
        shutil.rmtree(lab.base, ignore_errors=True)
        print("lab '%s' stopped" % args.tag)
    else:
        up = lab.running()
        print("lab '%s': %s" % (args.tag, ", ".join(up) if up else "not running"))


if __name__ == "__main__":
    main()
