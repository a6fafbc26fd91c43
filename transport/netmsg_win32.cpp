// The network send on Windows: NetMessageBufferSend of NetApi32.dll, found at
// the first send, while the system can send at all; else (and always where it
// is Wine's stub) the program's own messenger client over Winsock.
#include "platform/win32/windows_headers.h"

#include <string>

#include "netbios/client/messenger_client.h"
#include "platform/lan_names.h"
#include "platform/netmsg.h"
#include "platform/network.h"
#include "platform/win32/system_calls.h"
#include "platform/win32/system_function.h"
#include "transport/send_route.h"

namespace vindrel {
namespace {

using NetMessageBufferSendFn = DWORD(WINAPI*)(LPCWSTR servername, LPCWSTR msgname,
                                              LPCWSTR fromname, LPBYTE buf, DWORD buflen);

win32::LateBound<NetMessageBufferSendFn> g_send(L"NetApi32.dll", "NetMessageBufferSend");

std::uint32_t CallSystem(const char16_t* server, const char16_t* msgname, const char16_t* from,
                         const unsigned char* buffer, std::uint32_t length)
{
    auto wide = [](const char16_t* s) { return reinterpret_cast<LPCWSTR>(s); };
    // The system reads the buffer only; its prototype predates const.
    return g_send.Get()(wide(server), wide(msgname), wide(from), const_cast<LPBYTE>(buffer), length);
}

SendOutcome ThroughSystem(std::u16string_view name, std::u16string_view text)
{
    // As the system's answer where it cannot send at all: the route then
    // takes the client for this recipient and every later one.
    if (win32::SystemSendIsWineStub()) return SendOutcome::System(net_status::kNotSupported);
    const bool found = g_send.Get() != nullptr;
    return SendOutcome::System(
        win32::SendThrough(found ? &CallSystem : nullptr, g_send.Error(), name, text));
}

net::Network& SystemNetwork()
{
    static const auto network = net::MakeSystemNetwork();
    return *network;
}

SendOutcome ThroughClient(std::u16string_view name, std::u16string_view text)
{
    if (text.size() > kMaxSendChars) return {SendOutcome::Result::kTooLong};
    // No Samba configuration on Windows: the adapters name the WINS servers.
    SendOutcome outcome = netbios::MessengerClient(SystemNetwork(), std::string()).Send(name, text);
    // "*" is answered as the system's send answers it, whichever way it
    // went: delivered once any computer took it, with no counts.
    outcome.everyone.reset();
    return outcome;
}

}  // namespace

bool win32::SystemSendIsWineStub()
{
    // Through void(*)(), as FindSystemFunction's answer came.
    static const bool stub =
        win32::IsWineBuiltin(reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(g_send.Get())));
    return stub;
}

SendOutcome SendTo(std::u16string_view name, std::u16string_view text)
{
    static win32::SendRoute route(&ThroughSystem, &ThroughClient);
    return route.Send(name, text);
}

NetStatus SendNetMessage(std::u16string_view name, std::u16string_view text)
{
    return StatusNumber(SendTo(name, text));
}

LanNames ListLanNames()
{
    return netbios::MessengerClient(SystemNetwork(), std::string()).ListNames();
}

}  // namespace vindrel
