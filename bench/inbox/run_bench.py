#!/usr/bin/env python3
"""Receiving on Linux, measured: vindrel-drop per message, the pop-up's delay
after a drop, vindrel-inbox's idle memory, and the history's opening time.

    bench/inbox/run_bench.py [--build build] [--rounds N]

It reports, it does not judge. Peers in the same run: the lab's shell
message command (a quoted sh script with one mv) for the drop, and the
main vindrel window for memory. Needs Xvfb.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import tempfile
import time

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


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def bench_inbox(build, drop, work, rounds, display):
    env = dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=os.path.join(work, "run"),
               XDG_DATA_HOME=os.path.join(work, "data"), XDG_CONFIG_HOME=os.path.join(work, "config"),
               VINDREL_INBOX_TRACE=os.path.join(work, "trace"))
    env.pop("QT_QPA_PLATFORM", None)
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    spool = os.path.join(work, "spool2")
    os.makedirs(spool)
    inbox = subprocess.Popen([os.path.join(build, "app/inbox/vindrel-inbox"), "--spool", spool],
                             env=env, stderr=subprocess.DEVNULL)
    main = None
    try:
        socket = os.path.join(env["XDG_RUNTIME_DIR"], "vindrel-inbox.socket")
        deadline = time.time() + 20
        while not os.path.exists(socket):
            if time.time() > deadline or inbox.poll() is not None:
                raise RuntimeError("vindrel-inbox did not start")
            time.sleep(0.02)
        time.sleep(2)
        idle = rss_kb(inbox.pid)

        delays = []
        for i in range(rounds):
            path = os.path.join(work, "pop.%d" % i)
            with open(path, "w") as f:
                f.write("pop-up %d" % i)
            start = time.monotonic_ns()
            subprocess.run([drop, "--spool", spool, "CLI", "RX1", path], check=True)
            deadline = time.time() + 5
            while time.time() < deadline:
                shown = []
                if os.path.exists(env["VINDREL_INBOX_TRACE"]):
                    with open(env["VINDREL_INBOX_TRACE"]) as f:
                        shown = [json.loads(line) for line in f if line.strip()]
                if len(shown) > i:
                    delays.append(ms(shown[i]["shown_ns"] - start))
                    break
                time.sleep(0.002)
            time.sleep(0.05)
        print("pop-up after the drop started: %s (%d of %d shown)"
              % (summary(delays), len(delays), rounds))

        main = subprocess.Popen([os.path.join(build, "app/qt/vindrel")], env=env,
                                stderr=subprocess.DEVNULL)
        time.sleep(2)
        peer = rss_kb(main.pid)
        print("idle vindrel-inbox resident: %.1f MB; the vindrel window: %.1f MB; ratio %.2f"
              % (idle / 1024, peer / 1024, idle / peer if peer else 0))
    finally:
        for proc in (inbox, main):
            if proc:
                proc.terminate()
                proc.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=50)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    drop = os.path.join(build, "app/drop/vindrel-drop")
    work = tempfile.mkdtemp(prefix="vindrel-inbox-bench-")
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                             "1024x768x24"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        display = ":" + xvfb.stdout.readline().decode().strip()
        bench_drop(drop, work, args.rounds)
        bench_inbox(build, drop, work, min(args.rounds, 30), display)
        out = subprocess.run([os.path.join(build, "bench/inbox/history_bench"), "1000"],
                             env=dict(os.environ, DISPLAY=display), stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
        print(out.stdout.strip())
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
