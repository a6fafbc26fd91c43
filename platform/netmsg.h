// The network send: one call delivers one text to one message name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vindrel {

// The signed 32-bit result of a send.
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

// Delivers `text` (UTF-16, CR LF line breaks) to `name`: a user's login name,
// a computer name or "*". Blocks until the receiver has accepted or refused
// the text, within a time limit no peer can stretch. A text longer than
// kMaxSendChars is refused with kInvalidParameter, never cut.
//
// Each platform links exactly one definition.
NetStatus SendNetMessage(std::u16string_view name, std::u16string_view text);

// How far a send to "*" got when it did not try every host that answered
// (a limit was reached, or the time ran out): the computers it reached and
// those it never tried.
struct EveryoneShortfall {
    std::size_t reached = 0;
    std::size_t not_reached = 0;
    bool operator==(const EveryoneShortfall&) const = default;
};

// What one send reports: its status and, for "*" cut short, its shortfall.
struct SendReport {
    SendReport(NetStatus s = net_status::kSuccess) : status(s) {}  // NOLINT: a status is a report
    NetStatus status;
    std::optional<EveryoneShortfall> shortfall;
};

// SendNetMessage, telling a shortfall of "*" where the platform's send can
// know it. Each platform links exactly one definition.
SendReport ReportedSend(std::u16string_view name, std::u16string_view text);

}  // namespace vindrel
