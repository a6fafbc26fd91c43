#!/usr/bin/env python3
"""systemd's socket activation as far as vindreld sees it, in the lab:

    activate.py --report FILE SOCKET... -- VINDRELD ARGS...

binds each SOCKET (udp:137, tcp:139, unix:PATH) as the socket unit does,
runs vindreld as a child with them as descriptors 3... and LISTEN_PID and
LISTEN_FDS set, passes SIGTERM on, and once it has exited keeps the sockets
open as systemd does and writes to FILE, as JSON, its exit status, how long
it took to stop, and what waits in each socket's queue: each datagram's
source and whether it is a name service answer, whether a connection waits.
"""

import fcntl
import json
import os
import select
import signal
import socket
import sys
import time


def bind(wanted):
    kind, _, where = wanted.partition(":")
    if kind == "unix":
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        if os.path.exists(where):
            os.unlink(where)
        os.makedirs(os.path.dirname(where), exist_ok=True)
        s.bind(where)
        os.chmod(where, 0o666)
    else:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if kind == "udp" else socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("0.0.0.0", int(where)))
    if s.type == socket.SOCK_STREAM:
        s.listen(16)
    return s


def queued(s):
    if s.type == socket.SOCK_STREAM:
        return bool(select.select([s], [], [], 0)[0])
    datagrams = []
    s.setblocking(False)
    while True:
        try:
            data, (address, port) = s.recvfrom(2048)
        except BlockingIOError:
            return datagrams
        datagrams.append([address, port, "answer" if len(data) > 2 and data[2] & 0x80 else "question"])


def main():
    split = sys.argv.index("--")
    report, wanted, command = sys.argv[2], sys.argv[3:split], sys.argv[split + 1:]
    sockets = [bind(one) for one in wanted]
    child = os.fork()
    if child == 0:
        # Out of the way first, so that no dup2 overwrites a socket still to move.
        high = [fcntl.fcntl(s.fileno(), fcntl.F_DUPFD, 100) for s in sockets]
        for fd, h in enumerate(high, 3):
            os.dup2(h, fd)
            os.set_inheritable(fd, True)
            os.close(h)
        os.environ.update(LISTEN_PID=str(os.getpid()), LISTEN_FDS=str(len(sockets)))
        os.execv(command[0], command)
    asked = []
    signal.signal(signal.SIGTERM, lambda *_: (asked.append(time.monotonic()),
                                              os.kill(child, signal.SIGTERM)))
    _, status = os.waitpid(child, 0)
    ended = time.monotonic()
    # Anything our own broadcasts left has arrived long before this.
    time.sleep(0.1)
    result = {"status": os.waitstatus_to_exitcode(status),
              "stop_ms": round((ended - asked[0]) * 1000, 1) if asked else None}
    for one, s in zip(wanted, sockets):
        result[one.split(":")[0] if one.startswith("unix") else one] = queued(s)
    with open(report, "w") as f:
        json.dump(result, f)


if __name__ == "__main__":
    main()
