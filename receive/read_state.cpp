// The read state file's lines, and reading it without trusting what is there.
#include "receive/read_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "receive/spool_dir.h"

namespace vindrel::spool {
namespace {

// A count as the inbox has always read it: decimal, with white space
// around it and a "+" before it allowed.
bool ParseCount(std::string_view text, std::uint64_t& count)
{
    constexpr std::string_view kSpace = " \t\r\v\f";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return false;
    text = text.substr(first, text.find_last_not_of(kSpace) + 1 - first);
    if (text.front() == '+') text.remove_prefix(1);
    const char* const last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, count);
    return error == std::errc() && end == last && !text.empty();
}

}  // namespace

ReadMarks ParseReadMarks(std::string_view bytes)
{
    ReadMarks marks;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t eol = std::min(bytes.find('\n', start), bytes.size());
        const std::string_view line = bytes.substr(start, eol - start);
        start = eol + 1;
        const std::size_t space = line.find(' ');
        if (space == 0 || space == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, space);
        const std::string_view value = line.substr(space + 1);
        if (key == "refusals-seen") {
            std::uint64_t count = 0;
            if (ParseCount(value, count)) marks.refusals_seen = count;
            continue;
        }
        if (!IsRecordName(std::string(value))) continue;
        if (key == "read") marks.read.emplace_back(value);
        if (key == "deleted") marks.deleted.emplace_back(value);
    }
    return marks;
}

std::string FormatReadMarks(const ReadMarks& marks)
{
    std::string bytes = "refusals-seen " + std::to_string(marks.refusals_seen) + "\n";
    for (const std::string& id : marks.read) bytes += "read " + id + "\n";
    for (const std::string& id : marks.deleted) bytes += "deleted " + id + "\n";
    return bytes;
}

std::string ReadMarksFile(const std::string& file)
{
    const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    std::string bytes;
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        bytes.resize(kMaxReadStateBytes);
        std::size_t got = 0;
        while (got < kMaxReadStateBytes) {
            const ssize_t n = read(fd, bytes.data() + got, kMaxReadStateBytes - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
    }
    close(fd);
    return bytes;
}

}  // namespace vindrel::spool
