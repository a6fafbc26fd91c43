// The spool writers' lock on POSIX: flock on a file of the spool's own,
// waited for with a deadline, holding the usage the last writer left.
//
// The usage is trusted while the spool holds as many record names as the
// last writer left in it: records are added only by writers, who keep the
// usage, and taken away only by the cleanup or by hand, which lowers the
// count. It is measured afresh when the count differs, when it cannot be
// read (a crash mid-write), and every kRescanEvery stores in any case.
#include "app/spool/spool_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/random.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace vindrel::spool {
namespace {

constexpr mode_t kLockMode = 0660;
constexpr unsigned kRescanEvery = 256;
// "<names> <messages> <bytes> <uses>\n", each field of a fixed width so a
// rewrite in place leaves nothing of the old one behind.
constexpr char kUsageFormat[] = "%10zu %10zu %20llu %10u\n";
constexpr std::size_t kUsageBytes = 10 + 1 + 10 + 1 + 20 + 1 + 10 + 1;

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
    for (int tries = 0; tries < 8; ++tries) {
        Fd lock(openat(dir, kLockFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockMode));
        struct stat held{};
        if (!lock.ok() && errno == EACCES) {
            // A stranger's (see below), or one another writer has only just
            // made and not yet opened to the group.
            struct stat found{};
            if (fstatat(dir, kLockFile, &found, AT_SYMLINK_NOFOLLOW) == 0 &&
                !IsSpoolFile(spool, found, 4096))
                unlinkat(dir, kLockFile, 0);
            const timespec pause{0, 1'000'000};
            nanosleep(&pause, nullptr);
            continue;
        }
        if (!lock.ok() || fstat(lock.get(), &held) != 0) return;
        // Group-writable whatever umask made it, so both writers can use it.
        if ((held.st_mode & 0777) != kLockMode && held.st_uid == geteuid())
            fchmod(lock.get(), kLockMode);
        // One that others may open, left from when the spool was open to
        // all, is one a stranger could hold for ever: put it away.
        else if (!IsSpoolFile(spool, held, 4096) || (held.st_mode & 07) != 0) {
            unlinkat(dir, kLockFile, 0);
            continue;
        }
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
    }
    errno = EAGAIN;
}

std::optional<Usage> WritersLock::Measure()
{
    const auto named = ScanRecords(spool_, nullptr);
    if (!named) return std::nullopt;
    char text[kUsageBytes + 1] = {};
    std::size_t kept_named = 0;
    Usage usage;
    unsigned long long bytes = 0;
    if (pread(fd_.get(), text, kUsageBytes, 0) == static_cast<ssize_t>(kUsageBytes) &&
        text[kUsageBytes - 1] == '\n' &&
        std::sscanf(text, "%zu %zu %llu %u", &kept_named, &usage.messages, &bytes, &uses_) == 4 &&
        kept_named == *named && ++uses_ < kRescanEvery) {
        named_ = kept_named;
        usage.bytes = bytes;
        return usage;
    }
    std::vector<RecordFile> files;
    const auto rescanned = ScanRecords(spool_, &files);
    if (!rescanned) return std::nullopt;
    named_ = *rescanned;
    uses_ = 0;
    usage = {files.size(), 0};
    for (const RecordFile& file : files) usage.bytes += file.bytes;
    return usage;
}

void WritersLock::Keep(const Usage& usage, std::size_t added)
{
    char text[kUsageBytes + 1];
    std::snprintf(text, sizeof text, kUsageFormat, named_ + added, usage.messages,
                  static_cast<unsigned long long>(usage.bytes), uses_);
    // Should this fail, the next writer measures the spool in full.
    if (pwrite(fd_.get(), text, kUsageBytes, 0) != static_cast<ssize_t>(kUsageBytes) &&
        ftruncate(fd_.get(), 0) != 0) {
    }
}

}  // namespace vindrel::spool
