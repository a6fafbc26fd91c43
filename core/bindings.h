// The network send and the login-name lookup the dispatch calls, as values
// so that tests can script them and each program wires its own.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/netmsg.h"

namespace vindrel {

// Production wires ReportedSend and GetLoginName (app/common/production.h).
// A send may answer with its bare status.
struct Bindings {
    std::function<SendReport(std::u16string_view name, std::u16string_view text)> send;
    std::function<std::u16string()> login_name;
};

}  // namespace vindrel
