#!/usr/bin/env python3
"""vindrel-inbox on real desktop servers, each started by the test and
ended by it: a notification shown by dunst (Debian's notification server)
on Xvfb, over a session bus of the test's own; the tray icon on a
StatusNotifierWatcher (python3-dbusmock's, with a host); the program on
Wayland under a headless weston; and its single-instance lock kept out of a
shared /tmp.
No network: the inbox reads a spool the test fills with vindrel-drop.

    desktop_test.py --inbox PATH --drop PATH --bus-config FILE

--inbox is vindrel-inbox-traced: the program, writing what it shows to
$VINDREL_INBOX_TRACE.
"""

import argparse
import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
SKIP = 77


def wait_for(check, timeout=10.0):
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


class Session:
    """A home, a private runtime dir and a spool; every process started here
    is ended, with its children, when the session closes."""

    def __init__(self):
        self.base = tempfile.mkdtemp(prefix="vindrel-desktop-")
        self.runtime = self.path("run")
        os.makedirs(self.runtime, mode=0o700)
        os.makedirs(self.path("spool"))
        self.trace = self.path("trace.jsonl")
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.base, "LANG": "C.UTF-8",
                    "XDG_RUNTIME_DIR": self.runtime, "XDG_DATA_HOME": self.path("data"),
                    "XDG_CONFIG_HOME": self.path("config"), "VINDREL_INBOX_TRACE": self.trace,
                    "DBUS_SESSION_BUS_ADDRESS": "disabled:"}
        self.procs = []

    def path(self, name):
        return os.path.join(self.base, name)

    def start(self, args, env=None, **kw):
        proc = subprocess.Popen(args, env=dict(self.env, **(env or {})), start_new_session=True,
                                stdin=subprocess.DEVNULL, **kw)
        self.procs.append(proc)
        return proc

    def inbox(self, *extra, env=None):
        with open(self.path("inbox.log"), "ab") as log:
            return self.start([ARGS.inbox, "--spool", self.path("spool"), "--service-socket",
                               self.path("no-service.sock"), *extra], env=env, stdout=log,
                              stderr=log)

    def drop(self, sender, text):
        with open(self.path("message"), "w", encoding="utf-8") as f:
            f.write(text)
        subprocess.run([ARGS.drop, "--spool", self.path("spool"), sender, "DESK7",
                        self.path("message")], check=True, env=self.env)

    def shown(self, count, timeout=10.0):
        def lines():
            if not os.path.exists(self.trace):
                return []
            with open(self.trace, encoding="utf-8") as f:
                found = [json.loads(line) for line in f if line.strip()]
            return found if len(found) >= count else []
        return wait_for(lines, timeout)

    def close(self):
        for proc in reversed(self.procs):
            if proc.stdout:
                proc.stdout.close()
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGTERM)
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait()
        shutil.rmtree(self.base, ignore_errors=True)


class Desktop(unittest.TestCase):
    def setUp(self):
        self.s = Session()
        self.addCleanup(self.s.close)

    def xvfb(self):
        xvfb = self.s.start(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                             "800x600x24"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return ":" + xvfb.stdout.readline().decode().strip()

    def session_bus(self):
        bus = self.s.start(["dbus-daemon", "--config-file", ARGS.bus_config, "--nofork",
                            "--print-address=1"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL)
        return bus.stdout.readline().decode().strip()

    def test_dunst_on_xvfb_shows_a_message_end_to_end(self):
        env = {"DISPLAY": self.xvfb(), "DBUS_SESSION_BUS_ADDRESS": self.session_bus(),
               "QT_QPA_PLATFORM": "xcb"}
        with open(self.s.path("dunstrc"), "w") as f:
            f.write("[global]\n    markup = full\n")
        self.s.start(["dunst", "-config", self.s.path("dunstrc")], env=env,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.s.env.update(env)
        self.assertTrue(wait_for(lambda: subprocess.run(
            ["dunstctl", "count", "displayed"], env=self.s.env, capture_output=True).returncode == 0))
        self.s.inbox()
        self.s.drop("ALICE", "Lunch at <b>twelve</b> & on")
        shown = self.s.shown(1)
        self.assertTrue(shown, "nothing shown; see %s" % self.s.base)
        self.assertEqual(shown[0]["kind"], "notification")
        self.assertEqual(shown[0]["text"], "\u2068Lunch at <b>twelve</b> & on\u2069")
        count = subprocess.run(["dunstctl", "count", "displayed"], env=self.s.env,
                               capture_output=True, text=True)
        self.assertEqual(count.stdout.strip(), "1")
        self.assertEqual([p for p in self.s.procs if p.poll() is not None], [])

    def test_a_status_notifier_tray_counts_unread_and_opens_the_history(self):
        env = {"DISPLAY": self.xvfb(), "DBUS_SESSION_BUS_ADDRESS": self.session_bus(),
               "QT_QPA_PLATFORM": "xcb"}
        self.s.env.update(env)
        watcher = ["org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher"]

        def call(dest, path, method, *args):
            out = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=" + dest,
                                  path, method, *args], env=self.s.env, capture_output=True,
                                 text=True)
            return out.stdout if out.returncode == 0 else None
        mock = "org.freedesktop.DBus.Mock."

        def start_panel():
            # A StatusNotifierWatcher that says when its host comes, as KDE's panel does.
            panel = self.s.start(["/usr/bin/python3", "-m", "dbusmock", *watcher, watcher[0]],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.assertTrue(wait_for(lambda: call(*watcher, mock + "AddProperty",
                                                  "string:" + watcher[0],
                                                  "string:IsStatusNotifierHostRegistered",
                                                  "variant:boolean:true")))
            call(*watcher, mock + "AddMethod", "string:" + watcher[0],
                 "string:RegisterStatusNotifierItem", "string:s", "string:", "string:")
            subprocess.run(["gdbus", "call", "--session", "--dest", watcher[0], "--object-path",
                            watcher[1], "--method", mock + "EmitSignal", watcher[0],
                            "StatusNotifierHostRegistered", "", "[]"], env=self.s.env,
                           stdout=subprocess.DEVNULL, check=True)
            return panel

        def registrations():
            return wait_for(lambda: re.findall(
                r'string "(:[0-9.]+)"', call(*watcher, mock + "GetMethodCalls",
                                             "string:RegisterStatusNotifierItem") or ""))
        panel = start_panel()
        inbox = self.s.inbox()
        registered = registrations()
        self.assertTrue(registered, "no tray item registered")
        item = [registered[0], "/StatusNotifierItem"]

        def prop(name):
            return call(*item, "org.freedesktop.DBus.Properties.Get",
                        "string:org.kde.StatusNotifierItem", "string:" + name) or ""
        for name, value in (("Title", "Vindrel"), ("Category", "Communications"),
                            ("Id", "vindrel-inbox"), ("IconName", "vindrel-inbox"),
                            ("Status", "Active")):
            self.assertIn('string "%s"' % value, prop(name), name)
        self.assertIn('string "Vindrel"', prop("ToolTip"))
        self.assertIn("no unread messages", prop("ToolTip"))
        self.s.drop("ALICE", "hi")
        self.assertTrue(wait_for(lambda: "1 unread message" in prop("ToolTip")))
        self.assertIn('"NeedsAttention"', prop("Status"))
        call(*item, "org.kde.StatusNotifierItem.Activate", "int32:0", "int32:0")
        self.assertTrue(wait_for(lambda: [line for line in self.s.shown(1)
                                                     if line["kind"] == "history"]))
        # Its pop-up closed with Esc: read.
        popup = wait_for(lambda: [line for line in self.s.shown(1) if line["kind"] == "window"])
        for command in (["search", "--sync", "--onlyvisible", "--name",
                         "^%s$" % re.escape(popup[0]["title"]), "windowfocus", "--sync"],
                        ["key", "Escape"]):
            subprocess.run(["xdotool", *command], env=self.s.env, timeout=20, check=True)
        self.assertTrue(wait_for(lambda: '"Active"' in prop("Status")), prop("Status"))

        # The menu, as the host draws it: Quit there quits the inbox.
        menu = [registered[0], re.search(r'object path "([^"]+)"', prop("Menu")).group(1)]
        layout = call(*menu, "com.canonical.dbusmenu.GetLayout", "int32:0", "int32:-1",
                      "array:string:label")
        quit_id = re.search(r'int32 (\d+)\s+array \[\s+dict entry\(\s+string "label"\s+'
                            r'variant\s+string "Quit"', layout or "")
        self.assertTrue(quit_id, layout)
        # The panel restarted: the item is offered to the new one.
        panel.terminate()
        panel.wait()
        start_panel()
        self.assertEqual(registrations(), registered[:1])
        call(*menu, "com.canonical.dbusmenu.Event", "int32:" + quit_id.group(1),
             "string:clicked", "variant:int32:0", "uint32:0")
        self.assertEqual(wait_for(lambda: inbox.poll() is not None) and inbox.returncode, 0,
                         "Quit did not quit")

    def test_on_wayland_a_message_arrives_and_the_history_opens(self):
        self.s.start(["weston", "--backend=headless-backend.so", "--socket=wayland-vindrel",
                      "--idle-time=0"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        socket = os.path.join(self.s.runtime, "wayland-vindrel")
        self.assertTrue(wait_for(lambda: os.path.exists(socket)))
        wayland = {"WAYLAND_DISPLAY": "wayland-vindrel", "QT_QPA_PLATFORM": "wayland"}
        self.s.inbox(env=wayland)
        self.assertTrue(wait_for(lambda: os.path.exists(
            os.path.join(self.s.runtime, "vindrel-inbox.socket"))))
        self.s.drop("ALICE", "hello, Wayland")
        shown = self.s.shown(1)
        self.assertTrue(shown, "no window on screen; see %s" % self.s.base)
        self.assertEqual((shown[0]["kind"], shown[0]["text"]), ("window", "hello, Wayland"))
        again = subprocess.run([ARGS.inbox, "--spool", self.s.path("spool")],
                               env=dict(self.s.env, **wayland), capture_output=True, timeout=20)
        self.assertIn(b"already running", again.stderr)
        self.assertEqual(self.s.shown(2)[1]["kind"], "history")
        with open(self.s.path("inbox.log"), encoding="utf-8", errors="replace") as f:
            self.assertNotIn("does not support", f.read())

    def test_the_lock_is_never_in_a_shared_tmp(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to give directories to another user")
        # Runtime dirs another user made (Qt refuses them), and that user's
        # inbox holding the lock in the shared temp dir the old fallback used.
        tmp = self.s.path("tmp")
        os.makedirs(os.path.join(tmp, "runtime-" + pwd.getpwuid(os.geteuid()).pw_name))
        os.chmod(tmp, 0o1777)
        for taken in (self.s.runtime, os.path.join(tmp, "runtime-root")):
            if os.path.exists(taken):
                os.chown(taken, 4242, 4242)
        other = self.s.path("vindrel-inbox")
        shutil.copy("/bin/sleep", other)
        holder = self.s.start([other, "60"])
        with open(os.path.join(tmp, "vindrel-inbox.lock"), "w") as f:
            f.write("%d\nvindrel-inbox\n%s\n" % (holder.pid, os.uname().nodename))
        inbox = self.s.inbox(env={"TMPDIR": tmp, "QT_QPA_PLATFORM": "offscreen"})
        private = os.path.join(tmp, "vindrel-inbox-%d" % os.geteuid())
        wait_for(lambda: os.path.exists(os.path.join(private, "vindrel-inbox.lock")) or
                 inbox.poll() is not None)
        self.assertIsNone(inbox.poll(), "the inbox gave way to another user's lock")
        self.assertEqual(os.stat(private).st_mode & 0o777, 0o700)

def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("inbox", "drop", "bus-config"):
        parser.add_argument("--" + name, required=True)
    ARGS, rest = parser.parse_known_args()
    missing = [tool for tool in ("Xvfb", "dunst", "dunstctl", "weston", "dbus-daemon", "dbus-send",
                                 "gdbus", "xdotool")
               if not shutil.which(tool)]
    if subprocess.run(["/usr/bin/python3", "-c", "import dbusmock"],
                      stderr=subprocess.DEVNULL).returncode:
        missing.append("python3-dbusmock")
    if missing:
        print("%s: %s not installed" % ("FAIL" if os.environ.get("CI") == "true" else "SKIP",
                                        ", ".join(missing)))
        sys.exit(1 if os.environ.get("CI") == "true" else SKIP)
    ok = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result.wasSuccessful()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
