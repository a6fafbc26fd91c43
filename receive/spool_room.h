// Who gets room in the spool: the limits of the whole spool and of each
// sender's share of it, and whose records give way when it is full.
#pragma once

#include <cstdint>
#include <string>

#include "receive/spool_lock.h"

namespace vindrel::spool {

enum class Room {
    kFree,       // it fits as it is
    kReplace,    // it fits once the oldest record of `victim` is gone (try again then)
    kShareFull,  // its sender holds its share already
    kSpoolFull,  // the spool is full, and no other sender holds more than a share
};

// Whether a record of `bytes` from the sender `key` fits the spool's
// `usage`. Each sender but the unknown one ("", which stands for many) may
// hold kMaxSourceMessages and kMaxSourceBytes at most. When the spool is
// full, a sender still within its share after this record takes the room
// of the sender holding most, `victim`, if that one holds more than a share.
Room FindRoom(const Usage& usage, const std::string& key, std::uint64_t bytes,
              std::string& victim);

}  // namespace vindrel::spool
