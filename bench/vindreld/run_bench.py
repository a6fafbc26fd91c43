#!/usr/bin/env python3
"""vindreld against smbd + vindrel-drop, in the same lab and the same run:
one message delivered (the in-process client, then one process per send for
vindrel-send and smbclient -M); 1,000 messages from 50 senders at once (all
kept, none torn, how long); vindreld's resident memory idle and under 1,000
connections from one host; its CPU time while idle.

    bench/vindreld/run_bench.py --build BUILD_DIR [--rounds N] [--idle-seconds S]

Prints figures and ratios; it judges nothing. Needs root (the lab of
tools/netbios_lab.py, under its own tag, removed afterwards).
"""

import argparse
import os
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "vindreld"))
import netbios_lab  # noqa: E402
from peers import session_request, smb  # noqa: E402

VRX = "10.77.1.21"
SENDERS = 50
# The burst's senders: addresses of their own on the hostile host's LAN.
SENDER_BASE = "10.77.1.1%02d"


def timed(cmd, stdin=None):
    start = time.perf_counter()
    out = subprocess.run(cmd, input=stdin, capture_output=True, text=True, timeout=120)
    return (time.perf_counter() - start) * 1000, out


def read_frame(s):
    data = b""
    while len(data) < 4:
        chunk = s.recv(4 - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    length = struct.unpack(">H", data[2:4])[0] | (data[1] & 1) << 16
    body = b""
    while len(body) < length:
        chunk = s.recv(length - len(body))
        if not chunk:
            raise ConnectionError("closed")
        body += chunk
    return data[0], body


def send_one(source, text):
    """One message over its own session, as the multi-block commands carry
    it; True when every reply was positive."""
    s = socket.socket()
    s.settimeout(10)
    s.bind((source, 0))
    s.connect((VRX, 139))
    try:
        s.sendall(session_request("VRX"))
        if read_frame(s)[0] != 0x82:
            return False
        s.sendall(smb(0xD5, b"", b"\x04" + source.encode() + b"\x00\x04VRX\x00"))
        _, reply = read_frame(s)
        if reply[5:9] != b"\0\0\0\0":
            return False
        group = reply[33:35]
        for start in range(0, len(text), 128):
            block = text[start:start + 128]
            s.sendall(smb(0xD7, group, b"\x01" + struct.pack("<H", len(block)) + block))
            if read_frame(s)[1][5:9] != b"\0\0\0\0":
                return False
        s.sendall(smb(0xD6, group, b""))
        return read_frame(s)[1][5:9] == b"\0\0\0\0"
    finally:
        s.close()


def burst(senders, per_sender):
    """Runs in the hostile host's namespace: every sender at once."""
    failures = []
    start = time.perf_counter()

    def sender(i):
        source = SENDER_BASE % i
        for n in range(per_sender):
            text = ("%s message %d " % (source, n)).encode() * 8
            try:
                if not send_one(source, text):
                    failures.append(source)
            except OSError as e:
                failures.append("%s: %s" % (source, e))
    threads = [threading.Thread(target=sender, args=(i,)) for i in range(senders)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print("%.1f %d" % ((time.perf_counter() - start) * 1000, len(failures)), flush=True)
    for failure in sorted(set(f.split(" ", 1)[-1] for f in failures))[:5]:
        print("  failed: %s" % failure, file=sys.stderr)


def proc_status(pid):
    with open("/proc/%d/status" % pid) as f:
        return dict(line.split(":", 1) for line in f.read().splitlines())


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def spool_check(spool, senders, per_sender):
    """(kept, torn): records whose text is not exactly what its sender sent."""
    kept = torn = 0
    for name in os.listdir(spool):
        if not name.endswith(".msg"):
            continue
        kept += 1
        with open(os.path.join(spool, name), "rb") as f:
            head, _, text = f.read().decode("utf-8", "replace").partition("\n\n")
        sender = dict(line.split(" ", 1) for line in head.splitlines()[1:])["from"]
        number = text.split(" ")[2] if text.count(" ") > 2 else "?"
        if text != ("%s message %s " % (sender, number)) * 8:
            torn += 1
    return kept, torn


def main():
    hz = os.sysconf("SC_CLK_TCK")
    if len(sys.argv) == 4 and sys.argv[1] == "_burst":
        burst(int(sys.argv[2]), int(sys.argv[3]))
        return
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--idle-seconds", type=float, default=5)
    args = parser.parse_args()
    if os.geteuid() != 0:
        if os.environ.get("CI") == "true":
            sys.exit("vindreld bench: needs root")
        print("vindreld bench: skipped (needs root)")
        return
    build = os.path.abspath(args.build)
    bench = os.path.join(build, "bench", "netsend", "netsend_bench")
    sender = os.path.join(build, "app", "cli", "vindrel-send")
    hosts = {h: netbios_lab.HOSTS[h] for h in ("cli", "rx1")}
    hosts["bad"] = ("a", "10.77.1.45", "peer", {})
    hosts.update(netbios_lab.VINDRELD_HOST)
    base = tempfile.mkdtemp(prefix="vindrel-vdbench-")
    os.chmod(base, 0o755)
    netbios_lab.clean_stale("bv")
    lab = netbios_lab.Lab(tag="bv%d" % os.getpid(), base=base, hosts=hosts,
                          drop=os.path.join(build, "app", "drop", "vindrel-drop"),
                          vindreld=os.path.join(build, "app", "vindreld", "vindreld"))
    signal.signal(signal.SIGTERM, lambda s, f: sys.exit(1))
    n = args.rounds
    fig = {}
    try:
        lab.start()
        conf = lab.config("cli")
        pid = lab.pids["vrx/vindreld"]
        for i in range(SENDERS):
            netbios_lab.run("ip", "-n", lab.ns("bad"), "addr", "add", SENDER_BASE % i + "/24",
                            "dev", "eth0")

        # Idle first: nothing has happened yet but the claims.
        time.sleep(1)
        fig["rss_idle"] = proc_status(pid)["VmRSS"].split()[0]
        ticks = cpu_ticks(pid)
        time.sleep(args.idle_seconds)
        fig["idle_ticks"] = cpu_ticks(pid) - ticks

        for target in ("VRX", "RX1"):
            timed(lab.exec_in("cli", bench, "--config", conf, "--rounds", "1", target, "NOSUCH"))
        inproc = {}
        for _ in range(2):  # taking turns, so load from elsewhere falls on both
            for target in ("VRX", "RX1"):
                _, out = timed(lab.exec_in("cli", bench, "--config", conf, "--rounds",
                                           str(max(1, n // 2)), target, "NOSUCH"))
                lines = [l.split() for l in out.stdout.splitlines() if l.startswith("delivered")]
                if not lines:
                    sys.exit("vindreld bench: netsend_bench to %s gave no figure:\n%s%s"
                             % (target, out.stdout, out.stderr))
                line = lines[0]
                inproc.setdefault(target, []).append(float(line[1]))
        per_process = {}
        for _ in range(max(1, n // 2)):
            for target in ("VRX", "RX1"):
                for label, cmd, stdin in (
                        ("vindrel-send", [sender, target.lower(), "bench"], None),
                        ("smbclient -M", ["smbclient", "-s", conf, "-N", "-M", target], "bench\n")):
                    took, out = timed(lab.exec_in("cli", *cmd), stdin=stdin)
                    if out.returncode == 0:
                        per_process.setdefault((label, target), []).append(took)

        # The spool takes 1,000 messages at most: empty it for the burst.
        for name in os.listdir(lab.spool("vrx")):
            os.unlink(os.path.join(lab.spool("vrx"), name))
        per_sender = 1000 // SENDERS
        ticks = cpu_ticks(pid)
        _, out = timed(lab.exec_in("bad", sys.executable, os.path.abspath(__file__), "_burst",
                                   str(SENDERS), str(per_sender)))
        fig["burst_ms"], fig["burst_failed"] = out.stdout.split() if out.stdout else ("?", "?")
        sys.stderr.write(out.stderr)
        fig["burst_ticks"] = cpu_ticks(pid) - ticks
        fig["kept"], fig["torn"] = spool_check(lab.spool("vrx"), SENDERS, per_sender)
        fig["rss_after_burst"] = proc_status(pid)["VmRSS"].split()[0]

        flood = subprocess.Popen(
            lab.exec_in("bad", sys.executable,
                        os.path.join(HERE, "..", "..", "tests", "vindreld", "peers.py"),
                        "idle", VRX, "1000"),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        flood.stdout.readline()
        time.sleep(1)
        status = proc_status(pid)
        fig["rss_flood"], fig["hwm"] = status["VmRSS"].split()[0], status["VmHWM"].split()[0]
        fd_dir = "/proc/%d/fd" % pid
        fig["flood_kept"] = sum(1 for fd in os.listdir(fd_dir)
                                if os.readlink(os.path.join(fd_dir, fd)).startswith("socket:")) - 3
        flood.communicate("", timeout=60)
    finally:
        lab.stop()
        shutil.rmtree(base, ignore_errors=True)

    vrx, rx1 = statistics.median(inproc["VRX"]), statistics.median(inproc["RX1"])
    print("\nvindreld bench: %d rounds, medians in ms (lab namespaces, LAN A)" % n)
    print("  %-40s %10s %10s" % ("one message delivered", "vindreld", "smbd+drop"))
    print("  %-40s %10.1f %10.1f" % ("client, in one process (per call)", vrx, rx1))
    for label in ("vindrel-send", "smbclient -M"):
        a = per_process.get((label, "VRX"), [0])
        b = per_process.get((label, "RX1"), [0])
        print("  %-40s %10.1f %10.1f   (%d/%d delivered)" % (
            label + ", one process per send", statistics.median(a), statistics.median(b),
            len(a), len(b)))
    print("  ratio smbd+drop / vindreld, in-process client: %.1fx (goal >= 3)" % (rx1 / vrx))
    print("  %d messages from %d senders at once: %s ms (goal <= 2000), %s kept, %s torn, "
          "%s sends failed; vindreld's CPU time %.2f s" % (
              SENDERS * per_sender, SENDERS, fig["burst_ms"], fig["kept"], fig["torn"],
              fig["burst_failed"], fig["burst_ticks"] / hz))
    print("  resident memory: idle %s kB (goal <= 4096), after the burst %s kB, under 1,000 "
          "connections from one host %s kB (peak %s kB, goal <= 16384; it held %s sessions)"
          % (fig["rss_idle"], fig["rss_after_burst"], fig["rss_flood"], fig["hwm"],
             fig["flood_kept"]))
    print("  CPU while idle for %g s: %.2f s (goal 0)" % (args.idle_seconds, fig["idle_ticks"] / hz))


if __name__ == "__main__":
    main()
