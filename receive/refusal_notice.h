// What the inbox tells its users about messages the spool could not keep:
// in the history, the tray's notification and `vindrel-inbox --list`.
#pragma once

#include <cstdint>
#include <string>

namespace vindrel::spool {

// The notice for messages the spool lost: `refused` (it, or their sender's
// share, was full) and `replaced` (the oldest of a sender holding more than
// its share, removed for a newer message of another's); "1 message" for one.
std::string RefusalNotice(std::uint64_t refused, std::uint64_t replaced = 0);

}  // namespace vindrel::spool
