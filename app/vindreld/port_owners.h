// Who else holds the service's NetBIOS ports. SO_REUSEADDR and systemd's
// sockets let Samba's nmbd bind UDP 137 beside us (and smbd lose 139 to
// us) without an error to either: the kernel's socket tables say who holds
// what, and a socket whose inode is none of our descriptors' is another
// process's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/vindreld/listen_sockets.h"

namespace vindrel::daemon {

enum class Transport { kUdp, kTcp };

// One of the ports the service listens on, and our socket for it.
struct ServicePort {
    Transport transport = Transport::kUdp;
    std::uint16_t port = 0;
    int fd = -1;  // -1: we hold none (its bind failed), so any holder is another
};

// Another process's socket on one of the service's ports.
struct PortHolder {
    Transport transport = Transport::kUdp;
    std::uint16_t port = 0;
    int pid = 0;          // 0: the socket belongs to no process we can see
    std::string command;  // its name, when pid is known
};

// What to do about it, for the line that says another process holds a port.
inline constexpr char kOneOwnerAdvice[] =
    "either receive through Samba (message command = vindrel-drop \"%f\" \"%L\" \"%s\") or "
    "stop and disable Samba's servers (systemctl disable --now smbd nmbd) and keep vindreld";

// The ports of `sockets`, one row each.
std::vector<ServicePort> ServicePorts(const ListenSockets& sockets);

// The inodes of the sockets in one of the kernel's tables (the text of
// /proc/net/udp, tcp, udp6 or tcp6) bound to `port`; `listening_only` keeps
// the TCP listeners (a session's socket also has port 139).
std::vector<unsigned long> SocketInodes(std::string_view table, std::uint16_t port,
                                        bool listening_only);

// The first socket on one of `ports` that is not one of ours, with the
// process that has it open when this process may look.
std::optional<PortHolder> FindOtherHolder(const std::vector<ServicePort>& ports);

// "nmbd (pid 812) holds UDP port 137" or "another process holds ...".
std::string Describe(const PortHolder& holder);

}  // namespace vindrel::daemon
