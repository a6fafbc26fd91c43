// The spool directory on POSIX.
#include "app/spool/spool_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

namespace vindrel::spool {
namespace {

// Other drops hold the lock for microseconds; anyone else who holds it
// longer only costs the limits their exactness, never a message.
constexpr int kLockWaitMs = 500;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

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

bool LockWithin(int dir, int ms)
{
    for (int waited = 0;; waited += 2) {
        if (flock(dir, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK || waited >= ms) return false;
        const timespec pause{0, 2'000'000};
        nanosleep(&pause, nullptr);
    }
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

// Reads a regular file in `dir` without following a link, at most `limit`
// bytes; false when it is not a readable regular file or is longer.
bool ReadSmallFile(int dir, const char* name, std::size_t limit, std::string& out)
{
    Fd fd(openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st{};
    if (!fd.ok() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    out.assign(limit + 1, '\0');
    std::size_t got = 0;
    while (got <= limit) {
        const ssize_t n = read(fd.get(), out.data() + got, limit + 1 - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return got <= limit;
}

// Writes `bytes` to a new file in `dir` and renames it to `final_name`:
// readers see the whole file or none. `replace` lets it take the place of
// an existing file of that name.
int PlaceFile(int dir, const std::string& final_name, const std::string& bytes, bool replace)
{
    const std::string temp = ".tmp-" + std::to_string(getpid()) + "-" + Hex(RandomWord());
    Fd fd(openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.ok()) return errno;
    int err = 0;
    // Readable by every local user, whatever umask the message command has.
    if (fchmod(fd.get(), 0644) != 0 || !WriteAll(fd.get(), bytes) || fsync(fd.get()) != 0)
        err = errno ? errno : EIO;
    if (err == 0) {
        const int rc = replace ? renameat(dir, temp.c_str(), dir, final_name.c_str())
                               : renameat2(dir, temp.c_str(), dir, final_name.c_str(),
                                           RENAME_NOREPLACE);
        if (rc != 0) err = errno;
    }
    if (err != 0) unlinkat(dir, temp.c_str(), 0);
    return err;
}

struct Usage {
    std::size_t messages = 0;
    std::uint64_t bytes = 0;
};

// Everything in the spool counts towards its size, whoever put it there.
Usage MeasureSpool(int dir)
{
    Usage usage;
    const int copy = dup(dir);
    if (copy < 0) return usage;
    DIR* listing = fdopendir(copy);
    if (listing == nullptr) {
        close(copy);
        return usage;
    }
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st{};
        if (fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        usage.bytes += static_cast<std::uint64_t>(st.st_size);
        if (IsRecordName(name)) ++usage.messages;
    }
    closedir(listing);
    return usage;
}

std::uint64_t ReadCount(int dir)
{
    std::string text;
    if (!ReadSmallFile(dir, kRefusedFile, 24, text)) return 0;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::uint64_t count = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || count > 1'000'000'000'000ull) return 0;
        count = count * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return count;
}

}  // namespace

bool IsRecordName(const std::string& name)
{
    // <digits>-<digits>-<8 hex>.msg
    std::size_t i = 0;
    auto digits = [&](std::size_t most) {
        const std::size_t start = i;
        while (i < name.size() && i - start < most && name[i] >= '0' && name[i] <= '9') ++i;
        return i > start;
    };
    if (!digits(19) || i >= name.size() || name[i++] != '-') return false;
    if (!digits(10) || i >= name.size() || name[i++] != '-') return false;
    for (int k = 0; k < 8; ++k, ++i) {
        if (i >= name.size() || !std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    }
    return name.compare(i, std::string::npos, ".msg") == 0;
}

StoreResult StoreRecord(const std::string& spool, const Record& record)
{
    StoreResult result;
    Fd dir(open(spool.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.ok()) {
        result.error = StoreError::kSpoolMissing;
        result.detail = std::strerror(errno);
        return result;
    }
    const bool locked = LockWithin(dir.get(), kLockWaitMs);
    const std::string bytes = EncodeRecord(record);
    const Usage usage = MeasureSpool(dir.get());
    if (usage.messages >= kMaxMessages || usage.bytes + bytes.size() > kMaxSpoolBytes) {
        result.error = StoreError::kSpoolFull;
        const std::string count = std::to_string(ReadCount(dir.get()) + 1) + "\n";
        if (const int err = PlaceFile(dir.get(), kRefusedFile, count, true))
            result.detail = std::string("the refusal could not be counted: ") + std::strerror(err);
    } else {
        for (int attempt = 0; attempt < 4; ++attempt) {
            result.name = std::to_string(record.received_ms) + "-" + std::to_string(getpid()) +
                          "-" + Hex(RandomWord()) + ".msg";
            const int err = PlaceFile(dir.get(), result.name, bytes, false);
            if (err == 0) {
                result.error = StoreError::kNone;
                break;
            }
            result.error = StoreError::kWriteFailed;
            result.detail = std::strerror(err);
            result.name.clear();
            if (err != EEXIST) break;
        }
    }
    if (locked) flock(dir.get(), LOCK_UN);
    return result;
}

std::optional<std::vector<std::string>> ListRecordNames(const std::string& spool)
{
    std::vector<std::string> names;
    DIR* listing = opendir(spool.c_str());
    if (listing == nullptr) return std::nullopt;
    while (const dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (IsRecordName(name)) names.push_back(std::move(name));
    }
    closedir(listing);
    // By time: a longer leading number is a later one.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return std::pair(a.find('-'), std::string_view(a)) <
               std::pair(b.find('-'), std::string_view(b));
    });
    return names;
}

RecordError ReadRecord(const std::string& spool, const std::string& name, Record& out)
{
    Fd dir(open(spool.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string bytes;
    if (!dir.ok() || !IsRecordName(name)) return RecordError::kBadHeader;
    if (!ReadSmallFile(dir.get(), name.c_str(), kMaxRecordBytes, bytes)) {
        return bytes.size() > kMaxRecordBytes ? RecordError::kTooLarge : RecordError::kBadHeader;
    }
    return ParseRecord(bytes, out);
}

std::uint64_t RefusedCount(const std::string& spool)
{
    Fd dir(open(spool.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.ok() ? ReadCount(dir.get()) : 0;
}

}  // namespace vindrel::spool
