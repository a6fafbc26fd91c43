// NetBIOS session frames.
#include "netbios/codec/session_frame.h"

namespace vindrel::netbios {

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

Bytes FrameSessionMessage(ByteView body)
{
    Writer out;
    out.U8(kSessionMessage);
    out.U8(static_cast<std::uint8_t>((body.size() >> 16) & 1));
    out.U16be(static_cast<std::uint16_t>(body.size()));
    out.Append(body);
    return out.Take();
}

Bytes BuildSessionRequest(const RawName& called, const RawName& calling)
{
    Writer out;
    out.U8(kSessionRequest);
    out.U8(0);
    const std::size_t length = out.Reserve16();
    EncodeName(called, out);
    EncodeName(calling, out);
    out.Patch16be(length, static_cast<std::uint16_t>(out.size() - kFrameHeaderSize));
    return out.Take();
}

SessionVerdict JudgeSessionReply(const FrameHeader& frame, ByteView body)
{
    if (body.size() != frame.length) return SessionVerdict::kMalformed;
    switch (frame.type) {
    case kPositiveResponse:
        return frame.length == 0 ? SessionVerdict::kPositive : SessionVerdict::kMalformed;
    case kNegativeResponse: {
        if (frame.length != 1) return SessionVerdict::kMalformed;
        constexpr std::uint8_t kCalledNameNotPresent = 0x82;
        return body[0] == kCalledNameNotPresent ? SessionVerdict::kCalledNameNotPresent
                                                : SessionVerdict::kRefused;
    }
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

namespace {

Bytes Frame(std::uint8_t type, ByteView body = {})
{
    Writer out;
    out.U8(type);
    out.U8(0);
    out.U16be(static_cast<std::uint16_t>(body.size()));
    out.Append(body);
    return out.Take();
}

}  // namespace

Bytes BuildPositiveSessionResponse() { return Frame(kPositiveResponse); }

Bytes BuildNegativeSessionResponse(SessionRefusal why)
{
    const std::uint8_t code = static_cast<std::uint8_t>(why);
    return Frame(kNegativeResponse, ByteView(&code, 1));
}

Bytes BuildKeepAlive() { return Frame(kKeepAlive); }

}  // namespace vindrel::netbios
