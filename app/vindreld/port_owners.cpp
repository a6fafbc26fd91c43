// The kernel's socket tables and /proc/*/fd, read as text.
#include "app/vindreld/port_owners.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <iterator>

namespace vindrel::daemon {
namespace {

// Through /proc/self: with the unit's ProcSubset=pid, /proc/net is hidden.
constexpr const char* kUdpTables[] = {"/proc/self/net/udp", "/proc/self/net/udp6"};
constexpr const char* kTcpTables[] = {"/proc/self/net/tcp", "/proc/self/net/tcp6"};
constexpr std::string_view kTcpListen = "0A";

// Plain reads, not the stream classes: those would bring the library's
// locale machinery into the service's resident memory for one file a minute.
std::string ReadAll(const std::string& path)
{
    std::string out;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return out;
}

template <typename Number>
bool ParseNumber(std::string_view text, int base, Number& value)
{
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value, base);
    return ec == std::errc() && at == end && !text.empty();
}

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(' ', at);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        at = end;
    }
    return fields;
}

unsigned long InodeOf(int fd)
{
    struct stat st {};
    return fd >= 0 && fstat(fd, &st) == 0 ? static_cast<unsigned long>(st.st_ino) : 0;
}

// The process, other than this one, with a descriptor for socket `inode`.
void FindProcess(unsigned long inode, PortHolder& holder)
{
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return;
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    const int self = getpid();
    while (const dirent* process = readdir(proc)) {
        int pid = 0;
        if (!ParseNumber(process->d_name, 10, pid) || pid == self) continue;
        const std::string fds = std::string("/proc/") + process->d_name + "/fd";
        // Another user's, unless we are root: not ours to see.
        DIR* dir = opendir(fds.c_str());
        if (dir == nullptr) continue;
        bool found = false;
        while (const dirent* fd = readdir(dir)) {
            char target[64];
            const ssize_t n = readlinkat(dirfd(dir), fd->d_name, target, sizeof target);
            if (n > 0 && std::string_view(target, static_cast<std::size_t>(n)) == wanted) {
                found = true;
                break;
            }
        }
        closedir(dir);
        if (!found) continue;
        holder.pid = pid;
        std::string command = ReadAll("/proc/" + std::string(process->d_name) + "/comm");
        if (!command.empty() && command.back() == '\n') command.pop_back();
        holder.command = command.empty() ? "pid " + std::to_string(pid) : command;
        break;
    }
    closedir(proc);
}

}  // namespace

std::vector<ServicePort> ServicePorts(const ListenSockets& sockets)
{
    // UDP 138 is checked even where systemd passed no socket for it (an
    // older unit): whoever holds it takes the datagram messages meant for us.
    return {
        {Transport::kUdp, 137, sockets.name_service},
        {Transport::kUdp, 138, sockets.datagram},
        {Transport::kTcp, 139, sockets.session},
    };
}

std::vector<unsigned long> SocketInodes(std::string_view table, std::uint16_t port,
                                        bool listening_only)
{
    // "sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ..."
    constexpr std::size_t kLocal = 1, kState = 3, kInode = 9;
    std::vector<unsigned long> inodes;
    std::size_t at = table.find('\n');  // past the heading
    while (at != std::string_view::npos && at < table.size()) {
        const std::size_t end = std::min(table.find('\n', at + 1), table.size());
        const auto fields = Fields(table.substr(at + 1, end - at - 1));
        at = end;
        if (fields.size() <= kInode) continue;
        const std::string_view local = fields[kLocal];
        const std::size_t colon = local.rfind(':');
        std::uint16_t bound = 0;
        unsigned long inode = 0;
        if (colon == std::string_view::npos || !ParseNumber(local.substr(colon + 1), 16, bound) ||
            bound != port || !ParseNumber(fields[kInode], 10, inode) || inode == 0)
            continue;
        if (listening_only && fields[kState] != kTcpListen) continue;
        inodes.push_back(inode);
    }
    return inodes;
}

std::optional<PortHolder> FindOtherHolder(const std::vector<ServicePort>& ports)
{
    for (const ServicePort& row : ports) {
        const unsigned long ours = InodeOf(row.fd);
        const bool tcp = row.transport == Transport::kTcp;
        for (const char* path : tcp ? kTcpTables : kUdpTables) {
            for (unsigned long inode : SocketInodes(ReadAll(path), row.port, tcp)) {
                if (inode == ours) continue;
                PortHolder holder{row.transport, row.port, 0, {}};
                FindProcess(inode, holder);
                return holder;
            }
        }
    }
    return std::nullopt;
}

std::string Describe(const PortHolder& holder)
{
    return (holder.pid != 0 ? holder.command + " (pid " + std::to_string(holder.pid) + ")"
                            : std::string("another process")) +
           " holds " + (holder.transport == Transport::kTcp ? "TCP" : "UDP") + " port " +
           std::to_string(holder.port);
}

}  // namespace vindrel::daemon
