// The network send: NetMessageBufferSend of NetApi32.dll, found at the first
// send.
#include "platform/win32/windows_headers.h"

#include "platform/netmsg.h"
#include "platform/win32/system_calls.h"
#include "platform/win32/system_function.h"

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

}  // namespace

NetStatus SendNetMessage(std::u16string_view name, std::u16string_view text)
{
    const bool found = g_send.Get() != nullptr;
    return win32::SendThrough(found ? &CallSystem : nullptr, g_send.Error(), name, text);
}

}  // namespace vindrel
