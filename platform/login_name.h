// The login name of the user running the program.
#pragma once

#include <string>

namespace vindrel {

// Looked up afresh on every call. Empty when the system cannot say, so the
// caller always has a string to use.
//
// Each platform links exactly one definition.
std::u16string GetLoginName();

}  // namespace vindrel
