// The LAN's DOS code page through the C library's iconv, as Samba's
// `dos charset` names it.
#pragma once

#include <memory>
#include <string_view>

#include "platform/network.h"

namespace vindrel::net {

// The code page `charset` names (CP850, CP866, CP852, ...). The built-in
// CP850 when `charset` is empty or iconv does not know it.
std::shared_ptr<const CodePage> MakeIconvCodePage(std::string_view charset);

}  // namespace vindrel::net
