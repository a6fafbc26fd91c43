// The network send on POSIX systems: the messenger client with the Samba
// configuration in its usual place and the default time limits.
#include "platform/netmsg.h"

#include "platform/posix/netbios/messenger_client.h"

namespace vindrel {

NetStatus NetMessageBufferSend(const char16_t* server, const char16_t* msgname,
                               const char16_t* from, const unsigned char* buffer,
                               std::uint8_t length)
{
    return netbios::MessengerClient().Send(server, msgname, from, buffer, length);
}

}  // namespace vindrel
