// Turns messages as they arrived (DOS code page bytes) into spool records,
// cleaned exactly as vindrel-drop cleans what Samba hands it, and keeps a
// whole batch of them at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/spool/spool_dir.h"
#include "platform/netbios/message_session.h"
#include "platform/network.h"

namespace vindrel::daemon {

class MessageKeeper {
public:
    MessageKeeper(std::string spool, std::shared_ptr<const net::CodePage> code_page);

    spool::Record ToRecord(const netbios::ReceivedMessage& message, std::int64_t received_ms) const;

    // Stores every record; each result says whether that record is kept.
    std::vector<spool::StoreResult> Keep(const std::vector<spool::Record>& records) const;

    // Stores the records and then calls `done` on the loop's thread with one
    // result per record, in order. Here at once; the caller must not count
    // on that.
    void Submit(std::vector<spool::Record> records,
                std::function<void(std::vector<spool::StoreResult>)> done);

    const std::string& spool() const { return spool_; }

private:
    std::string spool_;
    std::shared_ptr<const net::CodePage> code_page_;
};

}  // namespace vindrel::daemon
