// The network send on POSIX systems: the messenger client on the system's
// network, with the Samba configuration in its usual place and the default
// limits; and the listing of the LAN's names through the same client.
#include "platform/netmsg.h"

#include "netbios/client/messenger_client.h"
#include "platform/lan_names.h"
#include "platform/network.h"

namespace vindrel {
namespace {

// Never destroyed: the window lists names on a thread of its own, which
// may still run when main() returns.
net::Network& SystemNetwork()
{
    static net::Network* const network = net::MakeSystemNetwork().release();
    return *network;
}

}  // namespace

SendOutcome SendTo(std::u16string_view name, std::u16string_view text)
{
    if (text.size() > kMaxSendChars) return {SendOutcome::Result::kTooLong};
    return netbios::MessengerClient(SystemNetwork()).Send(name, text);
}

NetStatus SendNetMessage(std::u16string_view name, std::u16string_view text)
{
    return StatusNumber(SendTo(name, text));
}

LanNames ListLanNames() { return netbios::MessengerClient(SystemNetwork()).ListNames(); }

}  // namespace vindrel
