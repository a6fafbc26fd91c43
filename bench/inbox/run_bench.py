#!/usr/bin/env python3
"""Receiving on Linux, measured: vindrel-drop per message; how soon a message
is on the screen after its record lands in the spool (a window mapped, or a
notification handed to dunst), median over 50 each; the 11th to 50th of a
day's messages with every notification left open (the summary); vindrel-inbox's
idle memory and where it goes; the CPU and memory 20,000 records appearing at once cost it; the
history's opening time and its search per keystroke over 10,000 messages.

    bench/inbox/run_bench.py [--build build] [--rounds N] [--screen-rounds N]

The inbox run is the tests' vindrel-inbox-traced (the program, writing
what it shows to a trace), so --build is a build with the tests.

It reports, it does not judge. Peers in the same run: the lab's shell
message command (a quoted sh script with one mv) for the drop, and the
main vindrel window for memory. Needs Xvfb, dunst and dbus-daemon; every
server it starts it ends.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import tempfile
import time

BUS_CONFIG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                          "inbox", "session-bus.conf")
INBOX = "tests/inbox/vindrel-inbox-traced"
LAB_COMMAND = "f=%s; echo \"$1\" > \"$2/${f##*/}.from\"; exec mv %s \"$2/${f##*/}.msg\""


def ms(ns):
    return ns / 1e6


def summary(values):
    return "median %.2f ms, max %.2f ms" % (statistics.median(values), max(values))


def time_runs(rounds, command_for):
    """Wall time of each run, including the process start, in ms."""
    times = []
    for i in range(rounds):
        args = command_for(i)
        start = time.monotonic_ns()
        subprocess.run(args, check=True, stderr=subprocess.DEVNULL)
        times.append(ms(time.monotonic_ns() - start))
    return times


def bench_drop(drop, work, rounds):
    def message(i):
        path = os.path.join(work, "msg.%d" % i)
        with open(path, "w") as f:
            f.write("message %d\nsecond line" % i)
        return path

    spool = os.path.join(work, "spool")
    os.makedirs(spool)
    ours = time_runs(rounds, lambda i: [drop, "--spool", spool, "CLI", "RX1", message(i)])
    # The same with 900 messages already kept: the drop counts the spool.
    for i in range(900 - rounds):
        subprocess.run([drop, "--spool", spool, "CLI", "RX1", message(i)], check=True)
    full = time_runs(rounds, lambda i: [drop, "--spool", spool, "CLI", "RX1", message(i)])
    inbox = os.path.join(work, "inbox")
    os.makedirs(inbox)
    peer = time_runs(rounds, lambda i: ["/bin/sh", "-c", LAB_COMMAND.replace("%s", message(i)),
                                        "sh", "CLI", inbox])
    print("vindrel-drop per message: %s (empty spool); %s (900 kept)"
          % (summary(ours), summary(full)))
    print("  the lab's shell command: %s; ratio vindrel-drop/shell %.2f"
          % (summary(peer), statistics.median(ours) / statistics.median(peer)))
    shutil.rmtree(spool)


def rss_kb(pid, field="VmRSS:"):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    return 0


def cpu_s(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def record_bytes(i, sender="CLI", text=None):
    text = (text or "message %d" % i).encode()
    head = "vindrel-message 1\nreceived %d\nfrom %s\nto RX1\nlength %d\n\n" % (
        1_796_000_000_000 + i, sender, len(text))
    return head.encode() + text


def place(staging, spool, i):
    """Writes a record beside the spool and renames it in: the moment it
    lands is the moment the rename returns, as for the spool's own writers."""
    name = "%d-1-%08x.msg" % (1_796_000_000_000 + i, i)
    with open(os.path.join(staging, name), "wb") as f:
        f.write(record_bytes(i))
    os.rename(os.path.join(staging, name), os.path.join(spool, name))
    return time.monotonic_ns()


class Inbox:
    """vindrel-inbox-traced on a spool of its own, with its trace of what it showed."""

    def __init__(self, build, work, name, env):
        self.spool = os.path.join(work, name, "spool")
        self.staging = os.path.join(work, name, "staging")
        os.makedirs(self.spool)
        os.makedirs(self.staging)
        self.trace = os.path.join(work, name, "trace")
        runtime = os.path.join(work, name, "run")
        os.makedirs(runtime, mode=0o700)
        self.env = dict(env, XDG_RUNTIME_DIR=runtime, VINDREL_INBOX_TRACE=self.trace,
                        XDG_DATA_HOME=os.path.join(work, name, "data"),
                        XDG_CONFIG_HOME=os.path.join(work, name, "config"))
        self.proc = subprocess.Popen(
            [os.path.join(build, INBOX), "--spool", self.spool,
             "--service-socket", os.path.join(work, name, "no-service")],
            env=self.env, stderr=subprocess.DEVNULL)
        socket = os.path.join(runtime, "vindrel-inbox.socket")
        deadline = time.time() + 20
        while not os.path.exists(socket):
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("vindrel-inbox did not start")
            time.sleep(0.02)

    def shown(self):
        if not os.path.exists(self.trace):
            return []
        with open(self.trace) as f:
            return [json.loads(line) for line in f if line.strip()]

    def wait_shown(self, count, timeout=5):
        deadline = time.time() + timeout
        while time.time() < deadline:
            shown = [s for s in self.shown() if s["kind"] != "history"]
            if len(shown) >= count:
                return shown[count - 1]
            time.sleep(0.001)
        return None

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def on_screen_delays(inbox, first, rounds, after_each=None):
    delays = []
    for i in range(rounds):
        landed = place(inbox.staging, inbox.spool, first + i)
        shown = inbox.wait_shown(first + i + 1)
        if shown:
            delays.append(ms(shown["shown_ns"] - landed))
        if after_each:
            after_each()
        time.sleep(0.02)
    return delays


def bench_inbox(build, work, rounds, display):
    base = dict(os.environ, DISPLAY=display, DBUS_SESSION_BUS_ADDRESS="disabled:")
    base.pop("QT_QPA_PLATFORM", None)
    base.pop("WAYLAND_DISPLAY", None)

    # Windows: ten at most are open at once, so fresh inboxes, ten rounds each.
    delays = []
    for batch in range(0, rounds, 10):
        inbox = Inbox(build, work, "windows%d" % batch, base)
        try:
            if batch == 0:
                time.sleep(1)
                idle = rss_kb(inbox.proc.pid)
            delays += on_screen_delays(inbox, 0, min(10, rounds - batch))
        finally:
            inbox.stop()
    print("window on the screen after its record lands: %s (%d of %d)"
          % (summary(delays), len(delays), rounds))

    # Notifications: dunst, Debian's notification server, on a session bus
    # of this run's own; each closed again so the ten-at-once rule waits for none.
    bus = subprocess.Popen(["dbus-daemon", "--config-file", BUS_CONFIG, "--nofork",
                            "--print-address=1"], stdout=subprocess.PIPE)
    dunst = None
    try:
        env = dict(base, DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().decode().strip())
        dunst = subprocess.Popen(["dunst", "-config", "/dev/null"], env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        inbox = Inbox(build, work, "notifications", env)
        try:
            time.sleep(1)
            idle_notifying = rss_kb(inbox.proc.pid)

            def close_all():
                subprocess.run(["dunstctl", "close-all"], env=env)
            delays = on_screen_delays(inbox, 0, rounds, close_all)
        finally:
            inbox.stop()
        print("notification handed to dunst after its record lands: %s (%d of %d)"
              % (summary(delays), len(delays), rounds))
    finally:
        for proc in (dunst, bus):
            if proc:
                proc.terminate()
                proc.wait()
                if proc.stdout:
                    proc.stdout.close()

    main = subprocess.Popen([os.path.join(build, "app/qt/vindrel")], env=base,
                            stderr=subprocess.DEVNULL)
    try:
        time.sleep(2)
        peer = rss_kb(main.pid)
    finally:
        main.terminate()
        main.wait()
    print("idle vindrel-inbox resident: %.1f MB (windows), %.1f MB (notifications); the vindrel "
          "window: %.1f MB; ratio %.2f" % (idle / 1024, idle_notifying / 1024, peer / 1024,
                                           idle / peer if peer else 0))


RECORDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                        "inbox", "notification_recorder.py")


def resident_by_mapping(pid):
    """Where the resident memory is: kB per kind of mapping, largest first."""
    kinds = {}
    name = None
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            fields = line.split()
            if "-" in fields[0] and len(fields) >= 5:
                path = fields[5] if len(fields) > 5 else "[anonymous]"
                base = os.path.basename(path)
                if base.startswith("libQt6"):
                    name = "Qt libraries"
                elif path.startswith("/") and ".so" in base:
                    name = "other libraries"
                elif path.startswith("/"):
                    name = "files (%s)" % base
                else:
                    name = path  # [heap], [anonymous], [stack] ...
            elif fields[0] == "Rss:":
                kinds[name] = kinds.get(name, 0) + int(fields[1])
    return sorted(kinds.items(), key=lambda kv: -kv[1])


def bench_day(build, work, display, count=50):
    """A day's messages with every notification left open (a server that
    never closes one, as GNOME keeps them listed): how soon each of the
    11th to the 50th is announced, by the one summary, after its record lands."""
    bus = subprocess.Popen(["dbus-daemon", "--config-file", BUS_CONFIG, "--nofork",
                            "--print-address=1"], stdout=subprocess.PIPE)
    daemon = None
    try:
        base = dict(os.environ, DISPLAY=display)
        base.pop("QT_QPA_PLATFORM", None)
        base.pop("WAYLAND_DISPLAY", None)
        env = dict(base, DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().decode().strip())
        daemon = subprocess.Popen(["/usr/bin/python3", "-m", "dbusmock", "--template", RECORDER,
                                   "-p", '{"capabilities": "body actions"}'], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        inbox = Inbox(build, work, "day", env)
        try:
            time.sleep(1)
            delays = []
            for i in range(count):
                landed = place(inbox.staging, inbox.spool, i)
                deadline = time.time() + 5
                shown = None
                while shown is None and time.time() < deadline:
                    for line in inbox.shown():
                        if (i < 10 and line["kind"] == "notification" and
                                line["text"].endswith("message %d\u2069" % i)) or (
                                i >= 10 and line["kind"] == "summary" and line["count"] >= i - 9):
                            shown = line
                            break
                    else:
                        time.sleep(0.001)
                if shown and i >= 10:
                    delays.append(ms(shown["shown_ns"] - landed))
            print("11th to %dth message of a day, every notification left open, announced "
                  "after its record lands: %s (%d of %d)"
                  % (count, summary(delays) if delays else "none", len(delays), count - 10))
            time.sleep(1)
            print("idle vindrel-inbox resident after them: %.1f MB; by mapping: %s"
                  % (rss_kb(inbox.proc.pid) / 1024,
                     ", ".join("%s %.1f MB" % (k, v / 1024)
                               for k, v in resident_by_mapping(inbox.proc.pid)[:6])))
        finally:
            inbox.stop()
    finally:
        for proc in (daemon, bus):
            if proc:
                proc.terminate()
                proc.wait()
                if proc.stdout:
                    proc.stdout.close()


def bench_flood(build, work, display, count=20000):
    """20,000 records appearing at once: the inbox's CPU time and memory."""
    env = dict(os.environ, DISPLAY=display, DBUS_SESSION_BUS_ADDRESS="disabled:")
    env.pop("QT_QPA_PLATFORM", None)
    inbox = Inbox(build, work, "flood", env)
    try:
        names = []
        for i in range(count):
            name = "%d-1-%08x.msg" % (1_796_000_000_000 + i, i)
            with open(os.path.join(inbox.staging, name), "wb") as f:
                f.write(record_bytes(i, "FLOOD%d" % (i % 50)))
            names.append(name)
        time.sleep(0.5)
        cpu, rss = cpu_s(inbox.proc.pid), rss_kb(inbox.proc.pid)
        start = time.monotonic()
        for name in names:
            os.rename(os.path.join(inbox.staging, name), os.path.join(inbox.spool, name))
        moved = time.monotonic() - start
        # Settled once a second passes without CPU.
        last, quiet_since = cpu_s(inbox.proc.pid), time.monotonic()
        while time.monotonic() - quiet_since < 1.0 and time.monotonic() - start < 60:
            time.sleep(0.1)
            now = cpu_s(inbox.proc.pid)
            if now != last:
                last, quiet_since = now, time.monotonic()
        print("%d records appearing in %.2f s: %.2f s of the inbox's CPU, resident %.1f -> %.1f "
              "MB (peak %.1f MB), %d windows shown"
              % (count, moved, last - cpu, rss / 1024, rss_kb(inbox.proc.pid) / 1024,
                 rss_kb(inbox.proc.pid, "VmHWM:") / 1024,
                 len([s for s in inbox.shown() if s["kind"] == "window"])))
    finally:
        inbox.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=50)
    parser.add_argument("--screen-rounds", type=int, default=50,
                        help="messages timed onto the screen, each way")
    parser.add_argument("--day-only", action="store_true",
                        help="only the day of messages with every notification left open")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    drop = os.path.join(build, "app/drop/vindrel-drop")
    work = tempfile.mkdtemp(prefix="vindrel-inbox-bench-")
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                             "1024x768x24"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        display = ":" + xvfb.stdout.readline().decode().strip()
        bench_day(build, work, display)
        if args.day_only:
            return
        started = time.monotonic()
        bench_drop(drop, work, args.rounds)
        dropped = time.monotonic()
        bench_inbox(build, work, args.screen_rounds, display)
        bench_flood(build, work, display)
        out = subprocess.run([os.path.join(build, "bench/inbox/history_bench"), "1000", "10000"],
                             env=dict(os.environ, DISPLAY=display,
                                      DBUS_SESSION_BUS_ADDRESS="disabled:"),
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        print(out.stdout.strip())
        print("(the drop took %.0f s, the inbox %.0f s)"
              % (dropped - started, time.monotonic() - dropped))
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
