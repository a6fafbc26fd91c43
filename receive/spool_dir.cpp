// Reading the spool on POSIX: which files are records, listing and reading
// them, and the counts of messages refused and replaced.
#include "receive/spool_dir.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

#include "receive/spool_files.h"

namespace vindrel::spool {

bool OpenSpool(const std::string& path, Spool& out)
{
    out.path = path;
    out.dir = Fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return out.dir.ok() && fstat(out.dir.get(), &out.st) == 0;
}

bool IsSpoolFile(const Spool& spool, const struct stat& file, std::uint64_t limit)
{
    return S_ISREG(file.st_mode) &&
           (file.st_uid == spool.st.st_uid || file.st_gid == spool.st.st_gid) &&
           static_cast<std::uint64_t>(file.st_size) <= limit;
}

std::optional<std::size_t> ScanRecords(const Spool& spool, std::vector<RecordFile>* files)
{
    const int copy = dup(spool.dir.get());
    DIR* listing = copy < 0 ? nullptr : fdopendir(copy);
    if (listing == nullptr) {
        if (copy >= 0) close(copy);
        return std::nullopt;
    }
    // From the start, however often this spool was listed before.
    rewinddir(listing);
    std::size_t named = 0;
    while (const dirent* entry = readdir(listing)) {
        if (!IsRecordName(entry->d_name)) continue;
        ++named;
        struct stat st{};
        if (files == nullptr ||
            fstatat(spool.dir.get(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !IsSpoolFile(spool, st, kMaxRecordBytes))
            continue;
        files->push_back({entry->d_name, static_cast<std::uint64_t>(st.st_size), {}});
    }
    closedir(listing);
    return named;
}

bool ReadSpoolFile(const Spool& spool, const char* name, std::size_t limit, std::string& out)
{
    out.clear();
    Fd fd(openat(spool.dir.get(), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st{};
    if (!fd.ok() || fstat(fd.get(), &st) != 0 || !IsSpoolFile(spool, st, limit)) return false;
    // The size was checked, but the file may have grown since.
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

void ReadShareKeys(const Spool& spool, std::vector<RecordFile>& files)
{
    std::string bytes;
    for (RecordFile& file : files) {
        Record record;
        file.key = ReadSpoolFile(spool, file.name.c_str(), kMaxRecordBytes, bytes) &&
                           ParseRecord(bytes, record) == RecordError::kNone
                       ? ShareKey(record)
                       : std::string();
    }
}

void SortOldestFirst(std::vector<RecordFile>& files)
{
    // A longer leading number is a later one.
    std::sort(files.begin(), files.end(), [](const RecordFile& a, const RecordFile& b) {
        return std::pair(a.name.find('-'), std::string_view(a.name)) <
               std::pair(b.name.find('-'), std::string_view(b.name));
    });
}

void RemoveStaleTemps(const Spool& spool)
{
    const int copy = dup(spool.dir.get());
    DIR* listing = copy < 0 ? nullptr : fdopendir(copy);
    if (listing == nullptr) {
        if (copy >= 0) close(copy);
        return;
    }
    rewinddir(listing);
    const time_t stale = time(nullptr) - kStaleTempSeconds;
    while (const dirent* entry = readdir(listing)) {
        struct stat st{};
        if (std::strncmp(entry->d_name, kTempPrefix, sizeof kTempPrefix - 1) == 0 &&
            fstatat(spool.dir.get(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            IsSpoolFile(spool, st, UINT64_MAX) && st.st_mtime < stale)
            unlinkat(spool.dir.get(), entry->d_name, 0);
    }
    closedir(listing);
}

std::uint64_t ReadCount(const Spool& spool, const char* name)
{
    std::string text;
    if (!ReadSpoolFile(spool, name, 24, text)) return 0;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::uint64_t count = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || count > 1'000'000'000'000ull) return 0;
        count = count * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return count;
}

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

std::optional<std::vector<std::string>> ListRecordNames(const std::string& spool)
{
    Spool opened;
    std::vector<RecordFile> records;
    if (!OpenSpool(spool, opened) || !ScanRecords(opened, &records)) return std::nullopt;
    SortOldestFirst(records);
    std::vector<std::string> names;
    names.reserve(records.size());
    for (RecordFile& record : records) names.push_back(std::move(record.name));
    return names;
}

RecordError ReadRecord(const std::string& spool, const std::string& name, Record& out)
{
    Spool opened;
    std::string bytes;
    if (!IsRecordName(name) || !OpenSpool(spool, opened)) return RecordError::kBadHeader;
    if (!ReadSpoolFile(opened, name.c_str(), kMaxRecordBytes, bytes)) {
        return bytes.size() > kMaxRecordBytes ? RecordError::kTooLarge : RecordError::kBadHeader;
    }
    return ParseRecord(bytes, out);
}

std::string Describe(StoreError error, const std::string& spool)
{
    const std::string the_spool = spool.empty() ? "the spool" : "the spool " + spool;
    switch (error) {
    case StoreError::kNone: return "kept";
    case StoreError::kSpoolMissing: return "cannot open " + the_spool;
    case StoreError::kSpoolFull: return the_spool + " is full";
    case StoreError::kSpoolBusy:
        return spool.empty() ? "another writer holds the spool's lock" : the_spool + " is busy";
    case StoreError::kWriteFailed: break;
    }
    return spool.empty() ? "cannot write to the spool" : "cannot store the message in " + spool;
}

std::uint64_t RefusedCount(const std::string& spool)
{
    Spool opened;
    return OpenSpool(spool, opened) ? ReadCount(opened, kRefusedFile) : 0;
}

std::uint64_t ReplacedCount(const std::string& spool)
{
    Spool opened;
    return OpenSpool(spool, opened) ? ReadCount(opened, kReplacedFile) : 0;
}

}  // namespace vindrel::spool
