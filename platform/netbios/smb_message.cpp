// SMB message command packets.
#include "platform/netbios/smb_message.h"

namespace vindrel::netbios {
namespace {

constexpr std::uint8_t kFlagsReply = 0x80;
constexpr std::uint8_t kBufferFormatDataBlock = 0x01;
constexpr std::uint8_t kBufferFormatString = 0x04;
constexpr std::uint16_t kProcessId = 0xFEFF;

// The 32-byte header: no session, no tree, 8-bit strings and DOS error
// codes, as the messenger commands predate all of them.
void WriteHeader(Writer& out, std::uint8_t command, std::uint16_t mid)
{
    const std::uint8_t magic[] = {0xFF, 'S', 'M', 'B'};
    out.Append(magic);
    out.U8(command);
    out.Fill(0, 4);   // status
    out.U8(0);        // flags
    out.U16le(0);     // flags2
    out.U16le(0);     // PID high
    out.Fill(0, 8);   // security features
    out.U16le(0);     // reserved
    out.U16le(0);     // TID
    out.U16le(kProcessId);
    out.U16le(0);     // UID
    out.U16le(mid);
}

void WriteString(Writer& out, std::string_view text)
{
    out.U8(kBufferFormatString);
    out.Append(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    out.U8(0);
}

}  // namespace

Bytes BuildSendStart(std::uint16_t mid, std::string_view originator,
                     std::string_view destination)
{
    Writer out;
    WriteHeader(out, kSendStartMb, mid);
    out.U8(0);  // word count
    const std::size_t byte_count = out.Reserve16();
    WriteString(out, originator);
    WriteString(out, destination);
    out.Patch16le(byte_count, static_cast<std::uint16_t>(out.size() - byte_count - 2));
    return out.Take();
}

Bytes BuildSendText(std::uint16_t mid, std::uint16_t group, ByteView block)
{
    Writer out;
    WriteHeader(out, kSendTextMb, mid);
    out.U8(1);
    out.U16le(group);
    const std::size_t byte_count = out.Reserve16();
    out.U8(kBufferFormatDataBlock);
    out.U16le(static_cast<std::uint16_t>(block.size()));
    out.Append(block);
    out.Patch16le(byte_count, static_cast<std::uint16_t>(out.size() - byte_count - 2));
    return out.Take();
}

Bytes BuildSendEnd(std::uint16_t mid, std::uint16_t group)
{
    Writer out;
    WriteHeader(out, kSendEndMb, mid);
    out.U8(1);
    out.U16le(group);
    out.U16le(0);
    return out.Take();
}

SmbReply JudgeSmbReply(ByteView message, std::uint8_t command, std::uint16_t mid)
{
    Reader in(message);
    ByteView magic;
    std::uint8_t got_command = 0, flags = 0, word_count = 0;
    std::uint16_t got_mid = 0, byte_count = 0;
    std::uint32_t status = 0;
    ByteView status_bytes, words, bytes;
    if (!in.Take(4, magic) || magic[0] != 0xFF || magic[1] != 'S' || magic[2] != 'M' ||
        magic[3] != 'B' || !in.U8(got_command) || !in.Take(4, status_bytes) || !in.U8(flags) ||
        !in.Skip(2 + 2 + 8 + 2 + 2 + 2 + 2) || !in.U16le(got_mid))
        return {};
    if (got_command != command || !(flags & kFlagsReply) || got_mid != mid) return {};
    for (std::size_t i = 0; i < 4; ++i) status |= std::uint32_t{status_bytes[i]} << (8 * i);
    // An error reply may come with no words at all; its status is the news.
    if (status != 0) return {SmbVerdict::kRefused, status, 0};
    if (!in.U8(word_count) || !in.Take(std::size_t{word_count} * 2, words) ||
        !in.U16le(byte_count) || !in.Take(byte_count, bytes))
        return {};
    SmbReply reply{SmbVerdict::kAccepted, 0, 0};
    // Samba answers a start without the group id (no words at all) and
    // keeps no groups; group 0 then stands for "the message in progress".
    if (command == kSendStartMb && word_count >= 1) Reader(words).U16le(reply.group);
    return reply;
}

}  // namespace vindrel::netbios

namespace vindrel::netbios {

SmbParse ParseSmbRequest(ByteView, SmbRequest&) { return SmbParse::kNotSmb; }
Bytes BuildSmbReply(const SmbHeader&, std::span<const std::uint16_t>) { return {}; }
Bytes BuildSmbError(const SmbHeader&, SmbErrorClass, std::uint16_t) { return {}; }
bool ParseSendStart(const SmbRequest&, SendStart&) { return false; }
bool ParseSendText(const SmbRequest&, std::uint16_t&, ByteView&) { return false; }
bool ParseSendEnd(const SmbRequest&, std::uint16_t&) { return false; }
bool ParseSendMessage(const SmbRequest&, SendMessage&) { return false; }
Bytes BuildSendMessage(std::uint16_t, std::string_view, std::string_view, ByteView) { return {}; }

}  // namespace vindrel::netbios
