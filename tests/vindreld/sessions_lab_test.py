#!/usr/bin/env python3
"""vindreld's seats and addresses in the lab: eight addresses holding every
session seat with keep-alives do not keep a real sender out, the names follow
the host to a new address, and a session to an address not served is refused.
Shares vindreld_lab_test's harness; needs root.
"""

import argparse
import os
import select
import subprocess
import sys
import time
import unittest

import vindreld_lab_test as base

HOLDERS = ["10.77.1.%d" % n for n in range(50, 58)]
MOVED = "10.77.1.22"


def move_and_resolve(old, new):
    """Moves VRX to `new`; the seconds until the client finds VRX<03> there."""
    moved = time.time()
    base.run("vrx", "sh", "-c", "ip addr del %s/24 dev eth0 && ip addr add %s/24 brd + dev eth0"
             % (old, new))
    while time.time() < moved + 10:
        if "%s VRX<03>" % new in base.run("cli", "nmblookup", "-s", base.LAB.config("cli"),
                                          "VRX#03")[1]:
            return time.time() - moved
    return None


class Seats(unittest.TestCase):
    def test_a_real_sender_gets_a_seat_while_every_seat_is_held(self):
        base.clear_spool()
        for address in HOLDERS:
            base.run("bad", "ip", "addr", "add", address + "/24", "dev", "eth0")
        hold = subprocess.Popen(base.LAB.exec_in("bad", *base.peer(
            "hold", base.VRX, "VRX", ",".join(HOLDERS), "8")), stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, text=True)
        took = []
        try:
            self.assertTrue(select.select([hold.stdout], [], [], 20)[0], "seats not all taken")
            self.assertEqual(hold.stdout.readline().strip(), "ready")
            for i in range(5):
                start = time.time()
                base.run("cli", base.ARGS.send, "vrx", "real %d" % i, timeout=10)
                kept = base.wait_records(i + 1, timeout=max(0.0, start + 5 - time.time()))
                took.append(round(time.time() - start, 2) if len(kept) > i else None)
                time.sleep(0.5)  # the holders take back every seat meanwhile
        finally:
            closed = hold.communicate("", timeout=30)[0].strip()
        sys.stderr.write("real sender under the hold: %s; holders %s\n" % (took, closed))
        self.assertNotIn(None, took)
        self.assertIn("closed to seat one from 10.77.1.10: all 64 seats taken and it sent no "
                      "message", base.log())


class Addresses(unittest.TestCase):
    def test_the_names_follow_the_host_to_a_new_address(self):
        base.clear_spool()
        try:
            took = move_and_resolve(base.VRX, MOVED)
            self.assertIsNotNone(took, base.log())
            sys.stderr.write("resolvable at the new address after %.2f s\n" % took)
            self.assertIn("interfaces now: eth0 %s" % MOVED, base.log())
            self.assertEqual(base.run("cli", base.ARGS.send, "vrx", "moved")[0], 0)
            self.assertEqual([t.split("\n")[0] for _, _, t in base.wait_records(1)], ["moved"])
        finally:
            self.assertIsNotNone(move_and_resolve(MOVED, base.VRX))

    def test_a_session_to_an_address_not_served_is_refused(self):
        base.clear_spool()
        status, out = base.run("vrx", "smbclient", "-s", base.LAB.config("vrx"), "-M", "VRX",
                               "-I", "127.0.0.1", "-N", "-U", "carol", stdin="loopback")
        self.assertNotEqual(status, 0, out)
        self.assertIn("to 127.0.0.1 refused: not an address this service serves", base.log())
        self.assertEqual(base.records(), [])


def main():
    parser = argparse.ArgumentParser()
    for name in ("vindreld", "send", "probe", "tools"):
        parser.add_argument("--" + name, required=True)
    base.ARGS, rest = parser.parse_known_args()
    base.ARGS.send = os.path.abspath(base.ARGS.send)
    sys.path.insert(0, base.ARGS.tools)
    import netbios_lab
    hosts = dict(cli=netbios_lab.HOSTS["cli"], bad=("a", "10.77.1.45", "peer", {}),
                 **netbios_lab.VINDRELD_HOST)
    base.lab_harness.run_unittests_in_lab(
        base.ARGS.tools, "vs", rest, lambda lab: setattr(base, "LAB", lab), give_up_after=200,
        needs=("setpriv", "smbclient", "nmblookup"), hosts=hosts, vindreld=base.ARGS.vindreld,
        vindreld_config=["interfaces = eth0"])


if __name__ == "__main__":
    main()
