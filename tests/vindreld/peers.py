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
    peers.py pipelined ADDRESS NAME N  one session, N single-block messages
                                       "p0".. in one write; prints one JSON
                                       object: the session response, each
                                       answer as [mid, status], the seconds
    peers.py datagrams ADDRESS JSON    sends to ADDRESS:138 one messenger
                                       datagram per object of the JSON list
                                       (the keyword arguments of messngr);
                                       prints the time the first was sent
    peers.py dgflood ADDRESS NAME N S  sends N datagrams to NAME<03> with forged
                                       sender names, spread over S seconds;
                                       prints "started", then the seconds taken
    peers.py forge TARGET KIND RATE SECONDS FROM
                                       forged requests to TARGET:137 (raw
                                       socket), RATE a second: KIND "query"
                                       (for VRX<03>) or "status";
                                       FROM is ADDRESS:PORT or "lan" (random
                                       hosts of TARGET's /24)
    peers.py ask ADDRESS NAME COUNT    COUNT unicast queries for NAME<03>, four
                                       a second; prints how many were answered
    peers.py wins-claim WINS NAME ADDR SECONDS
                                       registers NAME<03> for ADDR with WINS
                                       (from port 137), prints the final rcode
                                       (null: none), then answers the server's
                                       challenges for SECONDS
    peers.py churn SOCKET LOGIN SECONDS
                                       connect, REGISTER LOGIN, close, over and
                                       over; prints how many times
    peers.py count-sent ADDRESS SECONDS
                                       datagrams sent from ADDRESS port 137 on
                                       this host's eth0 (AF_PACKET)
    peers.py hold ADDRESS NAME SOURCES PER
                                       PER sessions to NAME from each of the
                                       comma-separated SOURCES, each sending
                                       keep-alives every 4 s and opened again
                                       when closed; prints "ready" once all
                                       are open, and when stdin closes, how
                                       many were opened in all
    peers.py flood ADDRESS NAME N C    C connections sending N single-block
                                       messages in all, each the next once
                                       the last is answered, connecting again
                                       when refused; prints one JSON object:
                                       how many were sent, kept and refused,
                                       the seconds (a minute at most)
"""

import json
import os
import random
import resource
import select
import socket
import struct
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
sys.path.insert(0, os.path.join(HERE, "..", "netbios"))
from netbios_lab import encode_name  # noqa: E402
from hostile_peer import read_frame  # noqa: E402
from hostile_nbns import forged  # noqa: E402


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


def smb(command, words, data, mid=1):
    header = b"\xffSMB" + bytes([command]) + b"\0" * 4 + b"\x18" + b"\0" * 20 + struct.pack("<H", mid)
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


def pipelined(address, name, count):
    s = socket.create_connection((address, 139), timeout=10)
    start = time.time()
    s.sendall(session_request(name))
    session = read_frame(s)[0][0]
    sends = []
    for i in range(count):
        text = b"p%d" % i
        data = b"\x04PIPE\0\x04" + name.encode() + b"\0\x01" + struct.pack("<H", len(text)) + text
        sends.append(smb(0xD0, b"", data, mid=i + 1))
    s.sendall(b"".join(sends))
    answers = []
    try:
        while len(answers) < count:
            frame = read_frame(s)
            if frame is None:
                break
            answers.append(list(struct.unpack("<H", frame[1][30:32]) +
                                struct.unpack("<I", frame[1][5:9])))
    except socket.timeout:
        pass
    print(json.dumps({"session": session, "answers": answers,
                      "seconds": round(time.time() - start, 2)}), flush=True)


def messngr(sender, recipient, text, dest, suffix=3, kind=0x10, source="CLI",
            source_ip="10.77.1.10", flags=0x02, mailslot="\\MAILSLOT\\MESSNGR", command=0x25,
            cut=None):
    """A messenger message as a NetBIOS datagram (RFC 1002, 4.4.1) holding a
    class 2 mailslot write (an SMB_COM_TRANSACTION of 17 words, 3 of them
    setup: opcode 1, priority, class 2) whose data is FROM, TO and TEXT in
    CP850, each ending in a NUL."""
    data = b"".join(field.encode("cp850") + b"\0" for field in (sender, recipient, text))
    slot = mailslot.encode() + b"\0"
    data_offset = 32 + 1 + 17 * 2 + 2 + len(slot)
    words = struct.pack("<HHHHBBHIHHHHHBBHHH", 0, len(data), 0, 0, 0, 0, 0, 1000, 0, 0, 0,
                        len(data), data_offset, 3, 0, 1, 1, 2)
    body = (b"\xffSMB" + bytes([command]) + b"\0" * 27 + b"\x11" + words
            + struct.pack("<H", len(slot) + len(data)) + slot + data)
    names = encode_name(source, 0) + encode_name(dest, suffix)
    header = struct.pack(">BBH4sHHH", kind, flags, 1, socket.inet_aton(source_ip), 138,
                         len(names) + len(body), 0)
    return (header + names + body)[:cut]


def datagrams(address, messages):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    packets = [messngr(**fields) for fields in json.loads(messages)]
    start = time.time()
    for packet in packets:
        s.sendto(packet, (address, 138))
    print(start, flush=True)


def dgflood(address, name, count, seconds):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    packets = [messngr("forged%d" % i, name, "flood %d" % i, name, source="F%d" % i,
                       source_ip="10.77.1.%d" % (i % 250 + 1)) for i in range(count)]
    print("started", flush=True)
    start = time.time()
    for i, packet in enumerate(packets):
        s.sendto(packet, (address, 138))
        if i % 50 == 49:
            time.sleep(max(0.0, start + seconds * (i + 1) / count - time.time()))
    print(round(time.time() - start, 3), flush=True)


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


def flood(address, name, count, connections):
    lock = threading.Lock()
    got = {"sent": 0, "kept": 0, "refused": 0, "unanswered": 0}
    start = time.time()

    def take():
        with lock:
            if got["sent"] == count:
                return None
            got["sent"] += 1
            return got["sent"]

    def answered(outcome):
        with lock:
            got[outcome] += 1

    def sender():
        while got["sent"] < count and time.time() < start + 60:
            try:
                with socket.create_connection((address, 139), timeout=10) as s:
                    s.sendall(session_request(name))
                    frame = read_frame(s)
                    if frame is None or frame[0][0] != 0x82:
                        continue  # turned away at the door: no message sent
                    while (mid := take()) is not None:
                        text = b"f%d" % mid
                        try:
                            s.sendall(smb(0xD0, b"", b"\x04FLOOD\0\x04" + name.encode() +
                                          b"\0\x01" + struct.pack("<H", len(text)) + text,
                                          mid=mid % 65536))
                            frame = read_frame(s)
                        except OSError:
                            frame = None
                        if frame is None:
                            answered("unanswered")
                            break
                        kept = struct.unpack("<I", frame[1][5:9])[0] == 0
                        answered("kept" if kept else "refused")
                        if not kept:
                            break  # the session ends with a refusal
            except OSError:
                pass
    threads = [threading.Thread(target=sender) for _ in range(connections)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print(json.dumps(dict(got, seconds=round(time.time() - start, 2))), flush=True)


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


def name_query(tid, name, suffix=3, kind=0x20):
    return struct.pack(">HHHHHH", tid, 0x0000, 1, 0, 0, 0) + encode_name(name, suffix) + \
        struct.pack(">HH", kind, 1)


def forge(target, kind, rate, seconds, source):
    raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    lan = target.rsplit(".", 1)[0] + "."
    name = "VRX" if kind == "query" else "*"
    start, sent = time.time(), 0
    while time.time() - start < seconds:
        # Catch up with the clock in small batches, so the rate holds.
        due = int((time.time() - start) * rate)
        for _ in range(due - sent):
            if source == "lan":
                src, sport = lan + str(random.randint(100, 250)), random.randint(1024, 65535)
            else:
                src, sport = source.split(":")[0], int(source.split(":")[1])
            query = (name_query(random.randint(0, 65535), name) if kind == "query"
                     else name_query(random.randint(0, 65535), "*", 0, 0x21))
            raw.sendto(forged(src, sport, target, 137, query), (target, 0))
        sent = max(sent, due)
        time.sleep(0.002)
    print(sent, flush=True)


def ask(address, name, count):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    answered = 0
    for i in range(count):
        tid = 0x5100 + i
        s.sendto(name_query(tid, name), (address, 137))
        deadline = time.time() + 0.25
        while time.time() < deadline:
            s.settimeout(max(0.001, deadline - time.time()))
            try:
                reply = s.recv(1500)
            except socket.timeout:
                break
            if len(reply) >= 4 and struct.unpack(">HH", reply[:4]) == (tid, 0x8500):
                answered += 1
                time.sleep(max(0.0, deadline - time.time()))
                break
    print(json.dumps({"asked": count, "answered": answered}), flush=True)


def wins_claim(wins, name, address, seconds):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("0.0.0.0", 137))
    encoded = encode_name(name)
    # Unicast, recursion desired, an M node's unique name.
    s.sendto(struct.pack(">HHHHHH", 0x6A6A, 0x2900, 1, 0, 0, 1) + encoded + b"\x00\x20\x00\x01"
             + b"\xc0\x0c\x00\x20\x00\x01" + struct.pack(">IHH", 300000, 6, 0x4000)
             + socket.inet_aton(address), (wins, 137))
    rcode, start = None, time.time()
    while time.time() - start < seconds:
        s.settimeout(max(0.01, start + seconds - time.time()))
        try:
            packet, peer = s.recvfrom(1500)
        except socket.timeout:
            break
        tid, flags = struct.unpack(">HH", packet[:4])
        if flags & 0x8000 and tid == 0x6A6A and (flags >> 11) & 0xF == 5 and rcode is None:
            rcode = flags & 0xF  # not a wait-for-acknowledgement (opcode 7)
            print(json.dumps(rcode), flush=True)
        elif not flags & 0x8000 and packet[12:46] == encoded and peer[0] == wins:
            # The server's challenge: yes, this name is ours.
            s.sendto(packet[:2] + struct.pack(">HHHHH", 0x8500, 0, 1, 0, 0) + encoded +
                     struct.pack(">HHIHH", 0x20, 1, 300000, 6, 0x4000) + socket.inet_aton(address),
                     peer)
    if rcode is None:
        print("null", flush=True)


def churn(path, login, seconds):
    count, start = 0, time.time()
    while time.time() - start < seconds:
        with socket.socket(socket.AF_UNIX) as s:
            try:
                s.connect(path)
                s.sendall(("REGISTER %s\n" % login).encode())
                count += 1
            except OSError:
                pass  # refused: too many connections from this user
    print(count, flush=True)


def count_sent(address, seconds):
    # Every protocol: only such sockets are shown what the host sends.
    s = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(0x0003))
    s.bind(("eth0", 0))
    ours, count, start = socket.inet_aton(address), 0, time.time()
    while time.time() - start < seconds:
        s.settimeout(max(0.01, start + seconds - time.time()))
        try:
            frame, where = s.recvfrom(2048)
        except socket.timeout:
            break
        # Outgoing UDP from our address, port 137.
        if (where[2] == socket.PACKET_OUTGOING and where[1] == 0x0800 and len(frame) >= 22
                and frame[9] == 17 and frame[12:16] == ours and frame[20:22] == b"\x00\x89"):
            count += 1
    print(count, flush=True)


if __name__ == "__main__":
    mode, args = sys.argv[1], sys.argv[2:]
    {"register": lambda: register(args[0], args[1]),
     "idle": lambda: idle(args[0], int(args[1])),
     "hostile": lambda: hostile(args[0], args[1]),
     "defend": lambda: defend(args[0], args[1], args[2]),
     "pipelined": lambda: pipelined(args[0], args[1], int(args[2])),
     "datagrams": lambda: datagrams(args[0], args[1]),
     "dgflood": lambda: dgflood(args[0], args[1], int(args[2]), float(args[3])),
     "forge": lambda: forge(args[0], args[1], int(args[2]), float(args[3]), args[4]),
     "ask": lambda: ask(args[0], args[1], int(args[2])),
     "wins-claim": lambda: wins_claim(args[0], args[1], args[2], float(args[3])),
     "churn": lambda: churn(args[0], args[1], float(args[2])),
     "count-sent": lambda: count_sent(args[0], float(args[1])),
     "hold": lambda: hold(args[0], args[1], args[2], int(args[3])),
     "flood": lambda: flood(args[0], args[1], int(args[2]), int(args[3]))}[mode]()
