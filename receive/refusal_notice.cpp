// The words for the spool's refused and replaced counts.
#include "receive/refusal_notice.h"

namespace vindrel::spool {

std::string RefusalNotice(std::uint64_t refused, std::uint64_t replaced)
{
    std::string said;
    if (refused == 1 && !replaced)
        said = "1 message could not be kept because the inbox, or its sender's share of it, was "
               "full.";
    else if (refused || !replaced)
        said = std::to_string(refused) +
               " messages could not be kept because the inbox, or their sender's share of it, "
               "was full.";
    if (!said.empty() && replaced) said += ' ';
    if (replaced == 1)
        said += "1 older message was removed to make room for others: its sender had sent more "
                "than its share.";
    else if (replaced)
        said += std::to_string(replaced) +
                " older messages were removed to make room for others: their sender had sent "
                "more than its share.";
    return said;
}

}  // namespace vindrel::spool
