// The spool writers' lock, and the spool's usage that the writers keep in
// the lock file so that the one holding the lock need not look at every
// record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "app/spool/spool_files.h"

namespace vindrel::spool {

// Not the directory itself, which every reader may open and lock: a file
// only the spool's owner and group can open.
inline constexpr char kLockFile[] = ".lock";

// What the limits count: the records readers take.
struct Usage {
    std::size_t messages = 0;
    std::uint64_t bytes = 0;
};

class WritersLock {
public:
    // Waits at most `ms` for the lock; ok() is false (errno set) when it
    // was not had. Let go when destroyed.
    WritersLock(const Spool& spool, int ms);
    bool ok() const { return fd_.ok(); }

    // The spool's usage now; none (errno set) when it cannot be listed.
    std::optional<Usage> Measure();
    // Keeps `usage`, which this writer reached by adding `added` records to
    // what Measure() gave, for the next writer.
    void Keep(const Usage& usage, std::size_t added);

private:
    const Spool& spool_;
    Fd fd_;
    std::size_t named_ = 0;  // record names in the spool when measured
    unsigned uses_ = 0;      // stores since the spool was last measured in full
};

}  // namespace vindrel::spool
