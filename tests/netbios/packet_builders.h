// Packets only the tests send (the receiving side reads them, but nothing of
// ours builds them), and readings only the tests make.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "netbios/codec/name_service.h"
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

// The first messenger name of a node: its computer name.
inline std::optional<RawName> FirstMessengerName(const std::vector<NodeName>& names)
{
    for (const NodeName& entry : names)
        if (IsMessengerName(entry)) return entry.name;
    return std::nullopt;
}

}  // namespace vindrel::netbios
