#!/usr/bin/env python3
"""vindrel-send itself against the Samba receivers of the lab, run from the
lab's client namespace with its production configuration: what arrives, what
it prints and its exit statuses. The lab comes from tests/netbios/lab_harness.
"""

import argparse
import json
import os
import pwd
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "netbios"))
import lab_harness  # noqa: E402

LAB = None
SEND = None
PROBE = None
LOGIN = pwd.getpwuid(os.geteuid()).pw_name


def send(*args, stdin="", env=None):
    """(exit status, stdout, stderr) of one vindrel-send run in the client namespace."""
    out = subprocess.run(LAB.exec_in("cli", SEND, *args), input=stdin, capture_output=True,
                         text=True, timeout=30, env=dict(os.environ, **(env or {})))
    return out.returncode, out.stdout, out.stderr


def signed(text):
    # Samba turns CR LF back into LF when it writes the message file.
    return text + "\nSent by " + LOGIN


def not_found(name):
    return ("Error: Message didn't reached to '%s'.\nThe To field should contains valid login "
            "name or computer name or * or user might not have logged on\n" % name)


class SendCommand(unittest.TestCase):
    def setUp(self):
        LAB.clear_inboxes()

    def bodies(self, host, want=1, timeout=5.0):
        return [text for _, text in LAB.messages(host, want=want, timeout=timeout)]

    def assertNothingArrived(self, *hosts):
        time.sleep(0.3)
        for host in hosts:
            self.assertEqual(self.bodies(host, want=0, timeout=0), [], host)

    def test_two_names_get_the_exact_text_from_stdin(self):
        self.assertEqual(send(" rx1 ;carol", stdin="Gr\u00fc\u00dfe,\ncaf\u00e9 at 10\n"),
                         (0, "", ""))
        for host in ("rx1", "rx2"):
            self.assertEqual(self.bodies(host), [signed("Gr\u00fc\u00dfe,\ncaf\u00e9 at 10")], host)
        self.assertNothingArrived("far")

    def test_unknown_name_is_reported_and_the_next_one_served(self):
        self.assertEqual(send("-v", "nosuch;rx2", "after a miss"),
                         (1, "nosuch 2273\nrx2 delivered\n", not_found("nosuch")))
        self.assertEqual(self.bodies("rx2"), [signed("after a miss")])

    def test_stop_on_error_serves_nobody_after_the_failure(self):
        self.assertEqual(send("--stop-on-error", "nosuch;rx2", "x"), (1, "", not_found("nosuch")))
        self.assertNothingArrived("rx2")

    def test_a_reader_that_goes_away_stops_no_delivery(self):
        # "true" has closed the pipe long before the unknown name is decided.
        run = subprocess.run(LAB.exec_in("cli", "bash", "-c", '"$0" -v "nosuch;rx2" x | true; '
                                         'exit "${PIPESTATUS[0]}"', SEND),
                             capture_output=True, text=True, timeout=30)
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertEqual(self.bodies("rx2"), [signed("x")])

    def test_star_reaches_every_receiver_on_the_lan_once(self):
        self.assertEqual(send("*", "to everyone"), (0, "", ""))
        for host in ("rx1", "rx2"):
            self.assertEqual(self.bodies(host), [signed("to everyone")], host)
        self.assertNothingArrived("far")
        for host in ("rx1", "rx2"):
            self.assertEqual(len(self.bodies(host, timeout=0)), 1, host)

    def test_over_length_sends_nothing(self):
        self.assertEqual(send("rx1;rx2", "x" * 128),
                         (2, "", "Message length is 128 chars which exceeds permitted length of "
                                 "128 char.\n"))
        self.assertNothingArrived("rx1", "rx2")


class ListNames(unittest.TestCase):
    """The names on LAN A: Samba's with their aliases, vindreld's, while a
    peer floods the wildcard query with forged answers."""

    def test_every_receivers_names_and_no_forged_one(self):
        cache = os.path.join(LAB.base, "cache")
        env = {"XDG_CACHE_HOME": cache}
        flood = subprocess.Popen(
            LAB.exec_in("flood", sys.executable, os.path.join(HERE, "..", "netbios",
                                                               "hostile_nbns.py"),
                        LAB.address("flood"), "flood", "2000", "12", "24"),
            stdout=subprocess.PIPE, text=True, start_new_session=True)
        try:
            self.assertEqual(flood.stdout.readline().strip(), "ready")
            status, out, err = send("--list-names", env=env)
            json_status, json_out, _ = send("--list-names", "--json", env=env)
        finally:
            flood.kill()
            flood.wait()
            flood.stdout.close()
        self.assertEqual((status, err, json_status), (0, "", 0))
        lines = [line.split("\t") for line in out.splitlines()]
        names = [line[0] for line in lines]
        self.assertEqual(names, sorted(set(names)))
        where = {(host.upper(), LAB.address(host)) for host in LAB.hosts}
        for name, computer, address in lines:
            self.assertIn((computer, address), where, name)  # no forged host or address
        for want in ("RX1", "ALICE", "BOB", "RX2", "CAROL", "VRX"):
            self.assertIn(want, names)
        for never in ("FAR", "DAVE", "FLOOD", "CLI"):  # behind the router, or no names
            self.assertNotIn(never, names)
        self.assertEqual([[o["name"], o["computer"], o["address"]]
                          for o in map(json.loads, json_out.splitlines())], lines)
        self.assertEqual(send("--list-names", "--cached", env=env), (0, out, ""))


class Crowd(unittest.TestCase):
    """"*" on a LAN of vindreld receivers (--crowd N)."""

    def test_star_reaches_every_receiver_once_and_a_limit_is_told(self):
        receivers = [h for h in LAB.hosts if h != "cli"]
        started = time.time()
        self.assertEqual(send("-v", "*", "to the office"), (0, "* delivered\n", ""))
        print("\n    \"*\" to %d receivers: %.0f ms" % (len(receivers), (time.time() - started) * 1000))
        time.sleep(1.0)
        self.assertEqual([h for h in receivers if len(LAB.records(h, timeout=0)) != 1], [])
        # Over a limit the counts come back; the command's exit and words
        # for them are the send command's tests.
        out = subprocess.run(LAB.exec_in("cli", PROBE, "--config", LAB.config("cli"),
                                         "--max-hosts", "200", "*", "to some"),
                             capture_output=True, text=True, timeout=60).stdout.split()
        report = dict(zip(out[4::2], map(int, out[5::2])))
        self.assertEqual((report["hosts"], report["delivered"], report["not-tried"]),
                         (200, 200, len(receivers) - 200))


def main():
    global SEND, PROBE
    parser = argparse.ArgumentParser()
    parser.add_argument("--send", required=True)
    parser.add_argument("--tools", required=True)
    parser.add_argument("--vindreld", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--crowd", type=int, default=0,
                        help="only the Crowd case, on a LAN of this many vindreld receivers")
    args, rest = parser.parse_known_args()
    SEND = os.path.abspath(args.send)
    PROBE = os.path.abspath(args.probe)
    sys.path.insert(0, args.tools)
    import netbios_lab
    if args.crowd:
        hosts = netbios_lab.vindreld_crowd(args.crowd)
        options = {"prefix": 16}
        rest = rest or ["Crowd"]
    else:
        hosts = dict(netbios_lab.HOSTS, **netbios_lab.VINDRELD_HOST,
                     flood=netbios_lab.CROWD["flood"])
        options = {}
        rest = [r for r in rest] or [n for n in ("SendCommand", "ListNames")]

    def on_lab(lab):
        global LAB
        LAB = lab
    lab_harness.run_unittests_in_lab(args.tools, "cl", rest, on_lab, hosts=hosts,
                                     vindreld=os.path.abspath(args.vindreld), **options)


if __name__ == "__main__":
    main()
