// A budget paid per source address and from one shared purse: token buckets,
// one for each of the sources heard from most recently and one for all, so
// that the noisiest peer runs out first and cannot spend the others' share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/vindreld/event_loop.h"

namespace vindrel::daemon {

struct Rate {
    int burst = 0;       // what a full bucket holds
    int per_second = 0;  // what it refills
};

class SourceBudget {
public:
    // `sources`: buckets remembered; past that the one idle longest is reused.
    SourceBudget(Rate per_source, Rate shared, std::size_t sources);

    // Takes one from the source's bucket and the shared one, or from neither
    // when either is empty.
    bool Pay(std::uint32_t source, Clock::time_point now);

private:
    // Tokens in thousandths, so that slow rates refill between calls.
    struct Bucket {
        std::uint32_t source = 0;
        std::int64_t tokens = 0;
        Clock::time_point last{};
    };
    static bool Refill(Bucket& bucket, Rate rate, Clock::time_point now);

    Rate per_source_, shared_rate_;
    std::size_t sources_;
    std::vector<Bucket> buckets_;
    Bucket shared_;
    bool started_ = false;
};

}  // namespace vindrel::daemon
