#!/usr/bin/env python3
"""'*' and the listing of names on a LAN of N vindreld receivers: time, hosts
reached (copies counted in every receiver's spool) and the sender's peak
resident memory, for N = 100, 250 and 500 by default; '*' also served one
host after another, as before. Runs as root in the lab's namespaces only.

    bench/netsend/crowd_bench.py --build BUILD_DIR [--crowds 100 250 500]
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import netbios_lab  # noqa: E402


def bench_line(lab, bench, *args, user=False):
    """One netsend_bench run in the client namespace; `user`: as nobody, whose
    socket buffers the system caps (rmem_max), as a desktop user's are."""
    drop = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] if user else []
    out = subprocess.run(lab.exec_in("cli", *drop, bench, "--config", lab.config("cli"), *args),
                         capture_output=True, text=True, timeout=7200)
    fields = out.stdout.split()
    if not fields:
        raise RuntimeError("bench failed: %s %s" % (out.stdout, out.stderr))
    return [float(v) for v in fields[1:]]


def copies(lab, receivers):
    """How many receivers got exactly one copy, and the copies in all; the
    spools are emptied for the next send."""
    time.sleep(1.0)  # the last records are written after the reply
    counts = []
    for host in receivers:
        spool = lab.spool(host)
        names = [n for n in os.listdir(spool) if n.endswith(".msg")]
        counts.append(len(names))
        for name in os.listdir(spool):
            path = os.path.join(spool, name)
            if os.path.isfile(path):
                os.unlink(path)
    return sum(1 for c in counts if c == 1), sum(counts)


def crowd(build, n):
    bench = os.path.join(build, "bench", "netsend", "netsend_bench")
    vindreld = os.path.join(build, "app", "vindreld", "vindreld")
    base = tempfile.mkdtemp(prefix="vindrel-crowd-")
    os.chmod(base, 0o755)
    lab = netbios_lab.Lab(tag="cb%d" % os.getpid(), base=base, hosts=netbios_lab.vindreld_crowd(n),
                          prefix=16, vindreld=vindreld)
    receivers = [h for h in lab.hosts if h != "cli"]
    try:
        started = time.time()
        lab.start()
        built_s = time.time() - started
        names = bench_line(lab, bench, "--list-names")
        # status ms hosts refused over_limit same_name delivered idle_kb peak_kb not_tried
        star = bench_line(lab, bench, "--everyone", "32", "10000", "80")
        star_copies = copies(lab, receivers)
        user = bench_line(lab, bench, "--everyone", "32", "10000", "80", user=True)
        user_copies = copies(lab, receivers)
        serial = bench_line(lab, bench, "--everyone", "1", str(3600 * 1000), "80")
        serial_copies = copies(lab, receivers)
    finally:
        lab.stop()
        shutil.rmtree(base, ignore_errors=True)
    return {"n": n, "built_s": built_s, "names": names, "star": star, "star_copies": star_copies,
            "serial": serial, "serial_copies": serial_copies, "user": user,
            "user_copies": user_copies}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--crowds", type=int, nargs="+", default=[100, 250, 500])
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("crowd_bench: needs root (network namespaces)")
    netbios_lab.clean_stale("cb")
    signal.signal(signal.SIGTERM, lambda s, f: sys.exit(1))
    print("crowd bench: '*' and --list-names on a LAN of N vindreld receivers")
    print("  %5s  %-34s %-40s %-34s" % ("N", "--list-names", "\"*\", 32 at a time",
                                        "\"*\", one after another"))
    for n in args.crowds:
        r = crowd(args.build, n)
        names, star, serial = r["names"], r["star"], r["serial"]
        print("  %5d  %6.0f ms %4d names %5.1f MB    %6.0f ms %4d reached (%d once) %5.1f MB   "
              "%7.0f ms %4d reached (%d once)"
              % (n, names[1], names[0], names[5] / 1024, star[1], star[6], r["star_copies"][0],
                 star[8] / 1024, serial[1], serial[6], r["serial_copies"][0]), flush=True)
        user = r["user"]
        print("         as nobody (capped socket buffers): \"*\" %.0f ms, %d reached (%d once)"
              % (user[1], user[6], r["user_copies"][0]))
        print("         (lab of %d hosts built in %.0f s; \"*\" status %d, not tried %d; "
              "sender idle %.1f MB)" % (n, r["built_s"], star[0], star[9], star[7] / 1024),
              flush=True)


if __name__ == "__main__":
    main()
