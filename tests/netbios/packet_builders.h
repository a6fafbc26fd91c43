// Packets only the tests send: the receiving side reads them, but nothing of
// ours builds them.
#pragma once

#include <cstdint>
#include <string_view>

#include "netbios/codec/smb_message.h"

namespace vindrel::netbios {

// The single-block send, as older senders build it.
inline Bytes BuildSendMessage(std::uint16_t mid, std::string_view originator,
                              std::string_view destination, ByteView text)
{
    Writer bytes;
    WriteSmbString(bytes, originator);
    WriteSmbString(bytes, destination);
    WriteDataBlock(bytes, text);
    return BuildSmb({.command = kSendMessage, .pid = 0xFEFF, .mid = mid}, {}, bytes);
}

}  // namespace vindrel::netbios
