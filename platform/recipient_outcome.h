// What became of one recipient of a dispatch: the value the core reports,
// from which each front end writes its own words.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/netmsg.h"

namespace vindrel {

struct RecipientOutcome {
    enum class Result {
        kDelivered,  // the send returned kSuccess
        kFailed,     // the send returned `status`, not kSuccess
        kTooLong,    // not sent: with its sender line the text is `outgoing_chars` long,
                     // more than one send can carry
    };

    Result result = Result::kDelivered;
    std::u16string name;             // the name sent to: the entry without its spaces
    NetStatus status = net_status::kSuccess;
    std::size_t outgoing_chars = 0;
    // "*" that did not try every host that answered: kFailed, whatever the
    // status, with the numbers.
    std::optional<EveryoneShortfall> shortfall{};

    bool Delivered() const { return result == Result::kDelivered; }
    bool operator==(const RecipientOutcome&) const = default;
};

}  // namespace vindrel
