// What the spool's readers and writers share inside receive/: which files
// in the spool are its own, and reading them without trusting them.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vindrel::spool {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) close(fd_);
    }
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

// The spool, opened, with what its own files must match.
struct Spool {
    std::string path;
    Fd dir;
    struct stat st{};
};

// Opens `path` as a spool; false (errno set) when it is no directory.
bool OpenSpool(const std::string& path, Spool& out);

// True for a file the spool's writers could have left: a regular file owned
// by the spool's owner or group, of at most `limit` bytes. A sparse giant, a
// device or a stranger's file is not one.
bool IsSpoolFile(const Spool& spool, const struct stat& file, std::uint64_t limit);

struct RecordFile {
    std::string name;
    std::uint64_t bytes = 0;
    std::string key;  // the share it counts against, once ReadShareKeys has read it
};

// Walks the spool's record names and returns how many there are; with
// `files`, also looks at each and keeps those readers take, in no order.
// None when the spool cannot be listed.
std::optional<std::size_t> ScanRecords(const Spool& spool, std::vector<RecordFile>* files);

// Fills in the share key (ShareKey) of each of `files`; a file that is no
// record counts as the unknown sender's, "".
void ReadShareKeys(const Spool& spool, std::vector<RecordFile>& files);

// Oldest first, as the names say: by the time they begin with.
void SortOldestFirst(std::vector<RecordFile>& files);

// Prefix of the names files are written under before they are named.
inline constexpr char kTempPrefix[] = ".tmp-";
// How old a temporary file must be to be taken for one a writer killed
// mid-write left: far longer than a write and flush under any load.
inline constexpr int kStaleTempSeconds = 30;

// Removes temporary files of the spool's own older than kStaleTempSeconds.
void RemoveStaleTemps(const Spool& spool);

// Reads a spool file `name` (not through a link) of at most `limit` bytes
// into `out`; false when it is no spool file or is longer.
bool ReadSpoolFile(const Spool& spool, const char* name, std::size_t limit, std::string& out);

// A count kept in the file `name` (kRefusedFile, kReplacedFile); 0 when
// none or unreadable.
std::uint64_t ReadCount(const Spool& spool, const char* name);

}  // namespace vindrel::spool
