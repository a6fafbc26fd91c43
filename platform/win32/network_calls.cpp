// Finding the network functions in the system folder's libraries.
#include "platform/win32/network_calls.h"

#include "platform/win32/system_function.h"

namespace vindrel::win32 {
namespace {

// Sets `slot` to `name` in the system folder's `library`; false when either
// is missing.
template <typename Fn>
bool Find(const wchar_t* library, const char* name, Fn& slot)
{
    DWORD error = ERROR_SUCCESS;
    // Through void(*)(): FARPROC's own type says nothing about the real
    // signature, which the slot's type takes from the header.
    slot = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(FindSystemFunction(library, name, &error)));
    return slot != nullptr;
}

bool FindWinsock(WinsockCalls& w)
{
    const wchar_t* m = L"ws2_32.dll";
    const bool found = Find(m, "WSAStartup", w.wsa_startup) && Find(m, "WSAGetLastError", w.last_error) &&
                       Find(m, "socket", w.socket) && Find(m, "closesocket", w.close) &&
                       Find(m, "bind", w.bind) && Find(m, "setsockopt", w.setsockopt) &&
                       Find(m, "getsockopt", w.getsockopt) && Find(m, "ioctlsocket", w.ioctl) &&
                       Find(m, "sendto", w.sendto) && Find(m, "recvfrom", w.recvfrom) &&
                       Find(m, "connect", w.connect) && Find(m, "send", w.send) &&
                       Find(m, "recv", w.recv) && Find(m, "select", w.select);
    if (!found) return false;
    // Started once and never cleaned up: sockets may be in use until the
    // process ends, and the system releases everything then.
    WSADATA data;
    return w.wsa_startup(MAKEWORD(2, 2), &data) == 0;
}

bool FindIpHelper(IpHelperCalls& h)
{
    const wchar_t* m = L"iphlpapi.dll";
    return Find(m, "GetAdaptersInfo", h.get_adapters_info) &&
           Find(m, "GetIfEntry", h.get_if_entry);
}

}  // namespace

const WinsockCalls* Winsock()
{
    static WinsockCalls calls;
    static const bool ready = FindWinsock(calls);
    return ready ? &calls : nullptr;
}

const IpHelperCalls* IpHelper()
{
    static IpHelperCalls calls;
    static const bool ready = FindIpHelper(calls);
    return ready ? &calls : nullptr;
}

}  // namespace vindrel::win32
