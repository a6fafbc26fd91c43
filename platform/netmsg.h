// The network send binding: one call delivers one text to one message name.
#pragma once

#include <cstdint>

namespace vindrel {

// The signed 32-bit result of a send.
using NetStatus = std::int32_t;

inline constexpr NetStatus NERR_Success = 0;
inline constexpr NetStatus ERROR_INVALID_PARAMETER = 87;
inline constexpr NetStatus NERR_NetworkError = 2136;
inline constexpr NetStatus NERR_NameNotFound = 2273;
inline constexpr NetStatus NERR_BadReceive = 2282;

// Delivers `length` bytes of UTF-16 text (native byte order, no terminator)
// to `msgname`: a user's login name, a computer name or "*". `server` and
// `from` may be null (local computer, no sender name). The length travels as
// one unsigned byte, so a text of more than 255 bytes cannot be described;
// callers must refuse such a text rather than misstate it. Blocks until the
// receiver has accepted or refused the text.
//
// Each platform links exactly one definition of this function.
NetStatus NetMessageBufferSend(const char16_t* server, const char16_t* msgname,
                               const char16_t* from, const unsigned char* buffer,
                               std::uint8_t length);

using NetMessageBufferSendFn = NetStatus (*)(const char16_t* server, const char16_t* msgname,
                                             const char16_t* from,
                                             const unsigned char* buffer, std::uint8_t length);

}  // namespace vindrel
