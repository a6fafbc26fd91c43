// The network send on POSIX systems: the messenger client on the system's
// network, with the Samba configuration in its usual place and the default
// limits; and the listing of the LAN's names through the same client.
#include "platform/netmsg.h"

#include "platform/lan_names.h"
#include "netbios/client/messenger_client.h"
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

NetStatus SendNetMessage(std::u16string_view name, std::u16string_view text)
{
    return ReportedSend(name, text).status;
}

SendReport ReportedSend(std::u16string_view name, std::u16string_view text)
{
    if (text.size() > kMaxSendChars) return net_status::kInvalidParameter;
    netbios::MessengerClient client(SystemNetwork());
    SendReport report = client.Send(name, text);
    const netbios::EveryoneReport& everyone = client.last_everyone();
    if (name == u"*" && everyone.not_tried() > 0)
        report.shortfall = EveryoneShortfall{everyone.delivered, everyone.not_tried()};
    return report;
}

LanNames ListLanNames() { return netbios::MessengerClient(SystemNetwork()).ListNames(); }

}  // namespace vindrel
