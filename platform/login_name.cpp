// GetLoginName on top of a GetUserNameA-shaped binding; shared by every platform.
#include "platform/login_name.h"

#include <string>

namespace vindrel {

std::u16string GetLoginName(GetUserNameAFn binding)
{
    constexpr std::uint32_t kCapacity = 255;
    std::string buffer(kCapacity, ' ');
    std::uint32_t size = kCapacity;
    if (binding == nullptr || binding(buffer.data(), &size) == 0) return {};
    // The size counts the terminating null. Anything outside 1..capacity was
    // not set by a well-behaved call, so it is not used to index the buffer.
    if (size == 0 || size > kCapacity) return {};
    // Convert the bytes the call wrote, not a count of characters: a
    // multi-byte name has fewer characters than bytes.
    return SystemCodePageToUtf16(std::string_view(buffer.data(), size - 1));
}

}  // namespace vindrel
