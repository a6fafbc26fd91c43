// Adding records to the spool on POSIX: first a look under the writers'
// lock at whether they fit, so that a full spool costs a refusal nothing
// but its count; then each one that fits written and flushed under a
// temporary name; then, under the lock again, counted against the limits
// and renamed into place, or refused and counted; then the directory flushed
// before anyone is told a record was kept.
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "receive/spool_dir.h"
#include "receive/spool_files.h"
#include "receive/spool_lock.h"
#include "receive/spool_room.h"

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

constexpr mode_t kRecordMode = 0444;
// The counts, which every writer adds to in place.
constexpr mode_t kCountMode = 0664;

// A file written under a temporary name, which no reader takes; removed
// when this goes unless it was renamed into place.
class Staged {
public:
    Staged(const Spool& spool, const std::string& bytes, mode_t mode = kRecordMode)
        : spool_(spool), bytes_(bytes.size())
    {
        temp_ = kTempPrefix + std::to_string(getpid()) + "-" + Hex(RandomWord());
        fd_ = Fd(openat(spool.dir.get(), temp_.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        // Readable by every local user, whatever umask the writer has; a
        // record is written once, and its writer cannot write it again
        // without first changing its mode back.
        if (fd_.ok() && WriteAll(fd_.get(), bytes) && fchmod(fd_.get(), mode) == 0) return;
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
int Flush(const Spool& spool, const std::vector<std::optional<Staged>>& staged)
{
    int written = 0, last = -1;
    for (const auto& s : staged)
        if (s && s->error() == 0) ++written, last = s->fd();
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

// Adds `more` to the count in the file `name`, read and written under the
// lock so that none is lost, in place and not flushed: a count lost in a
// crash is no loss, while a flush for every refusal would let a flood keep
// the disk busy. 0 or the error.
int AddToCount(const Spool& spool, const char* name, std::uint64_t more)
{
    if (more == 0) return 0;
    const int dir = spool.dir.get();
    Fd fd(openat(dir, name, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok() && errno == ENOENT)
        fd = Fd(openat(dir, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kCountMode));
    struct stat st{};
    char text[32];
    // Of a fixed width, so that a rewrite in place leaves nothing behind.
    const auto count = static_cast<unsigned long long>(ReadCount(spool, name) + more);
    const int length = std::snprintf(text, sizeof text, "%020llu\n", count);
    if (fd.ok() && fstat(fd.get(), &st) == 0 && IsSpoolFile(spool, st, 24)) {
        // Open to the other writers' group, whatever umask made it; one of
        // another writer's that this one may write anyway stays as it is.
        if ((st.st_mode & 0777) != kCountMode && fchmod(fd.get(), kCountMode) != 0) {
        }
        if (pwrite(fd.get(), text, static_cast<std::size_t>(length), 0) == length) return 0;
        return errno ? errno : EIO;
    }
    // One this writer cannot write (an older writer's, or a stranger's):
    // replaced whole, and flushed since this is rare.
    Staged staged(spool, text, kCountMode);
    if (const int err = staged.error() ? staged.error() : staged.Place(name, true)) return err;
    return fsync(staged.fd()) == 0 ? 0 : errno;
}

// Why a record was refused, for its result.
void Refuse(StoreResult& result, Room room, const std::string& key)
{
    result.error = StoreError::kSpoolFull;
    if (room == Room::kShareFull)
        result.detail = "its sender (" +
                        (key == kDatagramShare ? "every datagram's" : key) +
                        ") holds its share of the spool already (" +
                        std::to_string(kMaxSourceMessages) + " messages or " +
                        std::to_string(kMaxSourceBytes >> 10) + " KiB)";
}

// Counts what this pass refused and replaced; the refused ones' results
// say so when it cannot be counted.
void Count(const Spool& spool, std::vector<StoreResult>& results, std::uint64_t refused,
           std::uint64_t replaced)
{
    const int err = AddToCount(spool, kRefusedFile, refused);
    AddToCount(spool, kReplacedFile, replaced);
    for (StoreResult& result : results)
        if (err && result.error == StoreError::kSpoolFull && result.name.empty())
            Fail(result, StoreError::kSpoolFull, err, "the refusal could not be counted: ");
}

void FailLock(std::vector<StoreResult>& results, const std::vector<bool>& open, int err)
{
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (!open[i]) continue;
        if (err == ENOENT)
            Fail(results[i], StoreError::kSpoolMissing, err,
                 "it holds no lock file (.lock), which systemd-tmpfiles or vindreld makes: ");
        else if (err == EACCES)
            Fail(results[i], StoreError::kWriteFailed, err, "its lock file (.lock): ");
        else if (err == EPERM)
            Fail(results[i], StoreError::kSpoolBusy, err,
                 "its lock file (.lock) is not the spool owner's alone; systemd-tmpfiles --create "
                 "puts that right: ");
        else
            Fail(results[i], StoreError::kSpoolBusy, err, "the other writers' lock: ");
    }
}

// Under the lock, before anything is written: for each record still open,
// whether it fits, given what the records before it took. One that fits,
// or would once a sender holding more than its share gave way, is left
// open; the rest are refused. How many were.
std::uint64_t Decide(const std::vector<std::string>& keys, const std::vector<std::size_t>& sizes,
                     std::vector<bool>& open, std::vector<StoreResult>& results, Usage& usage)
{
    std::uint64_t refused = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!open[i]) continue;
        std::string victim;
        const Room room = FindRoom(usage, keys[i], sizes[i], victim);
        if (room == Room::kFree || room == Room::kReplace) {
            usage.Add(keys[i], sizes[i]);
            if (room == Room::kReplace) usage.Remove(victim, sizes[i]);
            continue;
        }
        open[i] = false;
        Refuse(results[i], room, keys[i]);
        ++refused;
    }
    return refused;
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
    std::vector<std::string> keys, bytes;
    std::vector<std::size_t> sizes;
    for (const Record& record : records) {
        keys.push_back(ShareKey(record));
        bytes.push_back(EncodeRecord(record));
        sizes.push_back(bytes.back().size());
    }
    // Still to be decided: neither refused nor failed.
    std::vector<bool> open(records.size(), true);
    {
        // Nothing written for a record that does not fit.
        WritersLock lock(opened, kLockWaitMs);
        std::optional<Usage> usage;
        if (!lock.ok()) {
            FailLock(results, open, errno);
            return results;
        }
        if (usage = lock.Measure(); !usage) {
            const int err = errno;
            for (StoreResult& result : results) Fail(result, StoreError::kWriteFailed, err);
            return results;
        }
        Count(opened, results, Decide(keys, sizes, open, results, *usage), 0);
    }
    if (std::find(open.begin(), open.end(), true) == open.end()) return results;

    RemoveStaleTemps(opened);
    std::vector<std::optional<Staged>> staged(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!open[i]) continue;
        staged[i].emplace(opened, bytes[i]);
        if (const int err = staged[i]->error()) {
            Fail(results[i], StoreError::kWriteFailed, err);
            open[i] = false;
        }
    }
    auto fail_open = [&](StoreError error, int err, const char* what = "") {
        for (std::size_t i = 0; i < records.size(); ++i)
            if (open[i]) {
                Fail(results[i], error, err, what);
                open[i] = false;
            }
    };
    if (const int err = Flush(opened, staged)) fail_open(StoreError::kWriteFailed, err);

    bool changed = false;
    {
        WritersLock lock(opened, kLockWaitMs);
        std::optional<Usage> usage;
        std::optional<std::vector<RecordFile>> files;
        if (!lock.ok()) {
            FailLock(results, open, errno);
            std::fill(open.begin(), open.end(), false);
        } else if (usage = lock.Measure(); !usage) {
            fail_open(StoreError::kWriteFailed, errno);
        }
        // Record names added and removed since the spool was last measured.
        std::size_t added = 0, removed = 0;
        std::uint64_t refused = 0, replaced = 0, placed = 0;
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (!open[i]) continue;
            std::string victim;
            Room room = FindRoom(*usage, keys[i], sizes[i], victim);
            // The victims' records, oldest first, read only when room is made.
            std::vector<RecordFile> gone;
            while (room == Room::kReplace) {
                if (!files) {
                    if (!(files = lock.Records(*usage))) break;
                    added = removed = 0;
                }
                const auto oldest =
                    std::find_if(files->begin(), files->end(),
                                 [&](const RecordFile& f) { return f.key == victim; });
                if (oldest == files->end()) break;
                usage->Remove(oldest->key, oldest->bytes);
                gone.push_back(std::move(*oldest));
                files->erase(oldest);
                room = FindRoom(*usage, keys[i], sizes[i], victim);
            }
            if (room != Room::kFree) {
                for (const RecordFile& file : gone) usage->Add(file.key, file.bytes);
                if (files) {
                    files->insert(files->begin(), gone.begin(), gone.end());
                    SortOldestFirst(*files);
                }
                open[i] = false;
                Refuse(results[i], room == Room::kReplace ? Room::kSpoolFull : room, keys[i]);
                ++refused;
                continue;
            }
            if (const int err = PlaceRecord(*staged[i], records[i].received_ms, results[i].name)) {
                for (const RecordFile& file : gone) usage->Add(file.key, file.bytes);
                Fail(results[i], StoreError::kWriteFailed, err);
                open[i] = false;
                continue;
            }
            // Placed first, so that a failure leaves one too many rather
            // than one message lost for nothing.
            ++added;
            ++placed;
            usage->Add(keys[i], sizes[i]);
            for (const RecordFile& file : gone) {
                if (unlinkat(opened.dir.get(), file.name.c_str(), 0) != 0) {
                    usage->Add(file.key, file.bytes);
                    continue;
                }
                ++removed;
                ++replaced;
            }
            if (!gone.empty()) results[i].replaced = gone.front().name;
            open[i] = false;
        }
        if (lock.ok() && usage) {
            lock.Keep(*usage, added, removed);
            Count(opened, results, refused, replaced);
        }
        changed = placed > 0 || replaced > 0;
    }
    // The renames on disk before anyone is told a record was kept, after
    // the lock is let go.
    if (changed && fsync(opened.dir.get()) != 0) {
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
