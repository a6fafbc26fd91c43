// Adding records to the spool on POSIX: each written and flushed under a
// temporary name first; then, under the writers' lock, counted against the
// limits and renamed into place, or refused and counted; then the directory
// flushed before anyone is told a record was kept.
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <time.h>

#include <cerrno>
#include <cstring>

#include "app/spool/spool_dir.h"
#include "app/spool/spool_files.h"
#include "app/spool/spool_lock.h"

namespace vindrel::spool {
namespace {

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

void Fail(StoreResult& result, StoreError error, int err, const char* what = "")
{
    result.error = error;
    result.detail = std::string(what) + std::strerror(err);
}

// A file written under a temporary name, which no reader takes; removed
// when this goes unless it was renamed into place.
class Staged {
public:
    Staged(const Spool& spool, const std::string& bytes) : spool_(spool), bytes_(bytes.size())
    {
        temp_ = ".tmp-" + std::to_string(getpid()) + "-" + Hex(RandomWord());
        fd_ = Fd(openat(spool.dir.get(), temp_.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        // Readable by every local user, whatever umask the writer has.
        if (fd_.ok() && fchmod(fd_.get(), 0644) == 0 && WriteAll(fd_.get(), bytes)) return;
        error_ = errno ? errno : EIO;
        Discard();
    }
    ~Staged() { Discard(); }
    Staged(Staged&&) = default;

    int error() const { return error_; }
    int fd() const { return fd_.get(); }
    std::size_t bytes() const { return bytes_; }

    // Renames the file to `name`, which must not exist yet; 0 or the error.
    int Place(const char* name, bool replace)
    {
        const int dir = spool_.dir.get();
        if ((replace ? renameat(dir, temp_.c_str(), dir, name)
                     : renameat2(dir, temp_.c_str(), dir, name, RENAME_NOREPLACE)) != 0)
            return errno;
        temp_.clear();
        return 0;
    }

private:
    void Discard()
    {
        if (!temp_.empty() && fd_.ok()) unlinkat(spool_.dir.get(), temp_.c_str(), 0);
        temp_.clear();
    }

    const Spool& spool_;
    std::string temp_;
    Fd fd_;
    std::size_t bytes_ = 0;
    int error_ = 0;
};

// One flush for every staged file: fsync for one, syncfs for more, which
// costs one disk flush instead of one each (about 15 ms instead of 40 for
// ten records on a virtual disk). 0 or the error.
int Flush(const Spool& spool, const std::vector<Staged>& staged)
{
    int written = 0, last = -1;
    for (const Staged& s : staged)
        if (s.error() == 0) ++written, last = s.fd();
    if (written == 0) return 0;
    if (written == 1) return fsync(last) == 0 ? 0 : errno;
    return syncfs(spool.dir.get()) == 0 ? 0 : errno;
}

// Renames a staged record into place under a fresh record name.
int PlaceRecord(Staged& staged, std::int64_t received_ms, std::string& name)
{
    int err = EEXIST;
    for (int attempt = 0; attempt < 4 && err == EEXIST; ++attempt) {
        name = std::to_string(received_ms) + "-" + std::to_string(getpid()) + "-" +
               Hex(RandomWord()) + ".msg";
        err = staged.Place(name.c_str(), false);
    }
    if (err != 0) name.clear();
    return err;
}

// Adds `refused` to the count, read and replaced under the lock so that no
// refusal is lost; 0 or the error. `flush` gets the new count's file.
int CountRefusals(const Spool& spool, std::uint64_t refused, std::optional<Staged>& flush)
{
    flush.emplace(spool, std::to_string(ReadRefusedCount(spool) + refused) + "\n");
    if (const int err = flush->error() ? flush->error() : flush->Place(kRefusedFile, true)) {
        flush.reset();
        return err;
    }
    return 0;
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
    std::vector<Staged> staged;
    staged.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        staged.emplace_back(opened, EncodeRecord(records[i]));
        if (const int err = staged[i].error()) Fail(results[i], StoreError::kWriteFailed, err);
    }
    // Failed records keep their result; the rest are still to be decided.
    auto undecided = [&](std::size_t i) {
        return staged[i].error() == 0 && results[i].error == StoreError::kNone &&
               results[i].name.empty();
    };
    auto fail_undecided = [&](StoreError error, int err, const char* what = "") {
        for (std::size_t i = 0; i < records.size(); ++i)
            if (undecided(i)) Fail(results[i], error, err, what);
    };
    if (const int err = Flush(opened, staged)) fail_undecided(StoreError::kWriteFailed, err);

    bool changed = false;
    std::optional<Staged> count;
    {
        WritersLock lock(opened, kLockWaitMs);
        std::optional<Usage> usage;
        if (!lock.ok()) {
            fail_undecided(StoreError::kSpoolBusy, errno, "the other writers' lock: ");
        } else if (usage = lock.Measure(); !usage) {
            fail_undecided(StoreError::kWriteFailed, errno);
        } else {
            std::size_t added = 0, refused = 0;
            for (std::size_t i = 0; i < records.size(); ++i) {
                if (!undecided(i)) continue;
                if (usage->messages >= kMaxMessages ||
                    usage->bytes + staged[i].bytes() > kMaxSpoolBytes) {
                    results[i].error = StoreError::kSpoolFull;
                    ++refused;
                } else if (const int err =
                               PlaceRecord(staged[i], records[i].received_ms, results[i].name)) {
                    Fail(results[i], StoreError::kWriteFailed, err);
                } else {
                    ++added;
                    ++usage->messages;
                    usage->bytes += staged[i].bytes();
                }
            }
            lock.Keep(*usage, added);
            const int err = refused ? CountRefusals(opened, refused, count) : 0;
            for (StoreResult& result : results)
                if (err && result.error == StoreError::kSpoolFull)
                    Fail(result, StoreError::kSpoolFull, err, "the refusal could not be counted: ");
            changed = added > 0 || count;
        }
    }
    // The renames and the count on disk before anyone is told a record was
    // kept, after the lock is let go.
    if ((count && fsync(count->fd()) != 0) || (changed && fsync(opened.dir.get()) != 0)) {
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
