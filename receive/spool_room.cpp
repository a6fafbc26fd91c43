// Who gets room in the spool. A host that floods it is held to its share,
// and one already holding more (the Samba route, which cannot tell its
// senders apart, or records from before shares were kept) gives way to the
// others, oldest first, rather than keeping them out until its records age.
#include "receive/spool_room.h"

#include <tuple>

#include "receive/spool_dir.h"

namespace vindrel::spool {
namespace {

bool WithinShare(const Share& share, std::uint64_t more_bytes)
{
    return share.messages + 1 <= kMaxSourceMessages &&
           share.bytes + more_bytes <= kMaxSourceBytes;
}

bool OverShare(const Share& share)
{
    return share.messages > kMaxSourceMessages || share.bytes > kMaxSourceBytes;
}

}  // namespace

Room FindRoom(const Usage& usage, const std::string& key, std::uint64_t bytes,
              std::string& victim)
{
    const auto found = usage.by_key.find(key);
    const Share mine = found == usage.by_key.end() ? Share{} : found->second;
    const bool within = WithinShare(mine, bytes);
    if (!key.empty() && !within) return Room::kShareFull;
    if (usage.messages < kMaxMessages && usage.bytes + bytes <= kMaxSpoolBytes)
        return Room::kFree;
    if (!within) return Room::kSpoolFull;
    const Share* most = nullptr;
    for (const auto& [other, share] : usage.by_key) {
        if (other == key || !OverShare(share)) continue;
        if (!most ||
            std::tie(share.messages, share.bytes) > std::tie(most->messages, most->bytes)) {
            most = &share;
            victim = other;
        }
    }
    return most ? Room::kReplace : Room::kSpoolFull;
}

}  // namespace vindrel::spool
