// One message session of the receiving side: the session request, then the
// message commands, each judged against the state they arrive in.
#include "netbios/server/message_session.h"

#include <utility>

namespace vindrel::netbios {

const char* Describe(SessionFault fault)
{
    switch (fault) {
    case SessionFault::kNone: return "no fault";
    case SessionFault::kBadFrame: return "a session frame out of place or malformed";
    case SessionFault::kFrameTooLarge: return "a frame larger than allowed";
    case SessionFault::kBadSessionRequest: return "a malformed session request";
    case SessionFault::kCalledNameNotPresent: return "called a name that is not ours";
    case SessionFault::kTooManyKeepAlives: return "too many keep-alives";
    case SessionFault::kTooManyRequests: return "too many requests in one session";
    case SessionFault::kNotSmb: return "a session message that is not an SMB request";
    case SessionFault::kUnsupportedCommand: return "an SMB command other than the message commands";
    case SessionFault::kOutOfOrder: return "message commands out of order";
    case SessionFault::kBadCommand: return "a malformed message command";
    case SessionFault::kNameTooLong: return "a sender or recipient name too long";
    case SessionFault::kMessageTooLong: return "a message text too long";
    case SessionFault::kNotStored: return "the message could not be kept";
    case SessionFault::kTooMuchInput: return "more input than one frame while a reply was held";
    }
    return "unknown fault";
}

MessageSession::MessageSession(NameCheck is_our_name) : is_our_name_(std::move(is_our_name)) {}

Bytes MessageSession::InsufficientResources()
{
    return BuildNegativeSessionResponse(SessionRefusal::kInsufficientResources);
}

void MessageSession::OnBytes(ByteView data)
{
    if (closing_) return;
    input_.insert(input_.end(), data.begin(), data.end());
    Process();
}

Bytes MessageSession::TakeOutput() { return std::exchange(output_, {}); }

std::optional<ReceivedMessage> MessageSession::TakeMessage() { return std::exchange(ready_, {}); }

void MessageSession::Stored(bool ok)
{
    if (!awaiting_store_ || closing_) return;
    awaiting_store_ = false;
    ready_.reset();
    if (!ok) {
        Refuse(held_reply_, SessionFault::kNotStored, kErrSrvNoRoom);
        return;
    }
    Write(FrameSessionMessage(BuildSmbReply(held_reply_)));
    Process();  // what the peer sent meanwhile
}

// Whole frames, one at a time, until the input runs out, the session closes
// or a reply is held back.
void MessageSession::Process()
{
    std::size_t at = 0;
    while (!closing_ && !awaiting_store_ && input_.size() - at >= kFrameHeaderSize) {
        FrameHeader frame;
        if (!ParseFrameHeader(ByteView(input_).subspan(at, kFrameHeaderSize), frame)) {
            Close(SessionFault::kBadFrame);
            break;
        }
        if (frame.length > kMaxRequestFrame) {
            Close(SessionFault::kFrameTooLarge);
            break;
        }
        if (input_.size() - at - kFrameHeaderSize < frame.length) break;
        const ByteView body = ByteView(input_).subspan(at + kFrameHeaderSize, frame.length);
        at += kFrameHeaderSize + frame.length;
        ++frames_;
        OnFrame(frame.type, body);
    }
    if (closing_) {
        input_.clear();
        return;
    }
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(at));
    // A peer may send its next request before the held reply, but no more.
    if (awaiting_store_ && input_.size() > kFrameHeaderSize + kMaxRequestFrame)
        Close(SessionFault::kTooMuchInput);
}

void MessageSession::OnFrame(std::uint8_t type, ByteView body)
{
    if (type == kKeepAlive) {
        if (!body.empty()) return Close(SessionFault::kBadFrame);
        if (++keepalives_ > kMaxKeepAlives) Close(SessionFault::kTooManyKeepAlives);
        return;
    }
    if (phase_ == Phase::kAwaitingRequest && type == kSessionRequest) return OnSessionRequest(body);
    if (phase_ == Phase::kOpen && type == kSessionMessage) return OnSmb(body);
    Close(SessionFault::kBadFrame);
}

void MessageSession::OnSessionRequest(ByteView body)
{
    RawName called, calling;
    if (!ParseSessionRequest(body, called, calling)) {
        Write(BuildNegativeSessionResponse(SessionRefusal::kUnspecified));
        return Close(SessionFault::kBadSessionRequest);
    }
    if (!is_our_name_(called)) {
        Write(BuildNegativeSessionResponse(SessionRefusal::kCalledNameNotPresent));
        return Close(SessionFault::kCalledNameNotPresent);
    }
    message_.called = called;
    message_.calling = calling;
    phase_ = Phase::kOpen;
    Write(BuildPositiveSessionResponse());
}

void MessageSession::OnSmb(ByteView message)
{
    SmbRequest request;
    switch (ParseSmbRequest(message, request)) {
    case SmbParse::kOk: break;
    case SmbParse::kNotSmb: return Close(SessionFault::kNotSmb);
    case SmbParse::kNotRequest:
        return Refuse(request.header, SessionFault::kNotSmb, kErrSrvError);
    case SmbParse::kBadCounts:
        return Refuse(request.header, SessionFault::kBadCommand, kErrSrvError);
    }
    if (++requests_ > kMaxSmbRequests)
        return Refuse(request.header, SessionFault::kTooManyRequests, kErrSrvError);
    switch (request.header.command) {
    case kSendStartMb: return OnSendStart(request);
    case kSendTextMb: return OnSendText(request);
    case kSendEndMb: return OnSendEnd(request);
    case kSendMessage: return OnSendMessage(request);
    default:
        Refuse(request.header, SessionFault::kUnsupportedCommand, kErrSrvSmbCmd);
    }
}

void MessageSession::OnSendStart(const SmbRequest& request)
{
    SendStart start;
    if (started_)
        return Refuse(request.header, SessionFault::kOutOfOrder, kErrSrvError);
    if (!ParseSendStart(request, start))
        return Refuse(request.header, SessionFault::kBadCommand, kErrSrvError);
    if (!TakeNames(start.originator, start.destination))
        return Refuse(request.header, SessionFault::kNameTooLong, kErrSrvError);
    started_ = true;
    group_ = next_group_++;
    message_.text.clear();
    const std::uint16_t words[] = {group_};
    Write(FrameSessionMessage(BuildSmbReply(request.header, words)));
}

void MessageSession::OnSendText(const SmbRequest& request)
{
    std::uint16_t group = 0;
    ByteView block;
    if (!ParseSendText(request, group, block))
        return Refuse(request.header, SessionFault::kBadCommand, kErrSrvError);
    if (!started_ || group != group_)
        return Refuse(request.header, SessionFault::kOutOfOrder, kErrSrvError);
    if (block.size() > kMaxMessageText - message_.text.size())
        return Refuse(request.header, SessionFault::kMessageTooLong, kErrSrvNoRoom);
    message_.text.append(block.begin(), block.end());
    Write(FrameSessionMessage(BuildSmbReply(request.header)));
}

void MessageSession::OnSendEnd(const SmbRequest& request)
{
    std::uint16_t group = 0;
    if (!ParseSendEnd(request, group))
        return Refuse(request.header, SessionFault::kBadCommand, kErrSrvError);
    if (!started_ || group != group_)
        return Refuse(request.header, SessionFault::kOutOfOrder, kErrSrvError);
    Complete(request.header);
}

void MessageSession::OnSendMessage(const SmbRequest& request)
{
    SendMessage message;
    if (started_)
        return Refuse(request.header, SessionFault::kOutOfOrder, kErrSrvError);
    if (!ParseSendMessage(request, message))
        return Refuse(request.header, SessionFault::kBadCommand, kErrSrvError);
    if (!TakeNames(message.originator, message.destination))
        return Refuse(request.header, SessionFault::kNameTooLong, kErrSrvError);
    if (message.text.size() > kMaxMessageText)
        return Refuse(request.header, SessionFault::kMessageTooLong, kErrSrvNoRoom);
    message_.text.assign(message.text.begin(), message.text.end());
    Complete(request.header);
}

bool MessageSession::TakeNames(ByteView originator, ByteView destination)
{
    if (originator.size() > kMaxMessageName || destination.size() > kMaxMessageName)
        return false;
    message_.originator.assign(originator.begin(), originator.end());
    message_.destination.assign(destination.begin(), destination.end());
    return true;
}

// The message is whole: hand it over and hold its reply until it is kept.
void MessageSession::Complete(const SmbHeader& request)
{
    ready_ = message_;
    held_reply_ = request;
    awaiting_store_ = true;
    started_ = false;
    message_.text.clear();
}

void MessageSession::Refuse(const SmbHeader& request, SessionFault fault, std::uint16_t code)
{
    Write(FrameSessionMessage(BuildSmbError(request, SmbErrorClass::kServer, code)));
    Close(fault);
}

void MessageSession::Close(SessionFault fault)
{
    closing_ = true;
    fault_ = fault;
    ready_.reset();
    awaiting_store_ = false;
}

void MessageSession::Write(const Bytes& frame)
{
    output_.insert(output_.end(), frame.begin(), frame.end());
}

}  // namespace vindrel::netbios
