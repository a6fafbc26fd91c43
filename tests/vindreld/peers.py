#!/usr/bin/env python3
"""Clients of vindreld that the tests run inside the lab's namespaces.

    peers.py register SOCKET LOGIN     REGISTER LOGIN, then print each answer
                                       line until stdin closes
    peers.py idle ADDRESS N            open N connections to port 139, print
                                       "ready", hold them until stdin closes
    peers.py hostile ADDRESS NAME      hostile sessions at once; prints one JSON
                                       object: case -> seconds until closed
                                       (null: still open after 10 s)
    peers.py defend BCAST NAME ADDR    broadcasts a registration of NAME<03>
                                       for ADDR; prints who answered it, how
    peers.py hold ADDRESS NAME SOURCES PER
                                       PER sessions to NAME from each of the
                                       comma-separated SOURCES, each sending
                                       keep-alives every 4 s and opened again
                                       when closed; prints "ready" once all
                                       are open, and when stdin closes, how
                                       many were opened in all
"""

import json
import os
import resource
import select
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from netbios_lab import encode_name  # noqa: E402


def register(path, login):
    s = socket.socket(socket.AF_UNIX)
    s.connect(path)
    s.sendall(("REGISTER %s\n" % login).encode())
    out = s.makefile("rb")
    done = threading.Event()

    def pump():
        for line in out:
            print(line.decode().rstrip("\n"), flush=True)
        done.set()
    threading.Thread(target=pump, daemon=True).start()
    sys.stdin.read()  # the registration lasts as long as the test wants
    s.close()


def idle(address, count):
    resource.setrlimit(resource.RLIMIT_NOFILE, (count + 64, count + 64))
    socks = []
    for _ in range(count):
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex((address, 139))
        socks.append(s)
    print("ready", flush=True)
    sys.stdin.read()


def session_request(name):
    body = encode_name(name, 3) + encode_name("HOSTILE", 0)
    return struct.pack(">BBH", 0x81, 0, len(body)) + body


def smb(command, words, data):
    header = b"\xffSMB" + bytes([command]) + b"\0" * 4 + b"\x18" + b"\0" * 20 + b"\x01\x00"
    body = header + bytes([len(words) // 2]) + words + struct.pack("<H", len(data)) + data
    return struct.pack(">BBH", 0, 0, len(body)) + body


def hostile(address, name):
    # Each case: what is sent after connecting (None: a session request first).
    cases = {
        "silent": [],
        "garbage": [b"GET / HTTP/1.0\r\n\r\n" + bytes(range(256)) * 4],
        "frame-too-large": [session_request(name), b"\x00\x01\xff\xff" + b"A" * 1000],
        "text-before-start": [session_request(name), smb(0xD7, b"\x01\x00", b"\x01\x05\x00hello")],
        "end-before-start": [session_request(name), smb(0xD6, b"\x01\x00", b"")],
        "unknown-command": [session_request(name), smb(0x72, b"", b"\x02NT LM 0.12\x00")],
        "wrong-name": [session_request("NOBODYHERE")],
    }
    closed = {}

    def run(case, sends):
        s = socket.create_connection((address, 139), timeout=2)
        start = time.time()
        for chunk in sends:
            s.sendall(chunk)
        s.setblocking(False)
        while time.time() - start < 10:
            ready, _, _ = select.select([s], [], [], 0.5)
            if not ready:
                continue
            try:
                if s.recv(65536) == b"":
                    break
            except OSError:
                break
        else:
            closed[case] = None
            return
        closed[case] = round(time.time() - start, 2)
    threads = [threading.Thread(target=run, args=item) for item in cases.items()]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print(json.dumps(closed), flush=True)


def hold(address, name, sources, per):
    stop = threading.Event()
    lock = threading.Lock()
    opened = [0]

    def seat(source):
        while not stop.is_set():
            s = socket.socket()
            try:
                s.bind((source, 0))
                s.settimeout(2)
                s.connect((address, 139))
                s.sendall(session_request(name))
                if s.recv(4)[:1] != b"\x82":
                    raise OSError("refused")
                with lock:
                    opened[0] += 1
                    if opened[0] == len(sources.split(",")) * per:
                        print("ready", flush=True)
                while not stop.is_set():
                    if not select.select([s], [], [], 4)[0]:
                        s.sendall(b"\x85\0\0\0")
                    elif not s.recv(64):
                        break
            except OSError:
                time.sleep(0.2)
            s.close()
    for source in sources.split(","):
        for _ in range(per):
            threading.Thread(target=seat, args=(source,), daemon=True).start()
    sys.stdin.read()
    stop.set()
    print(json.dumps({"opened": opened[0]}), flush=True)


def defend(bcast, name, address):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind(("0.0.0.0", 0))
    ip = socket.inet_aton(address)
    packet = (struct.pack(">HHHHHH", 0x4242, 0x2910, 1, 0, 0, 1) + encode_name(name) +
              b"\x00\x20\x00\x01" + b"\xc0\x0c\x00\x20\x00\x01" + struct.pack(">IHH", 300000, 6, 0)
              + ip)
    answers = []
    deadline = time.time() + 1.5
    for _ in range(3):
        s.sendto(packet, (bcast, 137))
        s.settimeout(0.25)
        try:
            while time.time() < deadline:
                reply, peer = s.recvfrom(1500)
                tid, flags = struct.unpack(">HH", reply[:4])
                if tid == 0x4242 and flags & 0x8000:
                    answers.append({"from": peer[0], "rcode": flags & 0xF})
        except socket.timeout:
            pass
        if answers:
            break
    print(json.dumps(answers), flush=True)


if __name__ == "__main__":
    mode, args = sys.argv[1], sys.argv[2:]
    {"register": lambda: register(args[0], args[1]),
     "idle": lambda: idle(args[0], int(args[1])),
     "hostile": lambda: hostile(args[0], args[1]),
     "defend": lambda: defend(args[0], args[1], args[2]),
     "hold": lambda: hold(args[0], args[1], args[2], int(args[3]))}[mode]()
