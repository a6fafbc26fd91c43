// The SMB message commands that carry a message to a host's messenger: the
// multi-block start (originator, destination), text blocks and end, and the
// single-block send. The client sends only the multi-block form: a Samba
// server drops a connection whose first request is the single block. The
// receiving side reads both and builds the replies. Both ends read and write
// the header and the counts through one pair of functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "netbios/codec/wire.h"

namespace vindrel::netbios {

inline constexpr std::uint8_t kSendMessage = 0xD0;
inline constexpr std::uint8_t kSendStartMb = 0xD5;
inline constexpr std::uint8_t kSendEndMb = 0xD6;
inline constexpr std::uint8_t kSendTextMb = 0xD7;
inline constexpr std::size_t kMaxTextBlock = 128;

// The header fields either end sets or reads; the rest go out as zeros. The
// messenger commands predate sessions, trees, Unicode and NT status codes.
struct SmbHeader {
    std::uint8_t command = 0;
    std::uint32_t status = 0;  // DOS error class in the low byte, its code in the high half
    std::uint8_t flags = 0;
    std::uint16_t flags2 = 0;
    std::uint16_t tid = 0;
    std::uint16_t pid = 0;
    std::uint16_t uid = 0;
    std::uint16_t mid = 0;
};

// A whole message: the header, the parameter words and the data bytes with
// their counts; empty when a count does not fit its field.
Bytes BuildSmb(const SmbHeader& header, std::span<const std::uint16_t> words = {},
               const Writer& bytes = Writer{});

// The SMB messages alone, without the session frame. Strings are OEM bytes
// and must hold no NUL; a text block is at most kMaxTextBlock bytes.
Bytes BuildSendStart(std::uint16_t mid, std::string_view originator,
                     std::string_view destination);
Bytes BuildSendText(std::uint16_t mid, std::uint16_t group, ByteView block);
Bytes BuildSendEnd(std::uint16_t mid, std::uint16_t group);

// The parts of the data bytes: a NUL-terminated string, a counted block.
void WriteSmbString(Writer& out, std::string_view text);
void WriteDataBlock(Writer& out, ByteView block);

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

// --- the receiving side --------------------------------------------------------

// A request: header, parameter words and data bytes, both checked against
// what arrived (views into the message).
struct SmbRequest {
    SmbHeader header;
    ByteView words;  // word count * 2 bytes
    ByteView bytes;
};

enum class SmbParse {
    kOk,
    kNotSmb,      // no SMB magic, or cut inside the header
    kNotRequest,  // the reply flag is set
    kBadCounts,   // word or byte count beyond what arrived, or bytes left over
};

// `request.header` is filled in whenever the header was read whole, so that
// kNotRequest and kBadCounts can be answered with an error.
SmbParse ParseSmbRequest(ByteView message, SmbRequest& request);

// The DOS error classes and the codes the receiving side answers with.
enum class SmbErrorClass : std::uint8_t { kDos = 0x01, kServer = 0x02 };
inline constexpr std::uint16_t kErrSrvError = 1;    // not a valid request
inline constexpr std::uint16_t kErrSrvSmbCmd = 64;  // unrecognised command
inline constexpr std::uint16_t kErrSrvNoRoom = 83;  // no room for the message

// A success reply to `request` with the given words and no data bytes.
Bytes BuildSmbReply(const SmbHeader& request, std::span<const std::uint16_t> words = {});
// An error reply: status set, no words, no bytes.
Bytes BuildSmbError(const SmbHeader& request, SmbErrorClass error_class, std::uint16_t code);

// The bodies of the message commands. Strings are OEM bytes without their
// terminating NUL; false when the request does not have the command's shape.
struct SendStart {
    ByteView originator, destination;
};
bool ParseSendStart(const SmbRequest& request, SendStart& out);
bool ParseSendText(const SmbRequest& request, std::uint16_t& group, ByteView& block);
bool ParseSendEnd(const SmbRequest& request, std::uint16_t& group);
struct SendMessage {
    ByteView originator, destination, text;
};
bool ParseSendMessage(const SmbRequest& request, SendMessage& out);

}  // namespace vindrel::netbios
