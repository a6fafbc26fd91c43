// What the spool's readers and writers share inside app/spool: which files
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
};

// Walks the spool's record names and returns how many there are; with
// `files`, also looks at each and keeps those readers take, in no order.
// None when the spool cannot be listed.
std::optional<std::size_t> ScanRecords(const Spool& spool, std::vector<RecordFile>* files);

// Reads a spool file `name` (not through a link) of at most `limit` bytes
// into `out`; false when it is no spool file or is longer.
bool ReadSpoolFile(const Spool& spool, const char* name, std::size_t limit, std::string& out);

// The refusal count kept in kRefusedFile; 0 when none or unreadable.
std::uint64_t ReadRefusedCount(const Spool& spool);

}  // namespace vindrel::spool
