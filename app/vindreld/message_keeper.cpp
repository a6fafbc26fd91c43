// From the DOS code page to clean UTF-8, then into the spool.
#include "app/vindreld/message_keeper.h"

#include "platform/utf8.h"

namespace vindrel::daemon {

MessageKeeper::MessageKeeper(std::string spool, std::shared_ptr<const net::CodePage> code_page)
    : spool_(std::move(spool)), code_page_(std::move(code_page))
{
}

spool::Record MessageKeeper::ToRecord(const netbios::ReceivedMessage& message,
                                      std::int64_t received_ms) const
{
    const auto utf8 = [&](const std::string& oem) {
        return Utf16ToUtf8(code_page_->Decode(oem));
    };
    spool::Record record;
    record.received_ms = received_ms;
    record.from = spool::CleanName(utf8(message.originator));
    // The name the sender typed; the called name when it gave none.
    record.to = spool::CleanName(utf8(message.destination.empty()
                                          ? netbios::NameText(message.called)
                                          : message.destination));
    record.text = spool::CleanText(utf8(message.text));
    return record;
}

std::vector<spool::StoreResult> MessageKeeper::Keep(const std::vector<spool::Record>& records) const
{
    // One lock and one flush for the whole batch: a flush per message is
    // what would bound the rate of a burst.
    return spool::StoreRecords(spool_, records);
}

void MessageKeeper::Submit(std::vector<spool::Record> records,
                           std::function<void(std::vector<spool::StoreResult>)> done)
{
    done(Keep(records));
}

}  // namespace vindrel::daemon
