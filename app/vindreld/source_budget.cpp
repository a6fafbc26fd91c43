// Token buckets per source and shared.
#include "app/vindreld/source_budget.h"

#include <algorithm>

namespace vindrel::daemon {
namespace {

constexpr std::int64_t kOne = 1000;

}  // namespace

SourceBudget::SourceBudget(Rate per_source, Rate shared, std::size_t sources)
    : per_source_(per_source), shared_rate_(shared), sources_(sources)
{
}

bool SourceBudget::Refill(Bucket& bucket, Rate rate, Clock::time_point now)
{
    if (now > bucket.last) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - bucket.last).count();
        bucket.tokens =
            std::min<std::int64_t>(rate.burst * kOne, bucket.tokens + elapsed * rate.per_second);
        bucket.last = now;
    }
    return bucket.tokens >= kOne;
}

bool SourceBudget::Pay(std::uint32_t source, Clock::time_point now)
{
    if (!started_) {
        shared_ = Bucket{0, shared_rate_.burst * kOne, now};
        started_ = true;
    }
    auto bucket = std::find_if(buckets_.begin(), buckets_.end(),
                               [source](const Bucket& b) { return b.source == source; });
    if (bucket == buckets_.end()) {
        const Bucket fresh{source, per_source_.burst * kOne, now};
        if (buckets_.size() < sources_) {
            buckets_.push_back(fresh);
            bucket = buckets_.end() - 1;
        } else {
            const auto idle_longest = [](const Bucket& a, const Bucket& b) { return a.last < b.last; };
            bucket = std::min_element(buckets_.begin(), buckets_.end(), idle_longest);
            *bucket = fresh;
        }
    }
    const bool source_ok = Refill(*bucket, per_source_, now);
    const bool shared_ok = Refill(shared_, shared_rate_, now);
    if (!source_ok || !shared_ok) return false;
    bucket->tokens -= kOne;
    shared_.tokens -= kOne;
    return true;
}

}  // namespace vindrel::daemon
