// The file where one user's marks on the shared spool's messages are kept:
// which they read, which they deleted (hidden from this user; the spool
// itself is not theirs to change), and how many refusals they have been
// told about. "read ID", "deleted ID" and "refusals-seen N" lines, in one
// small file under the user's XDG data directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vindrel::spool {

// Far more than kMaxMessages' worth of lines; the rest of a larger file is
// never read.
inline constexpr std::size_t kMaxReadStateBytes = 1 << 20;

struct ReadMarks {
    std::vector<std::string> read;     // record names
    std::vector<std::string> deleted;  // record names
    std::uint64_t refusals_seen = 0;
};

// The marks in `bytes`, as far as they are sound: lines that are not marks,
// and names that are not record names, are passed over.
ReadMarks ParseReadMarks(std::string_view bytes);

// The file's bytes for `marks`.
std::string FormatReadMarks(const ReadMarks& marks);

// The first kMaxReadStateBytes of `file` when it is a regular file: opened
// without blocking, so that a FIFO or a device in its place cannot stall
// the inbox's start. Empty when there is none.
std::string ReadMarksFile(const std::string& file);

}  // namespace vindrel::spool
