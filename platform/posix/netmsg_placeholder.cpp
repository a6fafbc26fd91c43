// Stand-in network send until the messenger client is linked: it reaches no
// one, and says so with a nonzero status instead of claiming delivery.
#include "platform/netmsg.h"

namespace vindrel {

NetStatus NetMessageBufferSend(const char16_t*, const char16_t*, const char16_t*,
                               const unsigned char*, std::uint8_t)
{
    return NERR_NetworkError;
}

}  // namespace vindrel
