// The network send on POSIX systems: the messenger client on the system's
// network, with the Samba configuration in its usual place and the default
// limits.
#include "platform/netmsg.h"

#include "platform/netbios/messenger_client.h"
#include "platform/network.h"

namespace vindrel {

NetStatus SendNetMessage(std::u16string_view name, std::u16string_view text)
{
    if (text.size() > kMaxSendChars) return net_status::kInvalidParameter;
    static const auto network = net::MakeSystemNetwork();
    return netbios::MessengerClient(*network).Send(name, text);
}

}  // namespace vindrel
