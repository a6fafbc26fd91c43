// One message session of the receiving side (RFC 1002 session service and
// the SMB message commands), fed the bytes of one TCP connection and giving
// back the bytes to write. It owns no socket and reads no clock: the app
// enforces the frame and session times (server_limits.h), restarting the
// frame time whenever frames() grows.
//
// A finished message is handed over with TakeMessage(), and its reply is
// held back until the owner says with Stored() whether the message was kept:
// nothing is answered as delivered that was not kept.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "netbios/codec/nb_name.h"
#include "netbios/codec/session_frame.h"
#include "netbios/codec/smb_message.h"
#include "netbios/codec/wire.h"
#include "netbios/server/server_limits.h"

namespace vindrel::netbios {

// A message as it arrived: OEM bytes in the sender's DOS code page, for the
// owner to convert and clean.
struct ReceivedMessage {
    RawName called{};         // the session's called name
    RawName calling{};
    std::string originator;   // at most kMaxMessageName bytes, no NUL
    std::string destination;  // at most kMaxMessageName bytes, no NUL
    std::string text;         // at most kMaxMessageText bytes
};

// Why a session is closing; kNone while it is open or after a clean end.
enum class SessionFault {
    kNone,
    kBadFrame,              // a frame header with unknown flags, or a frame type out of place
    kFrameTooLarge,         // announced more than kMaxRequestFrame
    kBadSessionRequest,     // not two plain encoded names
    kCalledNameNotPresent,  // called a name that is not one of ours
    kTooManyKeepAlives,
    kTooManyRequests,
    kNotSmb,                // a session message that is not an SMB request
    kUnsupportedCommand,
    kOutOfOrder,            // text or end without a start, a second start, a wrong group
    kBadCommand,            // a message command of the wrong shape
    kNameTooLong,           // originator or destination over kMaxMessageName
    kMessageTooLong,        // text over kMaxMessageText
    kNotStored,             // the owner could not keep the message
    kTooMuchInput,          // more sent while a reply was held back than one frame
};

// Plain words for a fault, for the log.
const char* Describe(SessionFault fault);

class MessageSession {
public:
    // True when `called` is one of our messenger names.
    using NameCheck = std::function<bool(const RawName& called)>;

    explicit MessageSession(NameCheck is_our_name);

    // Bytes as they arrived, split anywhere. Ignored once closing().
    void OnBytes(ByteView data);
    // What to write to the peer now.
    Bytes TakeOutput();

    // A whole message, handed over once; its reply waits for Stored().
    std::optional<ReceivedMessage> TakeMessage();
    // Whether the message taken was kept; `false` answers with an SMB error
    // and closes the session.
    void Stored(bool ok);

    // No more input is wanted: write what TakeOutput() gives, then close.
    bool closing() const { return closing_; }
    SessionFault fault() const { return fault_; }
    // A message is with the owner and its reply is held back; the frame
    // time does not run meanwhile.
    bool awaiting_store() const { return awaiting_store_; }
    // Frames read whole so far (keep-alives included), and the keep-alives
    // among them.
    std::uint64_t frames() const { return frames_; }
    int keep_alives() const { return keepalives_; }
    // A multi-block message is started and not yet ended.
    bool in_message() const { return started_; }

    // The negative session response the app sends, instead of starting a
    // session, when a limit of sessions is reached.
    static Bytes InsufficientResources();

private:
    enum class Phase { kAwaitingRequest, kOpen };

    void Process();
    void OnFrame(std::uint8_t type, ByteView body);
    void OnSessionRequest(ByteView body);
    void OnSmb(ByteView message);
    void OnSendStart(const SmbRequest& request);
    void OnSendText(const SmbRequest& request);
    void OnSendEnd(const SmbRequest& request);
    void OnSendMessage(const SmbRequest& request);
    bool TakeNames(ByteView originator, ByteView destination);
    void Complete(const SmbHeader& request);
    // Answers `request` with a server-class error `code` and closes.
    void Refuse(const SmbHeader& request, SessionFault fault, std::uint16_t code);
    void Close(SessionFault fault);
    void Write(const Bytes& frame);

    NameCheck is_our_name_;
    Bytes input_, output_;
    Phase phase_ = Phase::kAwaitingRequest;
    bool closing_ = false;
    bool awaiting_store_ = false;
    SessionFault fault_ = SessionFault::kNone;
    std::uint64_t frames_ = 0;
    int keepalives_ = 0;
    int requests_ = 0;

    // The message being put together, and the request whose reply waits for
    // Stored().
    bool started_ = false;
    std::uint16_t group_ = 0;
    std::uint16_t next_group_ = 1;
    ReceivedMessage message_;
    std::optional<ReceivedMessage> ready_;
    SmbHeader held_reply_;
};

}  // namespace vindrel::netbios
