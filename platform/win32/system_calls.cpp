// The core's send and login-name lookup on the Windows-shaped system calls.
#include "platform/win32/system_calls.h"

#include <algorithm>

namespace vindrel::win32 {

NetStatus SendThrough(NetMessageBufferSendCall call, std::uint32_t missing, std::u16string_view name,
                      std::u16string_view text)
{
    // Without the library there is no delivery; the status says why.
    if (call == nullptr) return static_cast<NetStatus>(missing);
    if (text.size() > kMaxSendChars) return net_status::kInvalidParameter;
    const std::u16string msgname(name);  // the call wants it null-terminated
    const std::uint8_t length = static_cast<std::uint8_t>(text.size() * sizeof(char16_t));
    return static_cast<NetStatus>(call(nullptr, msgname.c_str(), nullptr,
                                       reinterpret_cast<const unsigned char*>(text.data()), length));
}

std::u16string LoginNameThrough(GetUserNameACall call,
                                std::u16string (*to_utf16)(std::string_view ansi))
{
    constexpr std::uint32_t kCapacity = 255;
    // A plain array: the program carries no std::string of char.
    char buffer[kCapacity];
    std::fill(buffer, buffer + kCapacity, ' ');
    std::uint32_t size = kCapacity;
    if (call == nullptr || call(buffer, &size) == 0) return {};
    // The size counts the terminating null. Anything outside 1..capacity was
    // not set by a well-behaved call, so it is not used to index the buffer.
    if (size == 0 || size > kCapacity) return {};
    // Convert the bytes the call wrote, not a count of characters: a
    // multi-byte name has fewer characters than bytes.
    return to_utf16(std::string_view(buffer, size - 1));
}

}  // namespace vindrel::win32
