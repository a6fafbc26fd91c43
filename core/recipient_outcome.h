// What became of one recipient of a dispatch: the value the core reports,
// from which each front end writes its own words.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/netmsg.h"

namespace vindrel {

struct RecipientOutcome {
    std::u16string name;  // the name sent to: the entry without its spaces
    SendOutcome sent{};   // what the send answered
    // Not sent (`sent` kTooLong): with its sender line the text is this many
    // characters, more than one send carries.
    std::optional<std::size_t> over_length{};

    bool Delivered() const { return sent.Delivered(); }
    bool operator==(const RecipientOutcome&) const = default;
};

}  // namespace vindrel
