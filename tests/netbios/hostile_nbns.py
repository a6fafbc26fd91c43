#!/usr/bin/env python3
"""A name-service peer that misbehaves in one chosen way: the crowd on a
LAN that "*" must survive. Runs in one lab namespace until killed.

    hostile_nbns.py ADDRESS host NAME
        answers the wildcard query, queries for NAME<03> and node status
        like a host (its port 139 is left to tests/netbios/hostile_peer.py)
    hostile_nbns.py ADDRESS phantom NAME
        the same, and takes TCP connections on port 139 but never answers them
    hostile_nbns.py ADDRESS flood COUNT VALID PREFIX
        answers each wildcard query with COUNT answers from forged sources
        (raw socket): VALID of them name their own in-LAN source (distinct
        addresses nobody holds), the rest name another host, an off-LAN,
        broadcast, network or multicast address; the LAN is ADDRESS/PREFIX
    hostile_nbns.py ADDRESS wins-spoof NAME_ADDRESS HOW
        a WINS server that answers every query with NAME_ADDRESS, but from
        the wrong place: HOW is "other-address" (forged from ADDRESS+1) or
        "other-port" (its own address, port 1137)

Prints "ready" once it listens.
"""

import ipaddress
import socket
import struct
import sys


def answer(query, address):
    """A positive name query response naming `address` for the name asked."""
    tid, name = query[:2], query[12:46]
    rdata = b"\x00\x00" + socket.inet_aton(address)
    return (tid + struct.pack(">HHHHH", 0x8500, 0, 1, 0, 0) + name +
            struct.pack(">HHIH", 0x20, 1, 300, len(rdata)) + rdata)


def node_status(query, name):
    raw = name.upper().encode("ascii").ljust(15, b" ")
    names = [raw + b"\x00", raw + b"\x03"]
    rdata = bytes([len(names)]) + b"".join(n + b"\x04\x00" for n in names) + b"\x00" * 46
    return (query[:2] + struct.pack(">HHHHH", 0x8400, 0, 1, 0, 0) + query[12:46] +
            struct.pack(">HHIH", 0x21, 1, 0, len(rdata)) + rdata)


def forged(src, sport, dst, dport, payload):
    udp = struct.pack(">HHHH", sport, dport, 8 + len(payload), 0) + payload
    # The kernel fills in the header checksum, total length and id.
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 0, 0, 0, 64, socket.IPPROTO_UDP, 0,
                     socket.inet_aton(src), socket.inet_aton(dst))
    return ip + udp


def is_wildcard_query(q):
    # The encoded "*" followed by NUL bytes: "CK" then "AA" fifteen times.
    return len(q) >= 50 and q[2] & 0x80 == 0 and q[13:15] == b"CK" and q[47] == 0x20


def encoded(name, suffix):
    raw = name.upper().encode("ascii").ljust(15, b" ") + bytes([suffix])
    return bytes([32]) + bytes(b for c in raw for b in (65 + (c >> 4), 65 + (c & 15))) + b"\0"


def is_status_request(q):
    return len(q) >= 50 and q[2] & 0x80 == 0 and q[47] == 0x21


def forged_sources(own, count, valid, prefix):
    """(source, claimed address) pairs: `valid` genuine-looking ones first."""
    lan = ipaddress.ip_network("%s/%d" % (own, prefix), strict=False)
    base = int(lan.network_address)
    # Past the lab's hosts (.1 to .99 of the first /24), as many as fit.
    room = lan.num_addresses - 2 - 160
    out = []
    for i in range(count):
        if i < valid:
            host = str(ipaddress.ip_address(base + 160 + i % room))
            out.append((host, host))
            continue
        kind = i % 5
        if kind == 0:
            out.append((str(ipaddress.ip_address(base + 2 + i % 90)), "10.200.0.%d" % (1 + i % 250)))
        elif kind == 1:
            out.append(("8.8.%d.%d" % (i // 250 % 250, 1 + i % 250),) * 2)
        elif kind == 2:
            out.append((str(lan.broadcast_address),) * 2)
        elif kind == 3:
            out.append((str(lan.network_address),) * 2)
        else:
            out.append(("224.0.0.%d" % (1 + i % 250),) * 2)
    return out


def main():
    address, mode = sys.argv[1], sys.argv[2]
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    udp.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    udp.bind(("", 137))
    raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    listener = None
    if mode in ("host", "phantom"):
        name = sys.argv[3]
    if mode == "phantom":
        # Connections complete in the kernel's backlog and are never read.
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((address, 139))
        listener.listen(64)
    elif mode == "flood":
        count, valid, prefix = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
        sources = forged_sources(address, count, valid, prefix)
    elif mode == "wins-spoof":
        claimed, how = sys.argv[3], sys.argv[4]
        other_port = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        other_port.bind((address, 1137))
        other_address = str(ipaddress.ip_address(address) + 1)
    print("ready", flush=True)
    while True:
        query, (client, port) = udp.recvfrom(1500)
        if client == address:
            continue
        if mode in ("host", "phantom"):
            if is_wildcard_query(query) or (len(query) >= 50 and query[12:46] == encoded(name, 3)
                                            and query[2] & 0x80 == 0):
                udp.sendto(answer(query, address), (client, port))
            elif is_status_request(query):
                udp.sendto(node_status(query, name), (client, port))
        elif mode == "flood" and is_wildcard_query(query):
            for src, claimed_address in sources:
                try:
                    raw.sendto(forged(src, 137, client, port, answer(query, claimed_address)),
                               (client, 0))
                except OSError:
                    pass
        elif mode == "wins-spoof" and len(query) >= 50 and not query[3] & 0x10:
            reply = answer(query, claimed)
            if how == "other-port":
                other_port.sendto(reply, (client, port))
            else:
                raw.sendto(forged(other_address, 137, client, port, reply), (client, 0))


if __name__ == "__main__":
    main()
