"""Runs a test body against the lab of tools/netbios_lab.py, for every test
that sends on a network.

Checks that this machine lets us build network namespaces (with CI=true a
skip is a failure), builds the lab under a private tag and temp dir, and
stops every daemon and deletes every namespace afterwards, also when the body
fails or the run is killed.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile

SKIP = 77


def skip_or_fail(reason):
    if os.environ.get("CI") == "true":
        print("FAIL: cannot run the lab tests in CI: %s" % reason)
        sys.exit(1)
    print("SKIP: %s" % reason)
    sys.exit(SKIP)


def run_in_lab(tools, tag_prefix, body, give_up_after=240, needs=(), **lab_options):
    """Calls body(lab) with the lab running; returns the exit status: 0 when
    the body returned True and nothing was left behind. `needs` names further
    programs the body runs; `lab_options` go to netbios_lab.Lab. The run gives
    up after `give_up_after` seconds, before ctest's own timeout would kill it
    outright and leave the daemons behind."""
    if os.geteuid() != 0:
        skip_or_fail("needs root to create network namespaces")
    for tool in ("ip", "ss", "/usr/sbin/smbd", "/usr/sbin/nmbd") + tuple(needs):
        if not shutil.which(tool):
            skip_or_fail("%s is not installed" % tool)
    probe_ns = "net-probe%d" % os.getpid()
    if subprocess.run(["ip", "netns", "add", probe_ns], stderr=subprocess.DEVNULL).returncode:
        skip_or_fail("cannot create network namespaces here")
    subprocess.run(["ip", "netns", "delete", probe_ns])

    sys.path.insert(0, tools)
    import netbios_lab
    base = tempfile.mkdtemp(prefix="vindrel-netlab-")
    os.chmod(base, 0o755)
    netbios_lab.clean_stale(tag_prefix)
    lab = netbios_lab.Lab(tag="%s%d" % (tag_prefix, os.getpid()), base=base, **lab_options)

    def interrupted(signum, frame):
        raise KeyboardInterrupt("signal %d" % signum)
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGALRM, interrupted)
    signal.alarm(give_up_after)

    ok = False
    try:
        lab.start()
        ok = body(lab)
        if not ok:
            for log in sorted(os.path.join(dp, f) for dp, _, fs in os.walk(base)
                              for f in fs if f.endswith(".log") or f.endswith(".out")):
                print("--- %s" % log)
                with open(log, errors="replace") as f:
                    print("".join(f.readlines()[-15:]))
    finally:
        signal.alarm(0)
        lab.stop()
        left = lab.running()
        if left:
            print("namespaces left behind: %s" % left)
            ok = False
        shutil.rmtree(base, ignore_errors=True)
    return 0 if ok else 1


def run_unittests_in_lab(tools, tag_prefix, unittest_argv, on_lab, **options):
    """The unittest cases of __main__ as the body: on_lab(lab) first, then
    the cases; exits with the result."""
    import unittest

    def body(lab):
        on_lab(lab)
        argv = [sys.argv[0]] + list(unittest_argv)
        return unittest.main(argv=argv, exit=False, verbosity=2).result.wasSuccessful()
    sys.exit(run_in_lab(tools, tag_prefix, body, **options))
