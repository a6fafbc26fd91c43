// Rate-limited log lines on standard error.
#include "app/vindreld/event_log.h"

#include <cstdio>

namespace vindrel::daemon {

EventLog::EventLog(std::size_t burst, Clock::duration refill) : burst_(burst), refill_(refill)
{
    for (Bucket& b : buckets_) b.tokens = static_cast<double>(burst_);
}

void EventLog::Write(LogKind kind, const std::string& line)
{
    Bucket& b = buckets_[static_cast<std::size_t>(kind)];
    std::string text = "vindreld: " + line;
    if (kind != LogKind::kService) {
        const auto now = Clock::now();
        if (b.last != Clock::time_point{}) {
            b.tokens += std::chrono::duration<double>(now - b.last) /
                        std::chrono::duration<double>(refill_);
            if (b.tokens > static_cast<double>(burst_)) b.tokens = static_cast<double>(burst_);
        }
        b.last = now;
        if (b.tokens < 1) {
            ++b.dropped;
            return;
        }
        b.tokens -= 1;
        if (b.dropped != 0) {
            text += " (" + std::to_string(b.dropped) + " similar lines not logged)";
            b.dropped = 0;
        }
    }
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

EventLog& Log()
{
    static EventLog log;
    return log;
}

}  // namespace vindrel::daemon
