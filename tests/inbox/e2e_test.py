#!/usr/bin/env python3
"""Receiving end to end, in network namespaces only.

The NetBIOS lab (tools/netbios_lab.py) runs a receiver whose Samba hands
each message to vindrel-drop; vindrel-inbox runs in the receiver's namespace
on its own Xvfb screen as an unprivileged user; the client namespace sends
with the real client. The pop-up must show the exact text, and --list must
list it. Needs root; with CI=true a skip counts as a failure. --inbox is
vindrel-inbox-traced: the program, writing what it shows to $VINDREL_INBOX_TRACE.
"""

import argparse
import json
import os
import pwd
import subprocess
import sys
import time
import unittest

USER_ID = 4242  # no account of this machine: only what the test gives it
TEXT = "Gr\u00fc\u00dfe, caf\u00e9 \u00e0 10h\nzweite Zeile"
ARGS = None
LAB = None
SESSION = {}


def as_user(*args):
    """A command in the receiver's namespace as the desktop user."""
    env = ["env", "-i", "PATH=/usr/bin:/bin", "HOME=" + SESSION["home"],
           "XDG_RUNTIME_DIR=" + SESSION["runtime"], "XDG_DATA_HOME=" + SESSION["home"] + "/data",
           "XDG_CONFIG_HOME=" + SESSION["home"] + "/config", "LANG=C.UTF-8",
           # No session bus: pop-up windows, and no bus started on demand.
           "DBUS_SESSION_BUS_ADDRESS=disabled:"]
    if "display" in SESSION:
        env.append("DISPLAY=" + SESSION["display"])
    return LAB.exec_in("rx1", "setpriv", "--reuid=%d" % USER_ID, "--regid=%d" % USER_ID,
                       "--clear-groups", *env, *args)


def start_session():
    """Xvfb and vindrel-inbox as the user; returns once the inbox listens."""
    home = os.path.join(LAB.base, "home")
    SESSION.update(home=home, runtime=os.path.join(home, "run"),
                   trace=os.path.join(home, "popups.jsonl"))
    os.makedirs(SESSION["runtime"], mode=0o700)
    # Made by root as X expects, in case no X server ran on this machine yet.
    if not os.path.isdir("/tmp/.X11-unix"):
        os.makedirs("/tmp/.X11-unix")
        os.chmod("/tmp/.X11-unix", 0o1777)
    for d, _, _ in os.walk(home):
        os.chown(d, USER_ID, USER_ID)
    # The spool belongs to the receiver (here Samba's guest, which runs the
    # drop); the inbox reads only the records its owner wrote.
    guest = pwd.getpwnam("nobody")
    os.chown(LAB.spool("rx1"), guest.pw_uid, guest.pw_gid)
    os.chmod(LAB.spool("rx1"), 0o755)
    xvfb = subprocess.Popen(as_user("Xvfb", "-displayfd", "1", "-nolisten", "tcp",
                                    "-screen", "0", "800x600x24"),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    SESSION["display"] = ":" + xvfb.stdout.readline().decode().strip()
    inbox = subprocess.Popen(
        as_user("env", "VINDREL_INBOX_TRACE=" + SESSION["trace"], ARGS.inbox,
                "--spool", LAB.spool("rx1")),
        stdout=subprocess.DEVNULL, stderr=open(os.path.join(home, "inbox.err"), "wb"),
        start_new_session=True)
    deadline = time.time() + 20
    while not os.path.exists(os.path.join(SESSION["runtime"], "vindrel-inbox.socket")):
        if time.time() > deadline or inbox.poll() is not None:
            raise RuntimeError("vindrel-inbox did not start")
        time.sleep(0.05)
    SESSION["procs"] = [inbox, xvfb]


def popups(want, timeout=10.0):
    deadline = time.time() + timeout
    while True:
        shown = []
        if os.path.exists(SESSION["trace"]):
            with open(SESSION["trace"], encoding="utf-8") as f:
                shown = [json.loads(line) for line in f if line.strip()]
            shown = [line for line in shown if line["kind"] == "window"]
        if len(shown) >= want or time.time() > deadline:
            return shown
        time.sleep(0.05)


class Receiving(unittest.TestCase):
    def test_messages_from_the_real_client_pop_up_and_are_listed(self):
        out = subprocess.run(LAB.exec_in("cli", ARGS.probe, "--config", LAB.config("cli"),
                                         "RX1", TEXT),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=30)
        self.assertEqual(out.stdout.split()[:2], ["status", "0"], out.stderr)

        shown = popups(1)
        self.assertEqual(len(shown), 1, "no pop-up; see %s" % LAB.base)
        # Names from the LAN stand in isolates (U+2068 ... U+2069).
        self.assertEqual(shown[0]["title"], "Message from \u2068CLI\u2069")
        # Samba gives the name the message was sent to as it was called, in
        # lower case.
        self.assertTrue(shown[0]["heading"].startswith(
            "Message from \u2068CLI\u2069 to \u2068rx1\u2069 on "), shown[0]["heading"])
        self.assertEqual(shown[0]["text"], TEXT)

        # A real window on the X screen, under that title.
        found = subprocess.run(as_user("xdotool", "search", "--name", "^Message from .*CLI.*$"),
                               stdout=subprocess.PIPE, text=True)
        self.assertEqual(found.returncode, 0, "no X window titled 'Message from CLI'")

        # Kept by the guest account, readable by the user, Samba's file gone.
        records = [n for n in os.listdir(LAB.spool("rx1")) if n.endswith(".msg")]
        self.assertEqual(len(records), 1)
        st = os.stat(os.path.join(LAB.spool("rx1"), records[0]))
        self.assertEqual(st.st_uid, pwd.getpwnam("nobody").pw_uid)
        self.assertEqual(os.listdir(os.path.join(LAB.dir("rx1"), "tmp")), [])
        # The user reads the spool but cannot add a message "from" anyone.
        faked = subprocess.run(as_user("sh", "-c", "echo x > %s/1-1-0000000f.msg"
                                       % LAB.spool("rx1")), stderr=subprocess.DEVNULL)
        self.assertNotEqual(faked.returncode, 0)

        listed = subprocess.run(as_user(ARGS.inbox, "--list", "--spool", LAB.spool("rx1")),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        lines = listed.stdout.decode("utf-8").split("\n", 1)
        self.assertRegex(lines[0], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(Z|[+-]\d\d:\d\d) "
                                   r"from CLI to rx1$")
        self.assertEqual(lines[1], "".join("  " + line + "\n" for line in TEXT.split("\n")))

        # An alias reaches the same inbox.
        out = subprocess.run(LAB.exec_in("cli", ARGS.probe, "--config", LAB.config("cli"),
                                         "alice", "for alice"),
                             stdout=subprocess.PIPE, text=True, timeout=30)
        self.assertEqual(out.stdout.split()[:2], ["status", "0"])
        shown = popups(2)
        self.assertEqual([p["text"] for p in shown], [TEXT, "for alice"])
        self.assertTrue(shown[1]["heading"].startswith(
            "Message from \u2068CLI\u2069 to \u2068alice\u2069 on "))

    def test_a_second_start_opens_the_running_ones_history(self):
        again = subprocess.run(as_user(ARGS.inbox, "--spool", LAB.spool("rx1")),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn(b"already running", again.stderr)
        found = subprocess.run(as_user("xdotool", "search", "--sync", "--name",
                                       "^Vindrel messages$"),
                               stdout=subprocess.PIPE, timeout=10)
        self.assertEqual(found.returncode, 0)
        self.assertIsNone(SESSION["procs"][0].poll(), "the first instance is still running")


def main():
    global ARGS, LAB
    parser = argparse.ArgumentParser()
    for name in ("probe", "drop", "inbox", "tools"):
        parser.add_argument("--" + name, required=True)
    ARGS, rest = parser.parse_known_args()
    for name in ("probe", "drop", "inbox"):
        setattr(ARGS, name, os.path.abspath(getattr(ARGS, name)))

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "netbios"))
    import lab_harness

    def body(lab):
        global LAB
        LAB = lab
        try:
            start_session()
            argv = [sys.argv[0]] + rest
            return unittest.main(argv=argv, exit=False, verbosity=2).result.wasSuccessful()
        finally:
            # The lab ends everything left in its namespaces; the session first.
            for proc in SESSION.get("procs", []):
                LAB._end(proc.pid)

    sys.path.insert(0, ARGS.tools)
    import netbios_lab
    hosts = {h: netbios_lab.HOSTS[h] for h in ("cli", "rx1")}
    sys.exit(lab_harness.run_in_lab(ARGS.tools, "ib", body, give_up_after=150,
                                    needs=("setpriv", "Xvfb", "xdotool"), hosts=hosts,
                                    drop=ARGS.drop))

if __name__ == "__main__":
    main()
