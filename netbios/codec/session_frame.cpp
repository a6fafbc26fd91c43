// NetBIOS session frames: one writer for every frame either end sends, one
// reader for every frame header either end receives.
#include "netbios/codec/session_frame.h"

namespace vindrel::netbios {
namespace {

// Sixteen bits of length and the extension bit in the flags byte.
constexpr std::size_t kMaxFrameBody = 0x1FFFF;

// Nothing when the body is longer than the header can say.
Bytes Frame(std::uint8_t type, ByteView body = {})
{
    if (body.size() > kMaxFrameBody) return {};
    Writer out;
    out.U8(type);
    out.U8(static_cast<std::uint8_t>(body.size() >> 16));
    out.U16be(static_cast<std::uint16_t>(body.size()));
    out.Append(body);
    return out.Take();
}

}  // namespace

bool ParseFrameHeader(ByteView header, FrameHeader& frame)
{
    Reader in(header);
    std::uint8_t type = 0, flags = 0;
    std::uint16_t length = 0;
    if (!in.U8(type) || !in.U8(flags) || !in.U16be(length) || (flags & 0xFE) != 0) return false;
    frame.type = type;
    frame.length = (std::uint32_t{flags} & 1) << 16 | length;
    return true;
}

Bytes FrameSessionMessage(ByteView body) { return Frame(kSessionMessage, body); }

Bytes BuildSessionRequest(const RawName& called, const RawName& calling)
{
    Writer names;
    EncodeName(called, names);
    EncodeName(calling, names);
    return Frame(kSessionRequest, names.Take());
}

SessionVerdict JudgeSessionReply(const FrameHeader& frame, ByteView body)
{
    if (body.size() != frame.length) return SessionVerdict::kMalformed;
    switch (frame.type) {
    case kPositiveResponse:
        return frame.length == 0 ? SessionVerdict::kPositive : SessionVerdict::kMalformed;
    case kNegativeResponse:
        if (frame.length != 1) return SessionVerdict::kMalformed;
        return body[0] == static_cast<std::uint8_t>(SessionRefusal::kCalledNameNotPresent)
                   ? SessionVerdict::kCalledNameNotPresent
                   : SessionVerdict::kRefused;
    case kRetargetResponse:
        // Following a retarget would mean trusting an address from the
        // wire; the host is there, but not for us.
        return frame.length == 6 ? SessionVerdict::kRefused : SessionVerdict::kMalformed;
    default:
        return SessionVerdict::kMalformed;
    }
}

}  // namespace vindrel::netbios

// --- the receiving side ------------------------------------------------------

namespace vindrel::netbios {

bool ParseSessionRequest(ByteView body, RawName& called, RawName& calling)
{
    Reader in(body);
    RawName a, b;
    if (!DecodeName(in, a) || !DecodeName(in, b) || in.remaining() != 0) return false;
    called = a;
    calling = b;
    return true;
}

Bytes BuildPositiveSessionResponse() { return Frame(kPositiveResponse); }

Bytes BuildNegativeSessionResponse(SessionRefusal why)
{
    const std::uint8_t code = static_cast<std::uint8_t>(why);
    return Frame(kNegativeResponse, ByteView(&code, 1));
}

}  // namespace vindrel::netbios
