// Who a reply goes to: the sender's name taken whole as one NetBIOS name.
// Any peer chooses its own sender name, so a name that would reach anyone
// else ("*", several names joined by ";") or none at all gets no reply.
// The reply box, the quick reply and the Reply buttons all ask here.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace vindrel {

namespace net {
class CodePage;
}

// Why a sender's name cannot be replied to.
enum class ReplyRefusal {
    kNone,
    kNoName,          // empty, or only spaces
    kEveryone,        // "*" asks every computer on the LAN
    kSeveralNames,    // a ";" would make it a list of recipients
    kControl,         // control characters name no computer
    kTooLong,         // over 15 bytes in the LAN's code page
    kNotInCodePage,   // a character the LAN's code page lacks
};

// The recipient for a reply to `from`, trimmed of spaces as any recipient
// is; why there is none in `refusal`, and then the result is empty.
std::u16string ReplyRecipient(std::u16string_view from, ReplyRefusal& refusal,
                              const net::CodePage& code_page);
// As above, in the LAN's code page (the Samba configuration's, CP850 unless
// it names another).
std::u16string ReplyRecipient(std::u16string_view from, ReplyRefusal& refusal);

// Only the refusal, for a message from `from`.
ReplyRefusal ReplyRefusalFor(const QString& from);

// The refusal in the words shown where Reply would be; empty for kNone.
QString ReplyRefusalText(ReplyRefusal refusal);

}  // namespace vindrel
