// The system first, the messenger client once the system cannot send.
#include "transport/send_route.h"

#include <utility>

namespace vindrel::win32 {
namespace {

// The system's numbers; <windows.h> has them too, but this file stays free of it.
constexpr NetStatus kModuleNotFound = 126;          // ERROR_MOD_NOT_FOUND: no NetApi32.dll
constexpr NetStatus kProcedureNotFound = 127;       // ERROR_PROC_NOT_FOUND: no NetMessageBufferSend
constexpr NetStatus kRpcServerUnavailable = 1722;   // RPC_S_SERVER_UNAVAILABLE: service stopped
constexpr NetStatus kServiceNotInstalled = 2184;    // NERR_ServiceNotInstalled

}  // namespace

bool SystemCannotSend(NetStatus status)
{
    switch (status) {
    case net_status::kNotSupported:
    case kServiceNotInstalled:
    case kRpcServerUnavailable:
    case kModuleNotFound:
    case kProcedureNotFound: return true;
    default: return false;
    }
}

SendRoute::SendRoute(SendCall system, SendCall client)
    : system_(std::move(system)), client_(std::move(client))
{
}

SendOutcome SendRoute::Send(std::u16string_view name, std::u16string_view text)
{
    if (!through_client_) {
        SendOutcome outcome = system_(name, text);
        if (!SystemCannotSend(StatusNumber(outcome))) return outcome;
        through_client_ = true;
    }
    return client_(name, text);
}

}  // namespace vindrel::win32
