// SMB message command packets.
#include "netbios/codec/smb_message.h"

#include <algorithm>

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

// --- the receiving side ------------------------------------------------------

namespace vindrel::netbios {
namespace {

// A buffer-format string: the format byte, then bytes up to a NUL that must
// lie inside what arrived.
bool ReadString(Reader& in, ByteView& text)
{
    Reader probe = in;
    std::uint8_t format = 0;
    if (!probe.U8(format) || format != kBufferFormatString) return false;
    ByteView rest;
    probe.Take(probe.remaining(), rest);
    const auto nul = std::find(rest.begin(), rest.end(), std::uint8_t{0});
    if (nul == rest.end()) return false;
    text = rest.first(static_cast<std::size_t>(nul - rest.begin()));
    Reader after = in;
    after.Skip(1 + text.size() + 1);
    in = after;
    return true;
}

bool ReadDataBlock(Reader& in, ByteView& block)
{
    Reader probe = in;
    std::uint8_t format = 0;
    std::uint16_t length = 0;
    if (!probe.U8(format) || format != kBufferFormatDataBlock || !probe.U16le(length) ||
        !probe.Take(length, block))
        return false;
    in = probe;
    return true;
}

Bytes BuildReply(const SmbHeader& request, const std::uint8_t status[4],
                 std::span<const std::uint16_t> words)
{
    Writer out;
    const std::uint8_t magic[] = {0xFF, 'S', 'M', 'B'};
    out.Append(magic);
    out.U8(request.command);
    out.Append(ByteView(status, 4));
    out.U8(kFlagsReply);
    out.U16le(0);  // flags2: 8-bit strings and DOS error codes, whatever was asked
    out.U16le(0);  // PID high
    out.Fill(0, 8);
    out.U16le(0);
    out.U16le(request.tid);
    out.U16le(request.pid);
    out.U16le(request.uid);
    out.U16le(request.mid);
    out.U8(static_cast<std::uint8_t>(words.size()));
    for (const std::uint16_t w : words) out.U16le(w);
    out.U16le(0);  // byte count
    return out.Take();
}

}  // namespace

SmbParse ParseSmbRequest(ByteView message, SmbRequest& request)
{
    Reader in(message);
    ByteView magic;
    SmbRequest r;
    std::uint8_t word_count = 0;
    std::uint16_t byte_count = 0;
    if (!in.Take(4, magic) || magic[0] != 0xFF || magic[1] != 'S' || magic[2] != 'M' ||
        magic[3] != 'B' || !in.U8(r.header.command) || !in.Skip(4) || !in.U8(r.header.flags) ||
        !in.U16le(r.header.flags2) || !in.Skip(2 + 8 + 2) || !in.U16le(r.header.tid) ||
        !in.U16le(r.header.pid) || !in.U16le(r.header.uid) || !in.U16le(r.header.mid))
        return SmbParse::kNotSmb;
    // From here on the header is known, so that a refusal can answer it.
    request.header = r.header;
    if (r.header.flags & kFlagsReply) return SmbParse::kNotRequest;
    if (!in.U8(word_count) || !in.Take(std::size_t{word_count} * 2, r.words) ||
        !in.U16le(byte_count) || !in.Take(byte_count, r.bytes) || in.remaining() != 0)
        return SmbParse::kBadCounts;
    request = r;
    return SmbParse::kOk;
}

Bytes BuildSmbReply(const SmbHeader& request, std::span<const std::uint16_t> words)
{
    const std::uint8_t ok[4] = {};
    return BuildReply(request, ok, words);
}

Bytes BuildSmbError(const SmbHeader& request, SmbErrorClass error_class, std::uint16_t code)
{
    const std::uint8_t status[4] = {static_cast<std::uint8_t>(error_class), 0,
                                    static_cast<std::uint8_t>(code),
                                    static_cast<std::uint8_t>(code >> 8)};
    return BuildReply(request, status, {});
}

bool ParseSendStart(const SmbRequest& request, SendStart& out)
{
    Reader in(request.bytes);
    SendStart start;
    if (!request.words.empty() || !ReadString(in, start.originator) ||
        !ReadString(in, start.destination) || in.remaining() != 0)
        return false;
    out = start;
    return true;
}

bool ParseSendText(const SmbRequest& request, std::uint16_t& group, ByteView& block)
{
    Reader words(request.words), in(request.bytes);
    std::uint16_t g = 0;
    ByteView b;
    if (request.words.size() != 2 || !words.U16le(g) || !ReadDataBlock(in, b) ||
        in.remaining() != 0)
        return false;
    group = g;
    block = b;
    return true;
}

bool ParseSendEnd(const SmbRequest& request, std::uint16_t& group)
{
    Reader words(request.words);
    return request.words.size() == 2 && request.bytes.empty() && words.U16le(group);
}

bool ParseSendMessage(const SmbRequest& request, SendMessage& out)
{
    Reader in(request.bytes);
    SendMessage message;
    if (!request.words.empty() || !ReadString(in, message.originator) ||
        !ReadString(in, message.destination) || !ReadDataBlock(in, message.text) ||
        in.remaining() != 0)
        return false;
    out = message;
    return true;
}

Bytes BuildSendMessage(std::uint16_t mid, std::string_view originator,
                       std::string_view destination, ByteView text)
{
    Writer out;
    WriteHeader(out, kSendMessage, mid);
    out.U8(0);
    const std::size_t byte_count = out.Reserve16();
    WriteString(out, originator);
    WriteString(out, destination);
    out.U8(kBufferFormatDataBlock);
    out.U16le(static_cast<std::uint16_t>(text.size()));
    out.Append(text);
    out.Patch16le(byte_count, static_cast<std::uint16_t>(out.size() - byte_count - 2));
    return out.Take();
}

}  // namespace vindrel::netbios
