// One received message as the spool keeps it: the fields, how text from the
// network is made safe to keep and show, and the record's bytes on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace vindrel::spool {

// Longest sender or recipient name kept, in UTF-8 bytes.
inline constexpr std::size_t kMaxNameBytes = 64;
// Longest text kept, in characters: an SMB message carries at most 1,600
// bytes of a single-byte code page, one character each, which can take up
// to three bytes each once Samba has turned them into UTF-8.
inline constexpr std::size_t kMaxTextChars = 1600;
// Largest record file a reader accepts; anything longer is not ours.
inline constexpr std::size_t kMaxRecordBytes = 8192;

struct Record {
    Record() = default;
    // The fields every route knows, in their order; the rest as a route knows them.
    Record(std::int64_t received_ms, std::string from, std::string to, std::string text)
        : received_ms(received_ms), from(std::move(from)), to(std::move(to)), text(std::move(text))
    {
    }

    std::int64_t received_ms = 0;  // milliseconds since 1970, UTC
    std::string from;              // UTF-8, as CleanName leaves it
    std::string to;
    std::string text;              // UTF-8, as CleanText leaves it; lines end in LF
    // The sending host's IPv4 address as the receiver saw it, dotted; empty
    // where the route did not say (Samba's). What the spool's per-sender
    // share is counted by.
    std::string source;
    // Came as a datagram: nothing confirmed it, and its source can be forged.
    bool datagram = false;
};

// The time now as Record::received_ms counts it.
std::int64_t NowMs();

// A name from the network made safe: malformed UTF-8 and every control
// character become U+FFFD, and it is cut to kMaxNameBytes on a character
// boundary.
std::string CleanName(std::string_view raw);

// A text from the network made safe: CR LF and lone CR become LF, malformed
// UTF-8 and every control character but TAB (C0, DEL, C1) become U+FFFD, and
// it is cut to kMaxTextChars characters.
std::string CleanText(std::string_view raw);

// Which sender's share of the spool the record counts against: its source
// for a message that came in a session, whose address the handshake
// confirmed; one share for every datagram, whose source anyone can forge;
// and the unknown sender, empty, for the Samba route and older records.
std::string ShareKey(const Record& record);
inline constexpr char kDatagramShare[] = "datagram";

// The record's file contents. The fields must be clean.
std::string EncodeRecord(const Record& record);

enum class RecordError {
    kNone,
    kTooLarge,     // longer than kMaxRecordBytes
    kBadHeader,    // not a record of this format and version
    kBadField,     // a field line missing, out of order or out of range
    kBadName,      // a name that cleaning would change
    kBadLength,    // the text is not as long as its length line says
    kBadText,      // a text that cleaning would change
};

// Reads a record from untrusted bytes. Nothing is trusted: every field is
// checked, and a record that cleaning would change is refused.
RecordError ParseRecord(std::string_view bytes, Record& out);

}  // namespace vindrel::spool
