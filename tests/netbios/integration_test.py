#!/usr/bin/env python3
"""The messenger client against real Samba receivers in network namespaces.

Runs the client from the client namespace of the lab that lab_harness.py
builds and removes. Needs root; with CI=true a skip counts as a failure.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

import lab_harness

HERE = os.path.dirname(os.path.abspath(__file__))
LAB = None
PROBE = None


def send(name, text, config="plain", extra=(), report=None):
    """Runs the client in the client namespace; returns (status, milliseconds).
    `config` is "plain", "wins", None or a file's path; for "*" the probe's
    counts land in `report` when given."""
    conf = {"plain": LAB.config("cli"), "wins": LAB.wins_config("cli"), None: None}.get(
        config, config)
    args = [PROBE] + (["--config", conf] if conf else []) + list(extra) + [name, text]
    out = subprocess.run(LAB.exec_in("cli", *args), stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, timeout=60)
    words = out.stdout.split()
    if out.returncode != 0 or len(words) < 4:
        raise AssertionError("probe failed: %s %s" % (out.stdout, out.stderr))
    if report is not None:
        report.update(zip(words[4::2], map(int, words[5::2])))
    return int(words[1]), float(words[3])


class Peers:
    """Misbehaving peers started in lab namespaces, all killed on exit."""

    def __init__(self):
        self.procs = []

    def start(self, host, script, *args):
        proc = subprocess.Popen(
            LAB.exec_in(host, sys.executable, os.path.join(HERE, script), *args),
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, start_new_session=True)
        self.procs.append(proc)
        line = proc.stdout.readline().strip()
        if line != "ready":
            raise AssertionError("%s on %s: %s" % (script, host, line))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for proc in self.procs:
            proc.kill()
            proc.wait()
            proc.stdout.close()


def write_config(name, text):
    path = os.path.join(LAB.base, name)
    with open(path, "w") as f:
        f.write(text)
    return path


class Delivery(unittest.TestCase):
    def setUp(self):
        LAB.clear_inboxes()

    def assertNothingArrived(self, *hosts):
        time.sleep(0.3)
        for host in hosts:
            self.assertEqual(LAB.messages(host, want=0, timeout=0), [], host)

    def test_computer_name_gets_the_exact_text_and_sender_line(self):
        text = "Gr\u00fc\u00dfe, caf\u00e9 \u00e0 10h\nSent by tester"
        self.assertEqual(send("rx1", text)[0], 0)
        got = LAB.messages("rx1")
        self.assertEqual(len(got), 1)
        sender, body = got[0]
        self.assertEqual(sender, "CLI")
        # Samba turns CR LF back into LF when it writes the file.
        self.assertEqual(body, text)
        self.assertNothingArrived("rx2", "far")

    def test_aliases_reach_their_hosts(self):
        for alias, host in (("alice", "rx1"), ("Bob", "rx1"), ("CAROL", "rx2")):
            with self.subTest(alias=alias):
                LAB.clear_inboxes()
                self.assertEqual(send(alias, "for " + alias)[0], 0)
                self.assertEqual([m[1] for m in LAB.messages(host)], ["for " + alias])

    def test_characters_outside_the_code_page_become_question_marks(self):
        self.assertEqual(send("rx2", "5 \u20ac \U0001F600 ok")[0], 0)
        self.assertEqual(LAB.messages("rx2")[0][1], "5 ? ? ok")

    def test_text_longer_than_one_block_arrives_whole(self):
        text = "".join(chr(ord("a") + i % 26) for i in range(300))
        self.assertEqual(send("rx2", text)[0], 0)
        self.assertEqual(LAB.messages("rx2")[0][1], text)

    def test_empty_text_is_delivered(self):
        self.assertEqual(send("rx2", "")[0], 0)
        self.assertEqual(LAB.messages("rx2")[0][1], "")

    def test_originator_given_by_the_caller(self):
        self.assertEqual(send("rx2", "hi", extra=["--from", "desk9"])[0], 0)
        self.assertEqual(LAB.messages("rx2")[0][0], "desk9")

    def test_exported_call_with_its_defaults(self):
        self.assertEqual(send("rx1", "through the exported call", config=None,
                              extra=["--exported", "1"])[0], 0)
        self.assertEqual(LAB.messages("rx1")[0][1], "through the exported call")


class Failures(unittest.TestCase):
    def test_statuses(self):
        cases = [
            ("unknown name", "nosuch", "plain", 2273),
            ("16-character name", "ABCDEFGHIJKLMNOP", "plain", 2273),
            ("smbd stopped, nmbd answers", "rx3", "plain", 2136),
            ("no message command", "rx4", "plain", 2282),
            ("SMB1 switched off", "rx5", "plain", 2282),
            ("behind the router, no WINS", "far", "plain", 2273),
            ("unknown name, WINS asked first", "nosuch", "wins", 2273),
        ]
        for what, name, config, want in cases:
            with self.subTest(what):
                self.assertEqual(send(name, "x", config)[0], want)


class HostilePeer(unittest.TestCase):
    """rx3 runs no smbd, so its port 139 is free for a peer that misbehaves."""

    def run_peer(self, mode):
        peer = subprocess.Popen(
            LAB.exec_in("rx3", sys.executable, os.path.join(HERE, "hostile_peer.py"),
                        LAB.address("rx3"), mode),
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, start_new_session=True)
        try:
            self.assertEqual(peer.stdout.readline().strip(), "ready")
            return send("rx3", "to a hostile peer")
        finally:
            peer.kill()
            peer.wait()
            peer.stdout.close()

    def test_statuses(self):
        cases = [
            ("called name not present", "not-present", 2273),
            ("not listening on the called name", "not-listening", 2136),
            ("retarget", "retarget", 2136),
            ("garbage instead of a session reply", "garbage", 2136),
            ("closed before the session", "close-at-once", 2136),
            ("silent before the session", "silent", 2136),
            ("dropped after the session", "drop-after-session", 2282),
            ("frame larger than any reply", "huge-frame", 2282),
            ("error status", "error-status", 2282),
            ("reply to another request", "wrong-mid", 2282),
            ("silent after the session", "silent-after-start", 2282),
            ("keep-alives between replies", "keepalives", 0),
            ("keep-alives for ever after the session", "keepalive-flood", 2282),
        ]
        for what, mode, want in cases:
            with self.subTest(what):
                status, ms = self.run_peer(mode)
                print("\n    %s: status %d after %.0f ms" % (what, status, ms), end="")
                self.assertEqual(status, want)
                # Bounded however the peer behaves (4 s delivery limit).
                self.assertLess(ms, 6000)


class Everyone(unittest.TestCase):
    def test_star_reaches_every_receiver_on_the_lan_once(self):
        LAB.clear_inboxes()
        self.assertEqual(send("*", "to everyone")[0], 0)
        for host in ("rx1", "rx2"):
            self.assertEqual([m[1] for m in LAB.messages(host)], ["to everyone"], host)
        time.sleep(0.3)
        for host in ("rx1", "rx2"):
            self.assertEqual(len(LAB.messages(host, timeout=0)), 1, host)
        self.assertEqual(LAB.messages("far", want=0, timeout=0), [])


class CrowdedLan(unittest.TestCase):
    """LAN A with phantoms that answer "*" and never take a session, a peer
    that takes it and stalls, one that floods keep-alives and one that floods
    the wildcard query with forged answers."""

    def test_star_serves_the_crowd_within_twice_one_hosts_limit(self):
        LAB.clear_inboxes()
        with Peers() as peers:
            for host in ("ph1", "ph2"):
                peers.start(host, "hostile_nbns.py", LAB.address(host), "phantom", host)
            peers.start("stall", "hostile_nbns.py", LAB.address("stall"), "host", "stall")
            peers.start("stall", "hostile_peer.py", LAB.address("stall"), "silent-after-start")
            peers.start("kaflood", "hostile_nbns.py", LAB.address("kaflood"), "host", "kaflood")
            peers.start("kaflood", "hostile_peer.py", LAB.address("kaflood"), "keepalive-flood")
            # 2000 forged answers, 12 of them naming in-LAN addresses nobody holds.
            peers.start("flood", "hostile_nbns.py", LAB.address("flood"), "flood", "2000", "12",
                        "24")
            report = {}
            status, ms = send("*", "to the crowd", report=report)
        print("\n    \"*\" in the crowd: %.0f ms, %s" % (ms, report))
        self.assertEqual(status, 0)
        for host in ("rx1", "rx2"):
            self.assertEqual([m[1] for m in LAB.messages(host)], ["to the crowd"], host)
        time.sleep(0.3)
        for host in ("rx1", "rx2"):
            self.assertEqual(len(LAB.messages(host, timeout=0)), 1, host)
        # Within twice one host's 4 s delivery limit, whatever the crowd does.
        self.assertLess(ms, 8000)
        self.assertLessEqual(report.get("hosts", 0), 256)
        self.assertGreater(report.get("refused", 0), 0)


class ForgedWins(unittest.TestCase):
    """A WINS server's answer from the wrong address or port claims that
    GHOST (held by nobody) is at RX1's address."""

    def test_answers_from_elsewhere_are_not_believed(self):
        conf = write_config("spoofed-wins.conf", "[global]\nnetbios name = CLI\n"
                            "wins server = %s\n" % LAB.address("spoof"))
        for how in ("other-address", "other-port"):
            with self.subTest(how):
                LAB.clear_inboxes()
                with Peers() as peers:
                    peers.start("spoof", "hostile_nbns.py", LAB.address("spoof"), "wins-spoof",
                                LAB.address("rx1"), how)
                    self.assertEqual(send("ghost", "believed a forger", conf)[0], 2273)
                time.sleep(0.3)
                self.assertEqual(LAB.messages("rx1", want=0, timeout=0), [])


class SambaConfigFiles(unittest.TestCase):
    def test_globals_section_and_include_reach_the_wins_server(self):
        LAB.clear_inboxes()
        included = write_config("wins-include.conf", "wins server = %s\n" % LAB.address("wins"))
        conf = write_config("globals.conf", "[globals]\nnetbios name = CLI\ninclude = %s\n"
                            % included)
        self.assertEqual(send("far", "via an included WINS server", conf)[0], 0)
        self.assertEqual(LAB.messages("far")[0][1], "via an included WINS server")


class Wins(unittest.TestCase):
    def test_name_behind_the_router_resolves_through_wins(self):
        LAB.clear_inboxes()
        self.assertEqual(send("far", "via WINS", "wins")[0], 0)
        self.assertEqual(LAB.messages("far")[0][1], "via WINS")
        self.assertEqual(send("dave", "alias via WINS", "wins")[0], 0)


class WireTrace(unittest.TestCase):
    def test_trace_shows_query_session_and_multi_block_commands(self):
        if not shutil.which("tshark"):
            self.fail("tshark is missing")
        capture = os.path.join(LAB.base, "trace.pcap")
        tshark = subprocess.Popen(
            LAB.exec_in("cli", "tshark", "-q", "-i", "eth0", "-w", capture,
                        "-f", "port 137 or port 139"),
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)
        try:
            # tshark says "Capturing on" once it listens.
            deadline = time.time() + 20
            seen = b""
            while b"Capturing on" not in seen and time.time() < deadline:
                seen += os.read(tshark.stderr.fileno(), 200)
            time.sleep(1)  # it says so a moment before it really is
            self.assertEqual(send("rx1", "t" * 200)[0], 0)
            time.sleep(0.5)
        finally:
            tshark.send_signal(signal.SIGINT)
            try:
                tshark.wait(timeout=10)
            except subprocess.TimeoutExpired:
                tshark.kill()
                tshark.wait()
            tshark.stderr.close()
        fields = subprocess.run(
            ["tshark", "-r", capture, "-Y", "nbns or nbss or smb", "-T", "fields",
             "-e", "ip.src", "-e", "nbns.name", "-e", "nbss.type", "-e", "smb.cmd",
             "-e", "smb.flags.response", "-e", "smb.mid"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        print("\n--- wire trace (src, nbns name, nbss type, smb cmd, response, mid)")
        print(fields)
        rows = [line.split("\t") for line in fields.splitlines()]
        commands = [(r[3], r[4]) for r in rows if len(r) > 4 and r[3]]
        self.assertIn("RX1<03>", fields)
        self.assertIn("0x81", fields)   # session request
        self.assertIn("0x82", fields)   # positive session response
        requests = [c for c, response in commands if response in ("0", "False")]
        self.assertEqual(requests, ["0xd5", "0xd7", "0xd7", "0xd6"])
        self.assertEqual(len(commands), 8)


def main():
    global PROBE
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--tools", required=True)
    args, rest = parser.parse_known_args()
    PROBE = os.path.abspath(args.probe)

    def run_tests(lab):
        global LAB
        LAB = lab
        return unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result.wasSuccessful()

    sys.path.insert(0, args.tools)
    import netbios_lab
    sys.exit(lab_harness.run_in_lab(args.tools, "it", run_tests,
                                    hosts=dict(netbios_lab.HOSTS, **netbios_lab.CROWD)))


if __name__ == "__main__":
    main()
