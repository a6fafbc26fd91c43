// The two system calls in the shape the system gives them, and the core's
// send and login-name lookup built on them. Kept free of <windows.h>, so the
// tests can hand in scripted calls and see exactly what the system receives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/netmsg.h"

namespace vindrel::win32 {

// NetMessageBufferSend of NetApi32.dll: server, message name, from name,
// buffer, byte length. Null when the library or the function is missing;
// `missing` then holds the system's reason (126 or 127).
using NetMessageBufferSendCall = std::uint32_t (*)(const char16_t* server, const char16_t* msgname,
                                                   const char16_t* from, const unsigned char* buffer,
                                                   std::uint32_t length);

// GetUserNameA of advapi32.dll: 8-bit characters in the ANSI code page; the
// size is the capacity on entry and the count written, with the null, after.
using GetUserNameACall = int (*)(char* buffer, std::uint32_t* size);

// The send as the system takes it: no server (this computer sends), no
// sender name, the text's UTF-16 code units without a terminator and their
// byte length as one byte. A text longer than kMaxSendChars is refused with
// kInvalidParameter instead of being described with a wrong length.
NetStatus SendThrough(NetMessageBufferSendCall call, std::uint32_t missing, std::u16string_view name,
                      std::u16string_view text);

// The login name: a buffer of 255 spaces, the size 255, and the first
// (size - 1) bytes the call left, converted by `to_utf16`. Empty when the
// call fails or leaves a size it cannot have written.
std::u16string LoginNameThrough(GetUserNameACall call,
                                std::u16string (*to_utf16)(std::string_view ansi));

// Text in the ANSI code page to UTF-16 (defined beside the login-name call,
// where <windows.h> is).
std::u16string AnsiToUtf16(std::string_view text);

}  // namespace vindrel::win32
