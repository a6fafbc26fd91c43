#!/usr/bin/env python3
"""A session-service peer that misbehaves in one chosen way, for one
connection: what the client must survive from a real network.

    hostile_peer.py ADDRESS MODE      (prints "ready" once it listens)
"""

import socket
import struct
import sys
import time

POSITIVE = b"\x82\x00\x00\x00"


def read_frame(conn):
    head = b""
    while len(head) < 4:
        chunk = conn.recv(4 - len(head))
        if not chunk:
            return None
        head += chunk
    length = struct.unpack(">H", head[2:])[0] | (head[1] & 1) << 16
    body = b""
    while len(body) < length:
        chunk = conn.recv(length - len(body))
        if not chunk:
            return None
        body += chunk
    return head, body


def smb_reply(request, status=0, words=b"", mid_delta=0):
    command = request[4]
    mid = struct.unpack("<H", request[30:32])[0] + mid_delta
    header = (b"\xffSMB" + bytes([command]) + struct.pack("<I", status) + b"\x80" +
              b"\x00" * 20 + struct.pack("<H", mid))
    body = header + bytes([len(words) // 2]) + words + b"\x00\x00"
    return struct.pack(">BBH", 0, 0, len(body)) + body


def serve(conn, mode):
    if read_frame(conn) is None:
        return
    session_replies = {
        "not-present": b"\x83\x00\x00\x01\x82",
        "not-listening": b"\x83\x00\x00\x01\x80",
        "retarget": b"\x84\x00\x00\x06\x0a\x00\x00\x01\x00\x8b",
        "garbage": b"HTTP/1.0 400 Bad Request\r\n\r\n",
        "close-at-once": b"",
        "silent": None,
    }
    if mode in session_replies:
        reply = session_replies[mode]
        if reply is None:
            time.sleep(30)
        elif reply:
            conn.sendall(reply)
        return
    if mode == "keepalives":
        conn.sendall(b"\x85\x00\x00\x00" + POSITIVE)
    else:
        conn.sendall(POSITIVE)
    if mode == "drop-after-session":
        return
    if mode == "keepalive-flood":
        # Keeps the line busy for as long as the client reads.
        frames = b"\x85\x00\x00\x00" * 1024
        deadline = time.time() + 30
        while time.time() < deadline:
            conn.sendall(frames)
        return
    while True:
        frame = read_frame(conn)
        if frame is None:
            return
        request = frame[1]
        if mode == "huge-frame":
            conn.sendall(b"\x00\x01\xff\xff" + b"\x00" * 100)
            return
        if mode == "error-status":
            conn.sendall(smb_reply(request, status=0x00210002))
        elif mode == "wrong-mid":
            conn.sendall(smb_reply(request, mid_delta=1))
        elif mode == "silent-after-start":
            time.sleep(30)
            return
        else:  # keepalives: a well-behaved peer that sends keep-alives between replies
            conn.sendall(b"\x85\x00\x00\x00" + smb_reply(request))


def main():
    address, mode = sys.argv[1], sys.argv[2]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, 139))
    listener.listen(1)
    listener.settimeout(20)
    print("ready", flush=True)
    conn, _ = listener.accept()
    try:
        serve(conn, mode)
    except OSError:
        pass
    finally:
        conn.close()
        listener.close()


if __name__ == "__main__":
    main()
