// Which way a send goes on Windows: through the system's messenger service
// while this computer has one, else through the program's own messenger
// client. Free of <windows.h>, so the decision is tested on scripted sends.
#pragma once

#include <functional>
#include <string_view>

#include "platform/netmsg.h"

namespace vindrel::win32 {

// True when the system's answer says that this computer cannot send through
// it at all, whoever the recipient: the call is not supported (every Windows
// since Vista), the messenger service is not installed or not running, or
// NetApi32.dll or its function is missing. Any other answer is about the
// recipient or the network and stands.
bool SystemCannotSend(NetStatus status);

using SendCall = std::function<SendOutcome(std::u16string_view name, std::u16string_view text)>;

// True where the system's NetMessageBufferSend is Wine's own, an
// unimplemented stub that raises an exception instead of answering: the send
// then never calls it and goes to the client from the first recipient on.
// (Defined beside the send, which finds the function.)
bool SystemSendIsWineStub();

// The send, the system first. The first answer whose status number
// SystemCannotSend holds for decides for the life of the route: that recipient and every later one
// go to the client, without asking the system again.
class SendRoute {
public:
    SendRoute(SendCall system, SendCall client);

    SendOutcome Send(std::u16string_view name, std::u16string_view text);

private:
    SendCall system_;
    SendCall client_;
    bool through_client_ = false;
};

}  // namespace vindrel::win32
