"""What the Windows test scripts share: a list of named checks that prints
each result and the closing tally, the forms Wine wants paths and texts in,
a test DLL put into a Wine prefix's system folder, and a network namespace
where nothing a program sends can leave."""
import contextlib
import os
import shutil
import signal
import struct
import subprocess
import sys


class Checklist:
    def __init__(self):
        self.passed = 0
        self.failures = []

    def check(self, what, got, want):
        if got == want:
            self.passed += 1
            print('ok   ' + what)
        else:
            print(f'FAIL {what}\n     got  {got!r}\n     want {want!r}')
            self.failures.append(what)
        return got == want

    def fail(self, what):
        print(f'FAIL {what}')
        self.failures.append(what)

    def finish(self):
        """Prints the tally and returns the exit status."""
        print(f'{self.passed} passed, {len(self.failures)} failed')
        return 1 if self.failures else 0


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def utf16_hex(text):
    return text.encode('utf-16-le').hex()


def is_64_bit(exe):
    """Whether the Windows program `exe` is a 64-bit one (x86-64)."""
    with open(exe, 'rb') as f:
        header = f.read(4096)
    pe = struct.unpack_from('<I', header, 0x3c)[0]
    return struct.unpack_from('<H', header, pe + 4)[0] == 0x8664


def system_folder(prefix, exe):
    """The folder a program `exe` sees as its system folder in the Wine
    prefix: syswow64 for a 32-bit program in a 64-bit prefix."""
    windows = os.path.join(prefix, 'drive_c', 'windows')
    wow = os.path.join(windows, 'syswow64')
    return wow if not is_64_bit(exe) and os.path.isdir(wow) else os.path.join(windows, 'system32')


@contextlib.contextmanager
def system_dll(prefix, exe, dll, keep):
    """Puts the file `dll` into the prefix's system folder for `exe`, under
    its own name, and puts back what was there afterwards; `keep` is where
    the original waits meanwhile (a run killed halfway is mended by the next
    one)."""
    target = os.path.join(system_folder(prefix, exe), os.path.basename(dll))
    if os.path.exists(keep):
        shutil.copy(keep, target)
    elif os.path.exists(target):
        shutil.copy(target, keep)
    shutil.copy(dll, target)
    try:
        yield target
    finally:
        if os.path.exists(keep):
            shutil.copy(keep, target)
            os.remove(keep)
        else:
            os.remove(target)


@contextlib.contextmanager
def offline_namespace(tag):
    """A network namespace with loopback alone, for Wine runs of a program
    whose messenger client would send if the test double failed to load:
    nothing sent there leaves it. Yields the command prefix that runs a
    program inside; Wine's server must run inside too, since it makes the
    sockets. Needs root: without it the test is skipped (exit 77), which
    counts as a failure when CI=true."""
    if os.geteuid() != 0:
        if os.environ.get('CI') == 'true':
            print('FAIL: needs root for a network namespace')
            sys.exit(1)
        print('SKIP: needs root for a network namespace')
        sys.exit(77)
    name = f'net-{tag}{os.getpid()}'
    subprocess.run(['ip', 'netns', 'add', name], check=True)
    try:
        subprocess.run(['ip', '-n', name, 'link', 'set', 'lo', 'up'], check=True)
        yield ['ip', 'netns', 'exec', name]
    finally:
        # Whatever still runs inside was started by this test.
        for pid in subprocess.run(['ip', 'netns', 'pids', name], capture_output=True,
                                  text=True).stdout.split():
            try:
                os.kill(int(pid), signal.SIGKILL)
            except ProcessLookupError:
                pass
        subprocess.run(['ip', 'netns', 'delete', name])
