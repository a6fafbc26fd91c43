// One message session of the receiving side.
#include "platform/netbios/message_session.h"

#include <utility>

namespace vindrel::netbios {

const char* Describe(SessionFault) { return "session fault"; }

MessageSession::MessageSession(NameCheck is_our_name) : is_our_name_(std::move(is_our_name)) {}

void MessageSession::OnBytes(ByteView) {}
Bytes MessageSession::TakeOutput() { return std::exchange(output_, {}); }
std::optional<ReceivedMessage> MessageSession::TakeMessage() { return std::nullopt; }
void MessageSession::Stored(bool) {}
Bytes MessageSession::InsufficientResources()
{
    return BuildNegativeSessionResponse(SessionRefusal::kInsufficientResources);
}

}  // namespace vindrel::netbios
