// From the DOS code page to clean UTF-8, then into the spool on the writer
// thread, and the results back to the loop through an eventfd.
#include "app/vindreld/message_keeper.h"

#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <system_error>
#include <utility>

#include "platform/utf8.h"

namespace vindrel::daemon {

MessageKeeper::MessageKeeper(EventLoop& loop, std::string spool,
                             std::shared_ptr<const net::CodePage> code_page)
    : loop_(loop), spool_(std::move(spool)), code_page_(std::move(code_page)),
      wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (wake_ < 0 || !loop_.Add(wake_, EPOLLIN, this)) return;
    try {
        writer_ = std::thread([this] { Write(); });
    } catch (const std::system_error&) {
        // ok() says so; the service does not run without its writer.
    }
}

MessageKeeper::~MessageKeeper()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queued_cv_.notify_one();
    if (writer_.joinable()) writer_.join();
    if (wake_ >= 0) {
        loop_.Remove(wake_);
        close(wake_);
    }
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

void MessageKeeper::Submit(std::vector<spool::Record> records, Done done)
{
    ++unanswered_;
    {
        const std::lock_guard lock(mutex_);
        queued_.push_back(Batch{std::move(records), std::move(done), {}});
    }
    queued_cv_.notify_one();
}

// The writer thread: takes everything queued, keeps it with one lock and
// one flush (a flush per message is what would bound the rate of a burst),
// and hands the results back.
void MessageKeeper::Write()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_cv_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
        if (stopping_) return;
        std::vector<Batch> batches = std::exchange(queued_, {});
        lock.unlock();
        std::vector<spool::Record> all;
        for (Batch& b : batches)
            for (spool::Record& r : b.records) all.push_back(std::move(r));
        const std::vector<spool::StoreResult> results = spool::StoreRecords(spool_, all);
        std::size_t at = 0;
        for (Batch& b : batches) {
            for (std::size_t i = 0; i < b.records.size(); ++i, ++at) {
                spool::StoreResult failed;
                failed.error = spool::StoreError::kWriteFailed;
                b.results.push_back(at < results.size() ? results[at] : failed);
            }
        }
        lock.lock();
        for (Batch& b : batches) written_.push_back(std::move(b));
        const std::uint64_t one = 1;
        // Cannot fail short of a counter at its limit, which the loop's read resets.
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }
}

void MessageKeeper::OnReady(std::uint32_t)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = read(wake_, &count, sizeof count);
    std::vector<Batch> written;
    {
        const std::lock_guard lock(mutex_);
        written = std::exchange(written_, {});
    }
    for (Batch& b : written) {
        --unanswered_;
        b.done(std::move(b.results));
    }
}

}  // namespace vindrel::daemon
