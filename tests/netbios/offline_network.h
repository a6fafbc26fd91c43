// A network with nothing on it, for tests that must not be able to send.
#pragma once

#include <memory>

#include "platform/network.h"

namespace vindrel::net {

// No interfaces and no WINS servers, sockets that cannot be opened, and
// CP850 as code page.
std::unique_ptr<Network> MakeOfflineNetwork();

}  // namespace vindrel::net
