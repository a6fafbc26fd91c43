// Delivery of one message text to one host: the NetBIOS session request and
// the SMB multi-block message exchange over it.
#pragma once

#include <cstdint>
#include <string>

#include "netbios/client/client_limits.h"
#include "netbios/codec/nb_name.h"
#include "platform/netmsg.h"
#include "platform/network.h"

namespace vindrel::netbios {

// Who a message is from: this computer's name <00> for the session request
// and the originator named in the message (code page bytes, no NUL).
struct Sender {
    RawName calling{};
    std::string originator;
};

// Delivers `text` (code page bytes) to `called` at `address`, ending by
// `deadline` or by the connect and delivery limits, whichever comes first.
// kNameNotFound: the host is there but does not hold the called name;
// kSessionRefused: any other negative answer, a retarget, or garbage.
SendOutcome::Result Deliver(net::Network& network, net::Ipv4 address, const RawName& called,
                            const Sender& sender, const std::string& text,
                            const ClientLimits& limits, net::Deadline deadline);

}  // namespace vindrel::netbios
