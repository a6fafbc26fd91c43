// The login name of the user running the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vindrel {

// Shaped like the system call it stands for: `buffer` holds 8-bit characters
// in the system code page; `*size` is the capacity on entry and, on success,
// the count written including the terminating null. Nonzero on success.
using GetUserNameAFn = int (*)(char* buffer, std::uint32_t* size);

// This platform's binding (the real system call on Windows, the password
// database on POSIX).
int GetUserNameA(char* buffer, std::uint32_t* size);

// Converts text in the system's 8-bit code page to UTF-16. Each platform
// supplies it (UTF-8 on POSIX, the ANSI code page on Windows).
std::u16string SystemCodePageToUtf16(std::string_view text);

// Looks the name up afresh through `binding` on every call. Answers an empty
// string when the binding fails, so the caller always has a string to use.
std::u16string GetLoginName(GetUserNameAFn binding = &GetUserNameA);

}  // namespace vindrel
