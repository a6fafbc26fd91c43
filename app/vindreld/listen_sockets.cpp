// Socket activation without libsystemd, and the sockets bound by hand.
#include "app/vindreld/listen_sockets.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/vindreld/options.h"
#include "netbios/server/server_limits.h"

namespace vindrel::daemon {
namespace {

constexpr int kFirstActivatedFd = 3;  // SD_LISTEN_FDS_START
constexpr int kMaxActivatedFds = 16;
// The kernel's own cap: a burst of connections waits in the queue rather
// than have its handshakes dropped and retried a second later.
constexpr int kBacklog = SOMAXCONN;
// About a thousand small datagrams.
constexpr int kDatagramQueueBytes = 1 << 20;

std::string Errno() { return std::strerror(errno); }

bool Prepare(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// Broadcasts out, and each datagram's arrival address in: the name service
// must tell a broadcast from a datagram sent to us, and both ports take
// datagrams only from the interfaces served.
bool PrepareDatagrams(int fd)
{
    const int on = 1;
    // Room for a flood to queue while the loop is busy elsewhere, so that it
    // does not push a real datagram out before it is read; and room for the
    // answers that wait for ARP, which a forged source never gives. Past the
    // system's caps only root may go (before dropping privileges); a socket
    // from systemd has its sizes from the unit, and smaller ones only hold less.
    const int queue = kDatagramQueueBytes;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &queue, sizeof queue) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &queue, sizeof queue);
    const int room = netbios::kNameServiceSendBuffer;
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room) != 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    return Prepare(fd) && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
           setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
}

int IntOption(int fd, int level, int name)
{
    int value = -1;
    socklen_t size = sizeof value;
    return getsockopt(fd, level, name, &value, &size) == 0 ? value : -1;
}

int BoundPort(int fd)
{
    sockaddr_in sa{};
    socklen_t size = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size) != 0 || sa.sin_family != AF_INET)
        return -1;
    return ntohs(sa.sin_port);
}

int BindPort(int type, std::uint16_t port, std::string& error, bool& taken)
{
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = "cannot make a socket: " + Errno();
        return -1;
    }
    const int on = 1;
    if (type == SOCK_STREAM) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        (type == SOCK_STREAM && listen(fd, kBacklog) != 0)) {
        taken = errno == EADDRINUSE;
        error = std::string(type == SOCK_STREAM ? "TCP" : "UDP") + " port " +
                std::to_string(port) + ": " + Errno();
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

ListenError TakeActivatedSockets(ListenSockets& sockets, bool& found, std::string& error)
{
    found = false;
    const char* pid = std::getenv("LISTEN_PID");
    const char* fds = std::getenv("LISTEN_FDS");
    if (pid == nullptr || fds == nullptr || std::atol(pid) != static_cast<long>(getpid()))
        return ListenError::kNone;
    const int count = std::atoi(fds);
    // Children (there are none) must not take them for theirs.
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    if (count <= 0 || count > kMaxActivatedFds) {
        error = "LISTEN_FDS=" + std::string(fds) + " is not a count of sockets";
        return ListenError::kFailed;
    }
    for (int fd = kFirstActivatedFd; fd < kFirstActivatedFd + count; ++fd) {
        const int domain = IntOption(fd, SOL_SOCKET, SO_DOMAIN);
        const int type = IntOption(fd, SOL_SOCKET, SO_TYPE);
        const int port = domain == AF_INET ? BoundPort(fd) : -1;
        int* slot = nullptr;
        if (domain == AF_INET && type == SOCK_STREAM && port == 139) slot = &sockets.session;
        else if (domain == AF_INET && type == SOCK_DGRAM && port == 137) slot = &sockets.name_service;
        else if (domain == AF_INET && type == SOCK_DGRAM && port == 138) slot = &sockets.datagram;
        else if (domain == AF_UNIX && type == SOCK_STREAM) slot = &sockets.registration;
        if (slot == nullptr || *slot != -1) {
            error = "socket " + std::to_string(fd) + " from systemd is none of IPv4 TCP 139, " +
                    "IPv4 UDP 137, IPv4 UDP 138 and one Unix stream socket";
            return ListenError::kFailed;
        }
        const bool udp = slot == &sockets.name_service || slot == &sockets.datagram;
        if (!(udp ? PrepareDatagrams(fd) : Prepare(fd))) {
            error = "cannot set up socket " + std::to_string(fd) + ": " + Errno();
            return ListenError::kFailed;
        }
        *slot = fd;
    }
    found = true;
    sockets.activated = true;
    return ListenError::kNone;
}

ListenError BindMissingSockets(ListenSockets& sockets, const std::string& runtime_dir,
                               unsigned owner_uid, unsigned owner_gid, std::string& error)
{
    bool taken = false;
    // A unit from before the datagram port passes the others without it.
    for (auto [slot, port] : {std::pair{&sockets.name_service, 137}, {&sockets.datagram, 138}}) {
        if (*slot >= 0) continue;
        *slot = BindPort(SOCK_DGRAM, static_cast<std::uint16_t>(port), error, taken);
        if (*slot < 0 && slot == &sockets.datagram && sockets.activated && !taken) {
            sockets.no_datagrams = error;
            continue;
        }
        if (*slot < 0) return taken ? ListenError::kPortsTaken : ListenError::kFailed;
        if (!PrepareDatagrams(*slot)) {
            error = "cannot set up UDP port " + std::to_string(port) + ": " + Errno();
            return ListenError::kFailed;
        }
    }
    if (sockets.session < 0) sockets.session = BindPort(SOCK_STREAM, 139, error, taken);
    if (sockets.session < 0) return taken ? ListenError::kPortsTaken : ListenError::kFailed;
    if (sockets.registration >= 0) return ListenError::kNone;

    // The directory belongs to the service's account, so that it can
    // remove its socket when it stops.
    if (mkdir(runtime_dir.c_str(), 0755) == 0) {
        if (chown(runtime_dir.c_str(), owner_uid, owner_gid) != 0) {
            error = "cannot give " + runtime_dir + " to the service's account: " + Errno();
            return ListenError::kFailed;
        }
    } else if (errno != EEXIST) {
        error = "cannot make " + runtime_dir + ": " + Errno();
        return ListenError::kFailed;
    }
    const std::string path = runtime_dir + "/" + kSocketName;
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (path.size() >= sizeof sa.sun_path) {
        error = path + ": path too long for a socket";
        return ListenError::kFailed;
    }
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = "cannot make the registration socket: " + Errno();
        return ListenError::kFailed;
    }
    // A socket someone still answers on belongs to another running service;
    // one nobody answers on was left by a service that died.
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live = probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    if (probe >= 0) close(probe);
    if (live) {
        close(fd);
        error = path + ": another vindreld answers there";
        return ListenError::kFailed;
    }
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        chmod(path.c_str(), 0666) != 0 || listen(fd, kBacklog) != 0) {
        error = path + ": " + Errno();
        close(fd);
        return ListenError::kFailed;
    }
    sockets.registration = fd;
    sockets.socket_path = path;
    return ListenError::kNone;
}

}  // namespace vindrel::daemon
