// Messenger messages that come as NetBIOS datagrams (UDP port 138): a class 2
// mailslot write to \MAILSLOT\MESSNGR, an SMB transaction, inside a direct
// unique or direct group datagram. This is how a sender's "*" and domain
// messages travel; nothing answers them, so nothing confirms their sender.
#pragma once

#include <cstdint>

#include "netbios/codec/nb_name.h"
#include "netbios/codec/wire.h"
#include "platform/network.h"

namespace vindrel::netbios {

inline constexpr char kMessengerMailslot[] = "\\MAILSLOT\\MESSNGR";

enum class DatagramError {
    kNone,
    kShort,             // cut inside the datagram header or a name
    kNotDirect,         // not a direct unique or direct group datagram
    kFragment,          // one piece of a datagram sent in several
    kBadName,           // a name not in the first-level encoding
    kBadLength,         // DGM_LENGTH disagrees with what arrived
    kNotSmb,            // the user data is no well-formed SMB request
    kNotTransaction,    // another SMB command
    kNotMailslotWrite,  // a transaction that is no class 2 mailslot write
    kBadOffsets,        // the data lies outside the transaction's bytes
    kOtherMailslot,     // written to another mailslot
    kBadMessage,        // FROM, TO or TEXT unterminated or too long
};

// One messenger datagram. The strings are OEM bytes without their NULs, views
// into the datagram parsed.
struct MessengerDatagram {
    RawName source{};       // as the datagram names it: nothing proves it
    RawName destination{};
    bool group = false;     // sent to a group name (a workgroup or domain)
    net::Ipv4 claimed_source = 0;  // SOURCE_IP as written, host byte order
    ByteView from, to, text;
};

// Reads a whole datagram as it arrived. Fragments, broadcast datagrams, other
// mailslots and other SMB commands are refused, each with its own error.
DatagramError ParseMessengerDatagram(ByteView datagram, MessengerDatagram& out);

// A few words for log lines: "cut short", "a fragment", ...
const char* Describe(DatagramError error);

}  // namespace vindrel::netbios
