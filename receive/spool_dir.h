// The spool directory: storing records atomically within the spool's
// limits and each sender's share of them, counting refusals and
// replacements, and reading the records back.
//
// The spool belongs to the receiver: its account owns it, and the Samba
// route's helper writes through the spool's group. Every local user reads
// it. Readers take only what a writer could have put there (record names,
// regular files owned by the spool's owner or group, of a record's size at
// most), so a file that should not be there is neither shown nor counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "receive/spool_record.h"

namespace vindrel::spool {

inline constexpr char kDefaultSpool[] = VINDREL_SPOOL_DIR;
inline constexpr std::size_t kMaxMessages = 1000;
inline constexpr std::uint64_t kMaxSpoolBytes = 4u << 20;
// The most one sender may hold (see ShareKey): one part in kShareParts of
// each limit, so that one host cannot fill the spool for all.
inline constexpr std::size_t kShareParts = 10;
inline constexpr std::size_t kMaxSourceMessages = kMaxMessages / kShareParts;
inline constexpr std::uint64_t kMaxSourceBytes = kMaxSpoolBytes / kShareParts;
// The count of messages refused because the spool, or their sender's share
// of it, was full.
inline constexpr char kRefusedFile[] = "refused";
// The count of messages removed to make room in a full spool: the oldest of
// a sender holding more than its share (the unknown sender's, which has no
// share of its own), for a message from a sender holding less.
inline constexpr char kReplacedFile[] = "replaced";
// How long a writer waits for the other writers before it refuses. They
// hold the lock for a millisecond or two each, so only a stuck writer makes
// anyone wait this long.
inline constexpr int kLockWaitMs = 5000;

enum class StoreError {
    kNone,
    kSpoolMissing,  // the spool cannot be opened, or the receiver made no lock in it
    kSpoolFull,     // refused and counted: the sender's share (detail says so), or the
                    // whole spool with no other sender holding more than a share
    kSpoolBusy,     // refused, not counted: the writers' lock was not had in kLockWaitMs
    kWriteFailed,   // the record could not be written, flushed or named
};

struct StoreResult {
    StoreError error = StoreError::kNone;
    std::string detail;  // the system's own words, when it failed
    std::string name;    // the record's file name, when kept
    std::string replaced;  // the record removed to make room for it, if any
};

// What a result means, in the words of a log line ("the spool is full"),
// or, given the spool, of a line that names it ("the spool DIR is full").
std::string Describe(StoreError error, const std::string& spool = {});

// Adds `records` (clean fields) to the spool, one result each, in order.
// Each record appears whole (written under a temporary name, flushed, then
// renamed) and is on disk when its result says kept. The limits are checked
// for each record in turn, so a batch that meets a full spool keeps its
// first records and counts the rest; they are checked before anything is
// written, so a batch refused whole writes only its count and flushes
// nothing. Records left by writers killed mid-write are removed here.
std::vector<StoreResult> StoreRecords(const std::string& spool, std::span<const Record> records);

// StoreRecords for one record.
StoreResult StoreRecord(const std::string& spool, const Record& record);

// True for names StoreRecords gives records: "<digits>-<digits>-<hex>.msg".
bool IsRecordName(const std::string& name);

// The record names in the spool, oldest first by name; none when the spool
// cannot be listed (as opposed to an empty spool).
std::optional<std::vector<std::string>> ListRecordNames(const std::string& spool);

// Reads one record: a file the spool expects, not followed through a link,
// read no further than kMaxRecordBytes, then parsed. kBadHeader when it
// cannot be read or is not the spool's own.
RecordError ReadRecord(const std::string& spool, const std::string& name, Record& out);

// How many messages were refused because the spool was full; 0 when never.
std::uint64_t RefusedCount(const std::string& spool);

// How many messages were removed to make room for others' (kReplacedFile).
std::uint64_t ReplacedCount(const std::string& spool);

}  // namespace vindrel::spool
