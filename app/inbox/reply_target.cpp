// The one rule for a reply's recipient.
#include "app/inbox/reply_target.h"

#include <memory>

#include "core/dispatch.h"
#include "netbios/client/messenger_client.h"
#include "netbios/codec/nb_name.h"
#include "platform/cp850.h"
#include "platform/network.h"
#include "samba/samba_config.h"

namespace vindrel {

std::u16string ReplyRecipient(std::u16string_view from, ReplyRefusal& refusal,
                              const net::CodePage& code_page)
{
    std::u16string name = TrimName(from);
    refusal = ReplyRefusal::kNone;
    std::u16string upper = name;
    for (char16_t& c : upper) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) refusal = ReplyRefusal::kControl;
        if (c == u';') refusal = ReplyRefusal::kSeveralNames;
        c = ToUpperName(c);
    }
    if (name.empty()) refusal = ReplyRefusal::kNoName;
    if (name == u"*") refusal = ReplyRefusal::kEveryone;
    if (refusal == ReplyRefusal::kNone) {
        const auto oem = code_page.EncodeName(upper);
        if (!oem) {
            refusal = ReplyRefusal::kNotInCodePage;
        } else if (oem->size() > netbios::kNameChars) {
            refusal = ReplyRefusal::kTooLong;
        }
    }
    if (refusal != ReplyRefusal::kNone) name.clear();
    return name;
}

std::u16string ReplyRecipient(std::u16string_view from, ReplyRefusal& refusal)
{
    // Read once: the configuration's code page for the life of the program.
    static const std::shared_ptr<const net::CodePage> lan = [] {
        const auto network = net::MakeSystemNetwork();
        return network->OemCodePage(
            netbios::ReadSambaConfig(netbios::kDefaultSambaConfig).dos_charset);
    }();
    return ReplyRecipient(from, refusal, lan ? *lan : Cp850());
}

ReplyRefusal ReplyRefusalFor(const QString& from)
{
    ReplyRefusal refusal;
    ReplyRecipient(from.toStdU16String(), refusal);
    return refusal;
}

QString ReplyRefusalText(ReplyRefusal refusal)
{
    switch (refusal) {
    case ReplyRefusal::kNone: return {};
    case ReplyRefusal::kNoName: return QStringLiteral("No reply: the message names no sender.");
    case ReplyRefusal::kEveryone:
        return QStringLiteral("No reply: the sender called itself \"*\", which would reach "
                              "every computer on the network.");
    case ReplyRefusal::kSeveralNames:
        return QStringLiteral("No reply: the sender's name holds \";\", which would make it "
                              "several recipients.");
    case ReplyRefusal::kControl:
        return QStringLiteral("No reply: the sender's name holds control characters.");
    case ReplyRefusal::kTooLong:
        return QStringLiteral("No reply: the sender's name is longer than a computer's name "
                              "can be.");
    case ReplyRefusal::kNotInCodePage:
        return QStringLiteral("No reply: the sender's name holds characters no computer's "
                              "name can have on this network.");
    }
    return {};
}

}  // namespace vindrel
