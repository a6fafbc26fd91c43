// vindrel-inbox --list: every stored message as text, for scripts.
#pragma once

#include <QString>
#include <cstdio>
#include <string>

namespace vindrel {

enum class ListFormat {
    // A heading line "TIME from FROM to TO" (local time, ISO 8601 with its
    // offset), then each line of the text indented by two spaces, then a
    // blank line between messages: no text can make a line that reads as a
    // heading. Characters that reorder text show as "<U+202E>".
    kPlain,
    // One JSON object per message per line: "received" (ISO 8601, UTC),
    // "from", "to", "text", "read" (by this user).
    kJson,
};

// Prints each record of `spool`, oldest first, but those this user deleted;
// `state_file` is this user's read state. Returns the exit status: 1, with
// the reason on `err`, when the list could not be written whole.
int ListMessages(const std::string& spool, const QString& state_file, ListFormat format,
                 std::FILE* out, std::FILE* err);

}  // namespace vindrel
