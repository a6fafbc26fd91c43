// The NetBIOS session service (RFC 1002, section 4.3): the 4-byte frame
// header, the session request and the judgement of its reply, and for the
// receiving side the reading of a request and the building of the answers.
// A frame whose body is longer than its header can say is not built: the
// builders give nothing instead.
#pragma once

#include <cstdint>

#include "netbios/codec/nb_name.h"
#include "netbios/codec/wire.h"

namespace vindrel::netbios {

inline constexpr std::uint16_t kSessionPort = 139;

inline constexpr std::uint8_t kSessionMessage = 0x00;
inline constexpr std::uint8_t kSessionRequest = 0x81;
inline constexpr std::uint8_t kPositiveResponse = 0x82;
inline constexpr std::uint8_t kNegativeResponse = 0x83;
inline constexpr std::uint8_t kRetargetResponse = 0x84;
inline constexpr std::uint8_t kKeepAlive = 0x85;

inline constexpr std::size_t kFrameHeaderSize = 4;
// Every reply this client waits for is a few dozen bytes; a frame announced
// larger than this is not one of them and is not buffered.
inline constexpr std::uint32_t kMaxReplyFrame = 4096;

struct FrameHeader {
    std::uint8_t type = 0;
    std::uint32_t length = 0;  // of the body that follows
};

// False when the flags byte has bits other than the length extension set.
bool ParseFrameHeader(ByteView header, FrameHeader& frame);

// Wraps an SMB message in a session message frame.
Bytes FrameSessionMessage(ByteView body);

Bytes BuildSessionRequest(const RawName& called, const RawName& calling);

enum class SessionVerdict {
    kPositive,
    kCalledNameNotPresent,  // the host is there but does not hold the name
    kRefused,               // any other negative answer, or a retarget
    kMalformed,
};

// `body` is the frame's body, already read in full.
SessionVerdict JudgeSessionReply(const FrameHeader& frame, ByteView body);

// The reasons of a negative session response.
enum class SessionRefusal : std::uint8_t {
    kNotListeningOnCalledName = 0x80,
    kNotListeningForCallingName = 0x81,
    kCalledNameNotPresent = 0x82,
    kInsufficientResources = 0x83,
    kUnspecified = 0x8F,
};

// --- the receiving side --------------------------------------------------------

// The called and calling names of a session request's body (the frame's
// body, its header already read); false when it is not exactly two plain
// encoded names.
bool ParseSessionRequest(ByteView body, RawName& called, RawName& calling);

Bytes BuildPositiveSessionResponse();
Bytes BuildNegativeSessionResponse(SessionRefusal why);

}  // namespace vindrel::netbios
