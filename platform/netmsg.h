// The network send: one call delivers one text to one message name, and
// says what became of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vindrel {

// The signed 32-bit status number of the system's send.
using NetStatus = std::int32_t;

// The statuses keep the system's numbers, which the prompts print. They are
// named apart from the system headers' macros (NERR_NameNotFound and the
// like), so this header and <windows.h> can meet in one file.
namespace net_status {
inline constexpr NetStatus kSuccess = 0;            // NERR_Success
inline constexpr NetStatus kNotSupported = 50;      // ERROR_NOT_SUPPORTED
inline constexpr NetStatus kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr NetStatus kNetworkError = 2136;    // NERR_NetworkError
inline constexpr NetStatus kNameNotFound = 2273;    // NERR_NameNotFound
inline constexpr NetStatus kBadReceive = 2282;      // NERR_BadReceive
}  // namespace net_status

// Longest text one send carries: 255 bytes of UTF-16, since the system call
// takes the byte length as one byte.
inline constexpr std::size_t kMaxSendChars = 127;

// How far a send to "*" got: the computers it reached and those that
// answered but were never tried (a limit was reached, or the time ran out).
struct EveryoneCounts {
    std::size_t reached = 0;
    std::size_t not_reached = 0;
    bool operator==(const EveryoneCounts&) const = default;
};

// What became of one send.
struct SendOutcome {
    enum class Result {
        kDelivered,
        kNameNotFound,    // no host answered for the name, or the one that did lacks it
                          // (for "*": nobody answered)
        kNoConnection,    // the host took no connection in time
        kNoSessionReply,  // the session request got no usable answer in time
        kSessionRefused,  // the host refused the session, or answered garbage
        kNotReceived,     // the session was taken, then the message was not
        kTooLong,         // refused unsent: over kMaxSendChars
        kSystemStatus,    // the system's own send answered `system_status` (not kSuccess)
    };

    Result result = Result::kDelivered;
    NetStatus system_status = net_status::kSuccess;
    // A "*" the program's own client served: how far it got.
    std::optional<EveryoneCounts> everyone{};

    // The system's answer as an outcome: kSuccess is kDelivered.
    static SendOutcome System(NetStatus status)
    {
        if (status == net_status::kSuccess) return {};
        return {Result::kSystemStatus, status};
    }

    // A "*" that left computers which answered unreached: not delivered,
    // whatever the result.
    bool CutShort() const { return everyone && everyone->not_reached > 0; }
    bool Delivered() const { return result == Result::kDelivered && !CutShort(); }
    bool operator==(const SendOutcome&) const = default;
};

// The system's status number for `outcome`, the one the system's own send
// would have answered: what the prompts print and SendNetMessage returns.
// The only place an outcome becomes a number.
inline NetStatus StatusNumber(const SendOutcome& outcome)
{
    using R = SendOutcome::Result;
    switch (outcome.result) {
    case R::kDelivered: return net_status::kSuccess;
    case R::kNameNotFound: return net_status::kNameNotFound;
    case R::kNotReceived: return net_status::kBadReceive;
    case R::kTooLong: return net_status::kInvalidParameter;
    case R::kSystemStatus: return outcome.system_status;
    case R::kNoConnection:
    case R::kNoSessionReply:
    case R::kSessionRefused: break;
    }
    return net_status::kNetworkError;
}

// Delivers `text` (UTF-16, CR LF line breaks) to `name`: a user's login name,
// a computer name or "*". Blocks until the receiver has accepted or refused
// the text, within a time limit no peer can stretch. A text longer than
// kMaxSendChars is refused (kTooLong), never cut.
//
// Each platform links exactly one definition.
SendOutcome SendTo(std::u16string_view name, std::u16string_view text);

// SendTo's outcome as the system's status number.
NetStatus SendNetMessage(std::u16string_view name, std::u16string_view text);

}  // namespace vindrel
