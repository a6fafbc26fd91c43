#!/usr/bin/env python3
"""vindreld's seats and addresses in the lab: hosts holding every session
seat with keep-alives do not keep a real sender out, the names follow the
host to a new address, and a session to an address not served is refused.
Shares vindreld_lab_test's harness; needs root.
"""

import os
import select
import subprocess
import sys
import time
import unittest

import vindreld_lab_test as base

# Eight addresses of one host that take every seat between them.
HOLDERS = ["10.77.1.%d" % n for n in range(50, 58)]
MOVED = "10.77.1.22"


def lab():
    return base.LAB


def move(old, new):
    """Moves VRX from `old` to `new` as an administrator would; returns when."""
    status, out = base.run("vrx", "sh", "-c", "ip addr del %s/24 dev eth0 && "
                           "ip addr add %s/24 brd + dev eth0" % (old, new))
    assert status == 0, out
    return time.time()


def resolved_at(address, deadline):
    """Asks for VRX<03> from the client until it is found at `address`."""
    while time.time() < deadline:
        out = base.run("cli", "nmblookup", "-s", lab().config("cli"), "VRX#03")[1]
        if "%s VRX<03>" % address in out:
            return time.time()
        time.sleep(0.1)
    return None


class Seats(unittest.TestCase):
    def test_a_real_sender_gets_a_seat_while_every_seat_is_held(self):
        base.clear_spool()
        for address in HOLDERS:
            base.run("bad", "ip", "addr", "add", address + "/24", "dev", "eth0")
        hold = subprocess.Popen(lab().exec_in("bad", *base.peer("hold", base.VRX, "VRX",
                                                                ",".join(HOLDERS), "8")),
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        took = []
        try:
            ready = select.select([hold.stdout], [], [], 20)[0]
            self.assertTrue(ready and hold.stdout.readline().strip() == "ready",
                            "the holders did not take every seat")
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
        self.assertIn("closed to seat one from %s: all 64 seats taken and it sent no message"
                      % lab().address("cli"), base.log())


class Addresses(unittest.TestCase):
    def test_the_names_follow_the_host_to_a_new_address(self):
        base.clear_spool()
        moved = move(base.VRX, MOVED)
        try:
            found = resolved_at(MOVED, moved + 10)
            self.assertIsNotNone(found, base.log())
            sys.stderr.write("resolvable at the new address after %.2f s\n" % (found - moved))
            self.assertIn("interfaces now: eth0 %s" % MOVED, base.log())
            status, out = base.run("cli", base.ARGS.send, "vrx", "moved")
            self.assertEqual(status, 0, out)
            self.assertEqual([t.split("\n")[0] for _, _, t in base.wait_records(1)], ["moved"])
        finally:
            back = move(MOVED, base.VRX)
            back = resolved_at(base.VRX, back + 10)
        self.assertIsNotNone(back)

    def test_a_session_to_an_address_not_served_is_refused(self):
        base.clear_spool()
        status, out = base.run("vrx", "smbclient", "-s", lab().config("vrx"), "-M", "VRX",
                               "-I", "127.0.0.1", "-N", "-U", "carol", stdin="loopback")
        self.assertNotEqual(status, 0, out)
        self.assertIn("to 127.0.0.1 refused: not an address this service serves", base.log())
        self.assertEqual(base.records(), [])


def main():
    import argparse
    parser = argparse.ArgumentParser()
    for name in ("vindreld", "send", "probe", "tools"):
        parser.add_argument("--" + name, required=True)
    base.ARGS, rest = parser.parse_known_args()
    for name in ("vindreld", "send"):
        setattr(base.ARGS, name, os.path.abspath(getattr(base.ARGS, name)))
    sys.path.insert(0, base.ARGS.tools)
    import netbios_lab
    hosts = {"cli": netbios_lab.HOSTS["cli"], "bad": ("a", "10.77.1.45", "peer", {})}
    hosts.update(netbios_lab.VINDRELD_HOST)

    def on_lab(running):
        base.LAB = running
    base.lab_harness.run_unittests_in_lab(
        base.ARGS.tools, "vs", rest, on_lab, give_up_after=200,
        needs=("setpriv", "smbclient", "nmblookup"), hosts=hosts, vindreld=base.ARGS.vindreld,
        vindreld_config=["interfaces = eth0"])


if __name__ == "__main__":
    main()
