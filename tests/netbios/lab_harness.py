"""Runs a test script's unittest cases against the lab of tools/netbios_lab.py.

The lab is built under a private tag and temp dir and taken down afterwards,
every daemon stopped and every namespace deleted, also when a test fails or
the run is killed. Needs root; with CI=true a skip counts as a failure.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

SKIP = 77


def skip_or_fail(reason):
    if os.environ.get("CI") == "true":
        print("FAIL: cannot run the NetBIOS lab tests in CI: %s" % reason)
        sys.exit(1)
    print("SKIP: %s" % reason)
    sys.exit(SKIP)


def run_in_lab(tools, tag_prefix, unittest_argv, on_lab):
    """Builds the lab under a tag TAG_PREFIX<pid>, hands it to on_lab before
    it starts, runs the unittest cases of __main__ and exits with the result."""
    if os.geteuid() != 0:
        skip_or_fail("needs root to create network namespaces")
    for tool in ("ip", "ss", "/usr/sbin/smbd", "/usr/sbin/nmbd"):
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
    lab = netbios_lab.Lab(tag="%s%d" % (tag_prefix, os.getpid()), base=base)
    on_lab(lab)

    def interrupted(signum, frame):
        raise KeyboardInterrupt("signal %d" % signum)
    signal.signal(signal.SIGTERM, interrupted)
    # Give up before ctest's own timeout would kill this run outright and
    # leave the daemons behind.
    signal.signal(signal.SIGALRM, interrupted)
    signal.alarm(240)

    ok = False
    try:
        lab.start()
        result = unittest.main(argv=[sys.argv[0]] + unittest_argv, exit=False, verbosity=2).result
        ok = result.wasSuccessful()
        if not ok:
            for log in sorted(os.path.join(dp, f) for dp, _, fs in os.walk(base)
                              for f in fs if f.endswith(".log") or f.endswith(".out")):
                print("--- %s" % log)
                with open(log, errors="replace") as f:
                    print("".join(f.readlines()[-15:]))
    finally:
        lab.stop()
        left = lab.running()
        if left:
            print("namespaces left behind: %s" % left)
            ok = False
        shutil.rmtree(base, ignore_errors=True)
    sys.exit(0 if ok else 1)
