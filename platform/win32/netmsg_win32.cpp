// The network send: NetMessageBufferSend of NetApi32.dll, found at the first
// send.
#include "platform/win32/windows_headers.h"

#include "platform/netmsg.h"
#include "platform/win32/system_function.h"
#include "platform/win32/wide.h"

namespace vindrel {
namespace {

using NetMessageBufferSendCall = DWORD(WINAPI*)(LPCWSTR servername, LPCWSTR msgname,
                                                LPCWSTR fromname, LPBYTE buf, DWORD buflen);

win32::LateBound<NetMessageBufferSendCall> g_send(L"NetApi32.dll", "NetMessageBufferSend");

}  // namespace

NetStatus NetMessageBufferSend(const char16_t* server, const char16_t* msgname,
                               const char16_t* from, const unsigned char* buffer,
                               std::uint8_t length)
{
    const NetMessageBufferSendCall call = g_send.Get();
    // Without the library there is no delivery; the status says why.
    if (call == nullptr) return static_cast<NetStatus>(g_send.Error());
    // The system reads the buffer only; its prototype predates const.
    return static_cast<NetStatus>(call(win32::Wide(server), win32::Wide(msgname), win32::Wide(from),
                                       const_cast<LPBYTE>(buffer), DWORD{length}));
}

}  // namespace vindrel
