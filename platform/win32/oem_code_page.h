// Names and message texts in a Windows code page, through the system's own
// conversion tables: the OEM code page is what the system's messenger put on
// the wire, and what Samba reads with its `dos charset`.
#pragma once

#include <memory>

#include "platform/network.h"

namespace vindrel::win32 {

// The conversion for `code_page` (a Windows code page number, e.g. 437 or 850).
std::shared_ptr<const net::CodePage> MakeCodePage(unsigned code_page);

// The code page for the LAN: the system's OEM code page, or 850 (Samba's
// default `dos charset`) where the OEM code page is UTF-8, which no DOS
// receiver reads.
unsigned LanCodePage();

}  // namespace vindrel::win32
