// The spool writers' lock on POSIX: flock on a file of the spool's own,
// waited for with a deadline, holding the usage the last writer left.
//
// The usage is trusted while the spool holds as many record names as the
// last writer left in it: records are added only by writers, who keep the
// usage, and taken away only by the cleanup or by hand, which lowers the
// count. It is measured afresh when the count differs, when it cannot be
// read or does not add up (a crash mid-write), and every kRescanEvery
// stores in any case.
#include "receive/spool_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/random.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "receive/spool_dir.h"

namespace vindrel::spool {
namespace {

constexpr mode_t kLockMode = 0660;
constexpr unsigned kRescanEvery = 256;
// "<names> <messages> <bytes> <uses>\n", then "<messages> <bytes> <key>\n"
// for each sender, then "end\n": a rewrite cut short, or the longer one it
// was written over, is seen not to add up.
constexpr char kUsageFormat[] = "%zu %zu %llu %u\n";
constexpr char kShareFormat[] = "%zu %llu %s\n";
constexpr std::string_view kUsageEnd = "end\n";
// A sender for every record, each "<4 digits> <7 digits> <15 characters>\n".
constexpr std::size_t kMaxUsageBytes = 64 + 30 * kMaxMessages;

// The usage as Keep wrote it, or none when it does not add up.
std::optional<Usage> ParseUsage(std::string_view text, std::size_t& named, unsigned& uses)
{
    auto line = [&](std::string& out) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) return false;
        out.assign(text.substr(0, end));
        text.remove_prefix(end + 1);
        return true;
    };
    std::string first, each;
    Usage usage;
    unsigned long long bytes = 0;
    int used = 0;
    if (!line(first) ||
        std::sscanf(first.c_str(), "%zu %zu %llu %u%n", &named, &usage.messages, &bytes, &uses,
                    &used) != 4 ||
        static_cast<std::size_t>(used) != first.size())
        return std::nullopt;
    usage.bytes = bytes;
    Share sum;
    while (line(each)) {
        if (each + "\n" == kUsageEnd)
            return sum.messages == usage.messages && sum.bytes == usage.bytes
                       ? std::optional(usage)
                       : std::nullopt;
        Share share;
        unsigned long long share_bytes = 0;
        used = 0;
        if (std::sscanf(each.c_str(), "%zu %llu %n", &share.messages, &share_bytes, &used) != 2 ||
            used == 0 || share.messages == 0 || each[static_cast<std::size_t>(used) - 1] != ' ')
            return std::nullopt;
        share.bytes = share_bytes;
        sum.messages += share.messages;
        sum.bytes += share.bytes;
        if (!usage.by_key.emplace(each.substr(static_cast<std::size_t>(used)), share).second)
            return std::nullopt;
    }
    return std::nullopt;
}

std::int64_t MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// Wakes a writer waiting for the lock when the holder lets it go (closes
// the file), rather than after a guess at how long to sleep: with pauses
// between tries, hundreds of writers leave the lock idle most of the time.
class ReleaseWatch {
public:
    explicit ReleaseWatch(const Spool& spool) : fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
    {
        const std::string path = spool.path + "/" + kLockFile;
        if (fd_.ok() && inotify_add_watch(fd_.get(), path.c_str(), IN_CLOSE) < 0) fd_ = Fd();
    }

    // Returns when the lock may be free, after `ms` at the latest.
    void Wait(std::int64_t ms)
    {
        // With a watch, the bound only covers a lock file replaced meanwhile;
        // a user who has no inotify instances left pauses briefly instead.
        // Without entropy yet (early boot) there is simply no jitter.
        std::uint32_t jitter = 0;
        if (getrandom(&jitter, sizeof jitter, GRND_NONBLOCK) != sizeof jitter) jitter = 0;
        const int wait =
            static_cast<int>(std::min<std::int64_t>(ms, fd_.ok() ? 50 : 1 + jitter % 3));
        if (!fd_.ok()) {
            const timespec pause{0, wait * 1'000'000L};
            nanosleep(&pause, nullptr);
            return;
        }
        pollfd ready{fd_.get(), POLLIN, 0};
        if (poll(&ready, 1, wait) > 0) {
            alignas(inotify_event) char events[4096];
            while (read(fd_.get(), events, sizeof events) > 0) {
            }
        }
    }

private:
    Fd fd_;
};

}  // namespace

WritersLock::WritersLock(const Spool& spool, int ms) : spool_(spool)
{
    const std::int64_t deadline = MonotonicMs() + ms;
    const int dir = spool.dir.get();
    // Only the spool's owner makes the lock: one made by a writer through
    // the group would be that writer's, to open and hold whenever it likes.
    const bool owner = geteuid() == spool.st.st_uid;
    for (int tries = 0; tries < 8; ++tries) {
        Fd lock(openat(dir, kLockFile, O_RDWR | O_NOFOLLOW | O_CLOEXEC | (owner ? O_CREAT : 0),
                       kLockMode));
        struct stat held{};
        if (!lock.ok() && errno == EACCES && owner) {
            // A stranger's, left from an older writer: the owner makes its
            // own. Or a spool the owner may not write.
            if (unlinkat(dir, kLockFile, 0) == 0) continue;
            errno = EACCES;
            return;
        }
        if (!lock.ok() || fstat(lock.get(), &held) != 0) return;
        if (held.st_uid != spool.st.st_uid || !S_ISREG(held.st_mode) || (held.st_mode & 07) != 0) {
            // Not the owner's, or open to every user: whoever owns it could
            // hold it for ever. Only the owner may put it away and start again.
            if (!owner) {
                errno = EPERM;
                return;
            }
            unlinkat(dir, kLockFile, 0);
            continue;
        }
        // Group-writable whatever umask made it, so both writers can use it.
        if ((held.st_mode & 0777) != kLockMode && owner) fchmod(lock.get(), kLockMode);
        std::optional<ReleaseWatch> watch;
        while (flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) return;
            const std::int64_t left = deadline - MonotonicMs();
            if (left <= 0) {
                errno = ETIMEDOUT;
                return;
            }
            // Watching from before the next try, so no release is missed.
            if (!watch) watch.emplace(spool);
            else watch->Wait(left);
        }
        // The cleanup may have removed the file meanwhile; a lock on a file
        // no longer named is no lock.
        struct stat named{};
        if (fstatat(dir, kLockFile, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            fd_ = std::move(lock);
            return;
        }
        if (!owner && errno == ENOENT) return;
    }
    errno = EAGAIN;
}

void Usage::Add(const std::string& key, std::uint64_t size)
{
    ++messages;
    bytes += size;
    Share& share = by_key[key];
    ++share.messages;
    share.bytes += size;
}

void Usage::Remove(const std::string& key, std::uint64_t size)
{
    --messages;
    bytes -= size;
    const auto share = by_key.find(key);
    if (share == by_key.end()) return;
    share->second.bytes -= std::min(share->second.bytes, size);
    if (--share->second.messages == 0) by_key.erase(share);
}

std::optional<Usage> WritersLock::Measure()
{
    const auto named = ScanRecords(spool_, nullptr);
    if (!named) return std::nullopt;
    std::string text(kMaxUsageBytes, '\0');
    const ssize_t got = pread(fd_.get(), text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    std::size_t kept_named = 0;
    std::optional<Usage> usage = ParseUsage(text, kept_named, uses_);
    if (usage && kept_named == *named && ++uses_ < kRescanEvery) {
        named_ = kept_named;
        return usage;
    }
    Usage measured;
    if (!Records(measured)) return std::nullopt;
    return measured;
}

std::optional<std::vector<RecordFile>> WritersLock::Records(Usage& usage)
{
    std::vector<RecordFile> files;
    const auto named = ScanRecords(spool_, &files);
    if (!named) return std::nullopt;
    ReadShareKeys(spool_, files);
    SortOldestFirst(files);
    named_ = *named;
    uses_ = 0;
    usage = {};
    for (const RecordFile& file : files) usage.Add(file.key, file.bytes);
    return files;
}

void WritersLock::Keep(const Usage& usage, std::size_t added, std::size_t removed)
{
    char line[128];
    const std::size_t named = named_ + added - std::min(named_ + added, removed);
    std::snprintf(line, sizeof line, kUsageFormat, named, usage.messages,
                  static_cast<unsigned long long>(usage.bytes), uses_);
    std::string text = line;
    for (const auto& [key, share] : usage.by_key) {
        std::snprintf(line, sizeof line, kShareFormat, share.messages,
                      static_cast<unsigned long long>(share.bytes), key.c_str());
        text += line;
    }
    text += kUsageEnd;
    // Should this fail, the next writer measures the spool in full.
    if (pwrite(fd_.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
        ftruncate(fd_.get(), static_cast<off_t>(text.size())) != 0) {
    }
}

}  // namespace vindrel::spool
