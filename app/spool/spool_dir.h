// The spool directory: storing a record atomically within the spool's
// limits, counting refusals, and reading the records back.
//
// The spool is shared: the guest account adds records, every local user
// reads them, and anyone who can write there may leave other files, so
// readers look only at names of the record pattern and trust no contents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/spool/spool_record.h"

namespace vindrel::spool {

inline constexpr char kDefaultSpool[] = VINDREL_SPOOL_DIR;
inline constexpr std::size_t kMaxMessages = 1000;
inline constexpr std::uint64_t kMaxSpoolBytes = 4u << 20;
// The count of messages refused because the spool was full.
inline constexpr char kRefusedFile[] = "refused";

enum class StoreError {
    kNone,
    kSpoolMissing,  // the spool cannot be opened
    kSpoolFull,     // refused and counted: kMaxMessages or kMaxSpoolBytes reached
    kWriteFailed,   // the record could not be written or named
};

struct StoreResult {
    StoreError error = StoreError::kNone;
    std::string detail;  // the system's own words, when it failed
    std::string name;    // the record's file name, when stored
};

// Adds `record` (clean fields) to the spool as one file that appears whole:
// written under a temporary name, flushed, then renamed. Concurrent stores
// count and add under a lock on the directory, held for a bounded time.
StoreResult StoreRecord(const std::string& spool, const Record& record);

// True for names StoreRecord gives records: "<digits>-<digits>-<hex>.msg".
bool IsRecordName(const std::string& name);

// The record names in the spool, oldest first by name; none when the spool
// cannot be listed (as opposed to an empty spool).
std::optional<std::vector<std::string>> ListRecordNames(const std::string& spool);

// Reads one record: a regular file, not followed through a link, read no
// further than kMaxRecordBytes, then parsed. kBadHeader when it cannot be read.
RecordError ReadRecord(const std::string& spool, const std::string& name, Record& out);

// How many messages were refused because the spool was full; 0 when never.
std::uint64_t RefusedCount(const std::string& spool);

}  // namespace vindrel::spool
