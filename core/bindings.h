// The network send and the login-name lookup the dispatch calls, as values
// so that tests can script them and each program wires its own.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/netmsg.h"

namespace vindrel {

// Production wires SendTo and GetLoginName (app/common/production.h).
struct Bindings {
    std::function<SendOutcome(std::u16string_view name, std::u16string_view text)> send;
    std::function<std::u16string()> login_name;
};

}  // namespace vindrel
