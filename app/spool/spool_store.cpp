// Adding records to the spool on POSIX: written and flushed under temporary
// names first, then, under the writers' lock, counted against the limits
// and renamed into place or refused and counted.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/spool/spool_dir.h"
#include "app/spool/spool_files.h"

namespace vindrel::spool {
namespace {

// The writers' lock. Not the directory itself, which every reader may open
// and lock: a file only the spool's owner and group can open.
constexpr char kLockFile[] = ".lock";
constexpr mode_t kLockMode = 0640;

std::string Hex(std::uint32_t value)
{
    char out[9];
    std::snprintf(out, sizeof out, "%08x", value);
    return out;
}

std::uint32_t RandomWord()
{
    std::uint32_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        value = static_cast<std::uint32_t>(now.tv_nsec) ^ static_cast<std::uint32_t>(getpid());
    }
    return value;
}

std::int64_t MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

bool WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A file written under a temporary name that no reader takes.
struct Staged {
    std::string temp;
    Fd fd;
    std::size_t bytes = 0;
};

// Writes `bytes` to a new temporary file; 0 or the error.
int Stage(const Spool& spool, const std::string& bytes, Staged& out)
{
    out.temp = ".tmp-" + std::to_string(getpid()) + "-" + Hex(RandomWord());
    out.bytes = bytes.size();
    out.fd = Fd(openat(spool.dir.get(), out.temp.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!out.fd.ok()) return errno;
    // Readable by every local user, whatever umask the writer has.
    if (fchmod(out.fd.get(), 0644) == 0 && WriteAll(out.fd.get(), bytes)) return 0;
    const int err = errno ? errno : EIO;
    unlinkat(spool.dir.get(), out.temp.c_str(), 0);
    out.fd = Fd();
    return err;
}

// One flush for every staged file: fsync for one, syncfs for more, which
// costs one disk flush instead of one each (about 15 ms instead of 40 for
// ten records on a virtual disk). 0 or the error.
int Flush(const Spool& spool, const std::vector<Staged>& staged)
{
    int open_files = 0, last = -1;
    for (const Staged& s : staged)
        if (s.fd.ok()) ++open_files, last = s.fd.get();
    if (open_files == 0) return 0;
    if (open_files == 1) return fsync(last) == 0 ? 0 : errno;
    return syncfs(spool.dir.get()) == 0 ? 0 : errno;
}

// Opens the writers' lock file and takes it within `ms`; an invalid Fd and
// errno when not.
Fd LockWriters(const Spool& spool, int ms)
{
    const std::int64_t deadline = MonotonicMs() + ms;
    long pause_us = 500;
    for (int tries = 0; tries < 8; ++tries) {
        Fd lock(openat(spool.dir.get(), kLockFile, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                       kLockMode));
        struct stat held{};
        if (!lock.ok() || fstat(lock.get(), &held) != 0) return Fd();
        // A lock file others can open is one a stranger could hold for ever
        // (left from when the spool was open to all): put it away and make
        // one of the spool's own.
        if (!IsSpoolFile(spool, held, 0) || (held.st_mode & 07) != 0) {
            if (held.st_uid == geteuid()) fchmod(lock.get(), kLockMode);
            else unlinkat(spool.dir.get(), kLockFile, 0);
            continue;
        }
        // Group-readable whatever umask made it, so both writers can lock it.
        if ((held.st_mode & 0777) != kLockMode && held.st_uid == geteuid())
            fchmod(lock.get(), kLockMode);
        while (flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) return Fd();
            const std::int64_t left = deadline - MonotonicMs();
            if (left <= 0) {
                errno = ETIMEDOUT;
                return Fd();
            }
            // Randomised, growing pauses: hundreds of writers must not
            // take turns in lockstep, nor keep the holder from its work.
            const long us = std::min<long>(pause_us + RandomWord() % pause_us, left * 1000);
            const timespec pause{us / 1'000'000, us % 1'000'000 * 1000};
            nanosleep(&pause, nullptr);
            pause_us = std::min(pause_us * 2, 16'000L);
        }
        // The cleanup may have removed the file meanwhile; a lock on a file
        // no longer named is no lock.
        struct stat named{};
        if (fstatat(spool.dir.get(), kLockFile, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            return lock;
    }
    errno = EAGAIN;
    return Fd();
}

// Renames a staged record into place under a fresh record name.
int Place(const Spool& spool, const Staged& staged, std::int64_t received_ms, std::string& name)
{
    int err = EEXIST;
    for (int attempt = 0; attempt < 4 && err == EEXIST; ++attempt) {
        name = std::to_string(received_ms) + "-" + std::to_string(getpid()) + "-" +
               Hex(RandomWord()) + ".msg";
        err = renameat2(spool.dir.get(), staged.temp.c_str(), spool.dir.get(), name.c_str(),
                        RENAME_NOREPLACE) == 0
                  ? 0
                  : errno;
    }
    if (err != 0) name.clear();
    return err;
}

void Fail(StoreResult& result, StoreError error, int err, const char* what = "")
{
    result.error = error;
    result.detail = std::string(what) + std::strerror(err);
}

}  // namespace

std::vector<StoreResult> StoreRecords(const std::string& spool, std::span<const Record> records)
{
    std::vector<StoreResult> results(records.size());
    Spool opened;
    if (!OpenSpool(spool, opened)) {
        const int err = errno;
        for (StoreResult& result : results) Fail(result, StoreError::kSpoolMissing, err);
        return results;
    }
    std::vector<Staged> staged(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        if (const int err = Stage(opened, EncodeRecord(records[i]), staged[i]))
            Fail(results[i], StoreError::kWriteFailed, err);
    const int flushed = Flush(opened, staged);

    std::uint64_t refused = 0;
    bool changed = false;
    Fd count;
    if (Fd lock = LockWriters(opened, kLockWaitMs); !lock.ok()) {
        const int err = errno;
        for (std::size_t i = 0; i < records.size(); ++i)
            if (staged[i].fd.ok())
                Fail(results[i], StoreError::kSpoolBusy, err, "the other writers' lock: ");
    } else if (const auto kept = ListRecordFiles(opened); !kept) {
        const int err = errno;
        for (std::size_t i = 0; i < records.size(); ++i)
            if (staged[i].fd.ok()) Fail(results[i], StoreError::kWriteFailed, err);
    } else {
        std::size_t messages = kept->size();
        std::uint64_t bytes = 0;
        for (const RecordFile& file : *kept) bytes += file.bytes;
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (!staged[i].fd.ok()) continue;
            if (flushed != 0) {
                Fail(results[i], StoreError::kWriteFailed, flushed);
            } else if (messages >= kMaxMessages || bytes + staged[i].bytes > kMaxSpoolBytes) {
                results[i].error = StoreError::kSpoolFull;
                ++refused;
            } else if (const int err = Place(opened, staged[i], records[i].received_ms,
                                             results[i].name)) {
                Fail(results[i], StoreError::kWriteFailed, err);
            } else {
                ++messages;
                bytes += staged[i].bytes;
                changed = true;
                staged[i].temp.clear();
            }
        }
        // The count, read and replaced under the lock, so no refusal is lost.
        if (refused > 0) {
            Staged counted;
            const std::string text = std::to_string(ReadRefusedCount(opened) + refused) + "\n";
            int err = Stage(opened, text, counted);
            if (err == 0 && renameat(opened.dir.get(), counted.temp.c_str(), opened.dir.get(),
                                     kRefusedFile) != 0) {
                err = errno;
                unlinkat(opened.dir.get(), counted.temp.c_str(), 0);
            }
            if (err == 0) {
                count = std::move(counted.fd);
                changed = true;
            }
            for (StoreResult& result : results)
                if (err != 0 && result.error == StoreError::kSpoolFull)
                    result.detail = std::string("the refusal could not be counted: ") +
                                    std::strerror(err);
        }
    }
    for (const Staged& s : staged)
        if (s.fd.ok() && !s.temp.empty()) unlinkat(opened.dir.get(), s.temp.c_str(), 0);

    // After the lock is let go: the renames and the count on disk before
    // anyone is told a record was kept.
    const bool durable = (!count.ok() || fsync(count.get()) == 0) &&
                         (!changed || fsync(opened.dir.get()) == 0);
    if (!durable) {
        const int err = errno;
        for (StoreResult& result : results)
            if (result.error == StoreError::kNone) {
                Fail(result, StoreError::kWriteFailed, err, "the spool was not flushed: ");
                result.name.clear();
            }
    }
    return results;
}

StoreResult StoreRecord(const std::string& spool, const Record& record)
{
    return std::move(StoreRecords(spool, std::span(&record, 1)).front());
}

}  // namespace vindrel::spool
