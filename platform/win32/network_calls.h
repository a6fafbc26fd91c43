// The Winsock and IP Helper functions the network uses, found by name in the
// system folder's ws2_32.dll and iphlpapi.dll (FindSystemFunction loads them
// by full path, so no DLL of that name beside the program is ever loaded).
// Each pointer has the type of the system header's own prototype.
#pragma once

#include "platform/win32/windows_headers.h"

#include <winsock2.h>
#include <iphlpapi.h>

namespace vindrel::win32 {

struct WinsockCalls {
    decltype(&::WSAStartup) wsa_startup;
    decltype(&::WSAGetLastError) last_error;
    decltype(&::socket) socket;
    decltype(&::closesocket) close;
    decltype(&::bind) bind;
    decltype(&::setsockopt) setsockopt;
    decltype(&::getsockopt) getsockopt;
    decltype(&::ioctlsocket) ioctl;
    decltype(&::sendto) sendto;
    decltype(&::recvfrom) recvfrom;
    decltype(&::connect) connect;
    decltype(&::send) send;
    decltype(&::recv) recv;
    decltype(&::select) select;
};

struct IpHelperCalls {
    decltype(&::GetAdaptersInfo) get_adapters_info;
    decltype(&::GetIfEntry) get_if_entry;
};

// The functions, with Winsock started (once, for the life of the process);
// null when a library or a function is missing or Winsock does not start.
// Safe to call from several threads at once.
const WinsockCalls* Winsock();
const IpHelperCalls* IpHelper();

}  // namespace vindrel::win32
