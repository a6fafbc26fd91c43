// The session request and the message commands that deliver one text.
#include "netbios/client/delivery.h"

#include <algorithm>
#include <optional>

#include "netbios/client/frame_stream.h"
#include "netbios/codec/smb_message.h"

namespace vindrel::netbios {
namespace {

// One message command and its reply; the accepted reply, or none.
std::optional<SmbReply> Exchange(SessionStream& session, const Bytes& message,
                                 std::uint8_t command, std::uint16_t mid, net::Deadline deadline)
{
    FrameHeader frame;
    Bytes body;
    // An empty message is one its builder refused to build.
    if (message.empty() || !session.Write(FrameSessionMessage(message), deadline) ||
        session.ReadFrame(frame, body, deadline) != FrameRead::kFrame ||
        frame.type != kSessionMessage)
        return std::nullopt;
    const SmbReply reply = JudgeSmbReply(body, command, mid);
    if (reply.verdict != SmbVerdict::kAccepted) return std::nullopt;
    return reply;
}

}  // namespace

SendOutcome::Result Deliver(net::Network& network, net::Ipv4 address, const RawName& called,
                            const Sender& sender, const std::string& text,
                            const ClientLimits& limits, net::Deadline deadline)
{
    const auto start = net::Clock::now();
    deadline = std::min(deadline, start + limits.delivery);
    auto stream = network.Connect(address, kSessionPort, std::min(deadline, start + limits.connect));
    if (!stream) return SendOutcome::Result::kNoConnection;
    SessionStream session(std::move(stream), limits.keepalives_per_reply);

    FrameHeader frame;
    Bytes body;
    if (!session.Write(BuildSessionRequest(called, sender.calling), deadline))
        return SendOutcome::Result::kNoSessionReply;
    switch (session.ReadFrame(frame, body, deadline)) {
    case FrameRead::kFrame: break;
    case FrameRead::kEnded:
    case FrameRead::kTooManyKeepAlives: return SendOutcome::Result::kNoSessionReply;
    case FrameRead::kMalformed:
    case FrameRead::kTooLarge: return SendOutcome::Result::kSessionRefused;
    }
    switch (JudgeSessionReply(frame, body)) {
    case SessionVerdict::kPositive: break;
    case SessionVerdict::kCalledNameNotPresent: return SendOutcome::Result::kNameNotFound;
    case SessionVerdict::kRefused:
    case SessionVerdict::kMalformed: return SendOutcome::Result::kSessionRefused;
    }

    // From here on the host has taken the session; whatever goes wrong now
    // is a message that was sent but not received.
    std::uint16_t mid = 1;
    const auto started = Exchange(
        session, BuildSendStart(mid, sender.originator, NameText(called)), kSendStartMb, mid,
        deadline);
    if (!started) return SendOutcome::Result::kNotReceived;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t at = 0; at < text.size(); at += kMaxTextBlock) {
        ++mid;
        const ByteView block(bytes + at, std::min(kMaxTextBlock, text.size() - at));
        if (!Exchange(session, BuildSendText(mid, started->group, block), kSendTextMb, mid,
                      deadline))
            return SendOutcome::Result::kNotReceived;
    }
    ++mid;
    if (!Exchange(session, BuildSendEnd(mid, started->group), kSendEndMb, mid, deadline))
        return SendOutcome::Result::kNotReceived;
    return SendOutcome::Result::kDelivered;
}

}  // namespace vindrel::netbios
