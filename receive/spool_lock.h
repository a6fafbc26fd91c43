// The spool writers' lock, and the spool's usage that the writers keep in
// the lock file so that the one holding the lock need not look at every
// record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "receive/spool_files.h"

namespace vindrel::spool {

// Not the directory itself, which every reader may open and lock: a file of
// the receiver's account that only it and the spool's group can open. Made
// by the spool's owner alone (systemd-tmpfiles, vindreld), so that no one
// writing through the group owns it, and so no one can hold it outside a
// writer.
inline constexpr char kLockFile[] = ".lock";

// What the limits count: the records readers take.
struct Share {
    std::size_t messages = 0;
    std::uint64_t bytes = 0;
};

struct Usage : Share {
    std::map<std::string, Share> by_key;  // by ShareKey; senders holding none left out

    void Add(const std::string& key, std::uint64_t size);
    void Remove(const std::string& key, std::uint64_t size);
};

class WritersLock {
public:
    // Waits at most `ms` for the lock; ok() is false (errno set) when it
    // was not had: ENOENT when there is no lock file and this writer may
    // not make one, EPERM when it is not the owner's alone, ETIMEDOUT when
    // another writer held it all along.
    WritersLock(const Spool& spool, int ms);
    bool ok() const { return fd_.ok(); }

    // The spool's usage now; none (errno set) when it cannot be listed.
    std::optional<Usage> Measure();
    // The records readers take with the share each counts against, oldest
    // first, for making room; the usage they come to goes to `usage`.
    std::optional<std::vector<RecordFile>> Records(Usage& usage);
    // Keeps `usage`, which this writer reached by adding `added` record
    // names to what Measure() gave and removing `removed`, for the next one.
    void Keep(const Usage& usage, std::size_t added, std::size_t removed);

private:
    const Spool& spool_;
    Fd fd_;
    std::size_t named_ = 0;  // record names in the spool when measured
    unsigned uses_ = 0;      // stores since the spool was last measured in full
};

}  // namespace vindrel::spool
