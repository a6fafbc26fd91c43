// vindrel-inbox --list: every stored message as text, for scripts.
#pragma once

#include <cstdio>
#include <string>

namespace vindrel {

// Prints each record of `spool`, oldest first: a line with the time (ISO
// 8601, local time with its offset), "from FROM to TO", then the text,
// then one blank line between messages. Returns the exit status.
int ListMessages(const std::string& spool, std::FILE* out, std::FILE* err);

}  // namespace vindrel
