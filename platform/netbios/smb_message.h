// The SMB multi-block message commands that carry a message to a host's
// messenger: start (originator, destination), text blocks, end. The
// single-block command is not used: a Samba server drops a connection whose
// first request it is.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/netbios/wire.h"

namespace vindrel::netbios {

inline constexpr std::uint8_t kSendStartMb = 0xD5;
inline constexpr std::uint8_t kSendEndMb = 0xD6;
inline constexpr std::uint8_t kSendTextMb = 0xD7;
inline constexpr std::size_t kMaxTextBlock = 128;

// The SMB messages alone, without the session frame. Strings are OEM bytes
// and must hold no NUL; a text block is at most kMaxTextBlock bytes.
Bytes BuildSendStart(std::uint16_t mid, std::string_view originator,
                     std::string_view destination);
Bytes BuildSendText(std::uint16_t mid, std::uint16_t group, ByteView block);
Bytes BuildSendEnd(std::uint16_t mid, std::uint16_t group);

enum class SmbVerdict {
    kAccepted,
    kRefused,    // a well-formed reply with an error status
    kMalformed,  // not a reply to this request at all
};

struct SmbReply {
    SmbVerdict verdict = SmbVerdict::kMalformed;
    std::uint32_t status = 0;  // as it came, for diagnostics
    std::uint16_t group = 0;   // the message group id of a start reply
};

// Judges the SMB message of a session frame against the request it answers.
SmbReply JudgeSmbReply(ByteView message, std::uint8_t command, std::uint16_t mid);

}  // namespace vindrel::netbios
