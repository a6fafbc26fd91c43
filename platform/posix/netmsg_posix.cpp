// The network send on POSIX systems: the messenger client with the Samba
// configuration in its usual place and the default time limits.
#include "platform/netmsg.h"

#include "platform/posix/netbios/messenger_client.h"

namespace vindrel {

NetStatus SendNetMessage(std::u16string_view name, std::u16string_view text)
{
    if (text.size() > kMaxSendChars) return net_status::kInvalidParameter;
    return netbios::MessengerClient().Send(name, text);
}

}  // namespace vindrel
