// The service's log: one line on standard error per event worth knowing
// (systemd puts it in the journal), rate-limited per kind of event so that a
// flood of refusals cannot fill the journal.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vindrel::daemon {

enum class LogKind {
    kService,       // start, stop, configuration: never limited
    kName,          // a name claimed, refused, released, defended
    kMessage,       // a message kept or refused
    kRefusal,       // a peer or local client refused, a limit hit
    kCount,
};

class EventLog {
public:
    using Clock = std::chrono::steady_clock;

    // Each limited kind may write `burst` lines at once and one more every
    // `refill`; the lines it had to drop are counted in its next line.
    explicit EventLog(std::size_t burst = 20, Clock::duration refill = std::chrono::seconds(1));

    void Write(LogKind kind, const std::string& line);

private:
    struct Bucket {
        double tokens = 0;
        Clock::time_point last{};
        std::uint64_t dropped = 0;
    };
    std::size_t burst_;
    Clock::duration refill_;
    Bucket buckets_[static_cast<std::size_t>(LogKind::kCount)];
};

// The one log of the process.
EventLog& Log();

}  // namespace vindrel::daemon
