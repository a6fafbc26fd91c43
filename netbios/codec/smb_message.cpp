// SMB message command packets.
#include "netbios/codec/smb_message.h"

#include <algorithm>

namespace vindrel::netbios {
namespace {

constexpr std::uint8_t kMagic[] = {0xFF, 'S', 'M', 'B'};
constexpr std::uint8_t kFlagsReply = 0x80;
constexpr std::uint8_t kBufferFormatDataBlock = 0x01;
constexpr std::uint8_t kBufferFormatString = 0x04;
constexpr std::uint16_t kProcessId = 0xFEFF;

// The 32-byte header, as both ends write and read it.
void WriteHeader(Writer& out, const SmbHeader& h)
{
    out.Append(kMagic);
    out.U8(h.command);
    out.U32le(h.status);
    out.U8(h.flags);
    out.U16le(h.flags2);
    out.Fill(0, 2 + 8 + 2);  // PID high, security features, reserved
    out.U16le(h.tid);
    out.U16le(h.pid);
    out.U16le(h.uid);
    out.U16le(h.mid);
}

bool ReadHeader(Reader& in, SmbHeader& h)
{
    ByteView magic;
    return in.Take(sizeof kMagic, magic) && std::equal(magic.begin(), magic.end(), kMagic) &&
           in.U8(h.command) && in.U32le(h.status) && in.U8(h.flags) && in.U16le(h.flags2) &&
           in.Skip(2 + 8 + 2) && in.U16le(h.tid) && in.U16le(h.pid) && in.U16le(h.uid) &&
           in.U16le(h.mid);
}

// The words and bytes after the header, each count checked against what
// arrived.
bool ReadCounts(Reader& in, ByteView& words, ByteView& bytes)
{
    std::uint8_t word_count = 0;
    std::uint16_t byte_count = 0;
    return in.U8(word_count) && in.Take(std::size_t{word_count} * 2, words) &&
           in.U16le(byte_count) && in.Take(byte_count, bytes);
}

// A request of ours: no session, no tree, 8-bit strings and DOS error codes.
SmbHeader Request(std::uint8_t command, std::uint16_t mid)
{
    return {.command = command, .pid = kProcessId, .mid = mid};
}

}  // namespace

Bytes BuildSmb(const SmbHeader& header, std::span<const std::uint16_t> words, const Writer& bytes)
{
    Writer out;
    WriteHeader(out, header);
    out.Count8(words.size());
    for (const std::uint16_t w : words) out.U16le(w);
    const std::size_t byte_count = out.Reserve16();
    out.Append(bytes);
    out.PatchLength16le(byte_count);
    return out.Take();
}

void WriteSmbString(Writer& out, std::string_view text)
{
    out.U8(kBufferFormatString);
    out.Append(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    out.U8(0);
}

void WriteDataBlock(Writer& out, ByteView block)
{
    out.U8(kBufferFormatDataBlock);
    const std::size_t length = out.Reserve16();
    out.Append(block);
    out.PatchLength16le(length);
}

Bytes BuildSendStart(std::uint16_t mid, std::string_view originator,
                     std::string_view destination)
{
    Writer bytes;
    WriteSmbString(bytes, originator);
    WriteSmbString(bytes, destination);
    return BuildSmb(Request(kSendStartMb, mid), {}, bytes);
}

Bytes BuildSendText(std::uint16_t mid, std::uint16_t group, ByteView block)
{
    Writer bytes;
    WriteDataBlock(bytes, block);
    const std::uint16_t words[] = {group};
    return BuildSmb(Request(kSendTextMb, mid), words, bytes);
}

Bytes BuildSendEnd(std::uint16_t mid, std::uint16_t group)
{
    const std::uint16_t words[] = {group};
    return BuildSmb(Request(kSendEndMb, mid), words);
}

SmbReply JudgeSmbReply(ByteView message, std::uint8_t command, std::uint16_t mid)
{
    Reader in(message);
    SmbHeader h;
    if (!ReadHeader(in, h) || h.command != command || !(h.flags & kFlagsReply) || h.mid != mid)
        return {};
    // An error reply may come with no words at all; its status is the news.
    if (h.status != 0) return {SmbVerdict::kRefused, h.status, 0};
    ByteView words, bytes;
    if (!ReadCounts(in, words, bytes)) return {};
    SmbReply reply{SmbVerdict::kAccepted, 0, 0};
    // Samba answers a start without the group id (no words at all) and
    // keeps no groups; group 0 then stands for "the message in progress".
    if (command == kSendStartMb && !words.empty()) Reader(words).U16le(reply.group);
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
    if (!probe.U8(format) || format != kBufferFormatString ||
        !probe.UntilNul(probe.remaining(), text))
        return false;
    in = probe;
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

// A reply echoes the request's header with the reply flag and its own
// status; flags2 says 8-bit strings and DOS error codes, whatever was asked.
Bytes BuildReply(const SmbHeader& request, std::uint32_t status,
                 std::span<const std::uint16_t> words)
{
    SmbHeader reply = request;
    reply.status = status;
    reply.flags = kFlagsReply;
    reply.flags2 = 0;
    return BuildSmb(reply, words);
}

}  // namespace

SmbParse ParseSmbRequest(ByteView message, SmbRequest& request)
{
    Reader in(message);
    SmbRequest r;
    if (!ReadHeader(in, r.header)) return SmbParse::kNotSmb;
    // From here on the header is known, so that a refusal can answer it.
    request.header = r.header;
    if (r.header.flags & kFlagsReply) return SmbParse::kNotRequest;
    if (!ReadCounts(in, r.words, r.bytes) || in.remaining() != 0) return SmbParse::kBadCounts;
    request = r;
    return SmbParse::kOk;
}

Bytes BuildSmbReply(const SmbHeader& request, std::span<const std::uint16_t> words)
{
    return BuildReply(request, 0, words);
}

Bytes BuildSmbError(const SmbHeader& request, SmbErrorClass error_class, std::uint16_t code)
{
    return BuildReply(request, static_cast<std::uint32_t>(error_class) | std::uint32_t{code} << 16,
                      {});
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

}  // namespace vindrel::netbios
