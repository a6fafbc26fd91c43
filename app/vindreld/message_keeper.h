// Turns messages as they arrived (DOS code page bytes) into spool records,
// cleaned exactly as vindrel-drop cleans what Samba hands it, and keeps them
// on a writer thread of its own: a flush, or a wait for another writer's
// lock, must not hold up the loop that answers and defends names.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/vindreld/event_loop.h"
#include "netbios/server/message_session.h"
#include "platform/network.h"
#include "receive/spool_dir.h"

namespace vindrel::daemon {

// How long a stopping service waits for the writes already handed over.
// Longer than a writer may wait for the spool's lock, so the last batch gets
// its answer.
inline constexpr std::chrono::milliseconds kKeepingAtStop{spool::kLockWaitMs + 2000};

class MessageKeeper final : public Watcher {
public:
    using Done = std::function<void(std::vector<spool::StoreResult>)>;

    // Starts the writer; the loop outlives this object.
    MessageKeeper(EventLoop& loop, std::string spool, std::shared_ptr<const net::CodePage> code_page);
    // Writes not begun are dropped, unanswered; the one under way is finished.
    ~MessageKeeper() override;
    MessageKeeper(const MessageKeeper&) = delete;
    MessageKeeper& operator=(const MessageKeeper&) = delete;

    // False when the writer or its wake-up could not be had.
    bool ok() const { return wake_ >= 0 && writer_.joinable(); }

    spool::Record ToRecord(const netbios::ReceivedMessage& message, std::int64_t received_ms) const;

    // Hands `records` to the writer. Whatever is queued when it gets to it
    // is kept under one lock and flush; `done` then runs on the loop's
    // thread with one result per record, in order.
    void Submit(std::vector<spool::Record> records, Done done);
    // Submitted batches whose `done` has not run yet.
    std::size_t unanswered() const { return unanswered_; }

    void OnReady(std::uint32_t events) override;  // the writer has results

    const std::string& spool() const { return spool_; }

private:
    struct Batch {
        std::vector<spool::Record> records;
        Done done;
        std::vector<spool::StoreResult> results;
    };

    void Write();

    EventLoop& loop_;
    std::string spool_;
    std::shared_ptr<const net::CodePage> code_page_;
    int wake_ = -1;  // eventfd: the writer tells the loop results are in
    std::size_t unanswered_ = 0;  // the loop's count

    std::mutex mutex_;
    std::condition_variable queued_cv_;
    std::vector<Batch> queued_;  // for the writer
    std::vector<Batch> written_;  // for the loop
    bool stopping_ = false;
    std::thread writer_;
};

}  // namespace vindrel::daemon
