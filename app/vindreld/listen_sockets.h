// The service's four listening sockets: TCP 139 (sessions), UDP 137 (name
// service), UDP 138 (messages as datagrams) and the registration socket, taken from systemd's socket
// activation when it passed them, else bound here (before privileges are
// dropped).
#pragma once

#include <string>

namespace vindrel::daemon {

struct ListenSockets {
    int session = -1;       // TCP, port 139
    int name_service = -1;  // UDP, port 137, SO_BROADCAST and IP_PKTINFO set
    int datagram = -1;      // UDP, port 138, likewise
    int registration = -1;  // Unix stream
    bool activated = false; // from systemd
    // Why there is no datagram socket: a socket unit from before port 138
    // passed the others, and the service may not bind it itself.
    std::string no_datagrams;
    std::string socket_path;  // the registration socket this process made, if any
};

enum class ListenError {
    kNone,
    kPortsTaken,  // 137, 138 or 139 in use: Samba's servers, most likely
    kFailed,
};

// The sockets systemd passed (LISTEN_PID and LISTEN_FDS), each identified by
// its type and address; `found` false when none were passed. A passed fd of
// an unexpected kind is an error.
ListenError TakeActivatedSockets(ListenSockets& sockets, bool& found, std::string& error);

// Binds whatever activation did not supply: the ports on every IPv4 address,
// and `runtime_dir`/vindreld.sock (mode 0666) with the runtime directory
// made for `owner_uid`/`owner_gid` when it is missing.
ListenError BindMissingSockets(ListenSockets& sockets, const std::string& runtime_dir,
                               unsigned owner_uid, unsigned owner_gid, std::string& error);

}  // namespace vindrel::daemon
