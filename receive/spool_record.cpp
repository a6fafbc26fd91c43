// The spool record: cleaning network text, and the record's file format.
//
//   vindrel-message 1
//   received <milliseconds since 1970, UTC>
//   from <name>
//   to <name>
//   source <dotted IPv4 address>   (only where known)
//   via datagram                   (only for a datagram)
//   length <bytes of text>
//   <empty line>
//   <text>
#include "receive/spool_record.h"

#include <time.h>

#include <charconv>

#include "platform/ipv4_text.h"
#include "platform/utf8.h"

namespace vindrel::spool {
namespace {

constexpr std::string_view kMagic = "vindrel-message 1\n";

bool IsControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Cuts UTF-8 to at most `limit` bytes without splitting a character.
std::string CutUtf8(std::string text, std::size_t limit)
{
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

// Takes "<key> <value>\n" off the front of `rest`.
bool TakeField(std::string_view& rest, std::string_view key, std::string_view& value)
{
    if (rest.substr(0, key.size()) != key || rest.size() <= key.size() || rest[key.size()] != ' ')
        return false;
    const auto end = rest.find('\n', key.size() + 1);
    if (end == std::string_view::npos) return false;
    value = rest.substr(key.size() + 1, end - key.size() - 1);
    rest.remove_prefix(end + 1);
    return true;
}

bool ParseNumber(std::string_view digits, std::int64_t& value)
{
    if (digits.empty() || digits.size() > 18) return false;
    for (const char c : digits)
        if (c < '0' || c > '9') return false;
    return std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc();
}

}  // namespace

std::int64_t NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

std::string CleanName(std::string_view raw)
{
    std::u16string name = Utf8ToUtf16(raw);
    for (char16_t& c : name)
        if (IsControl(c)) c = u'\uFFFD';
    return CutUtf8(Utf16ToUtf8(name), kMaxNameBytes);
}

std::string CleanText(std::string_view raw)
{
    const std::u16string decoded = Utf8ToUtf16(raw);
    std::u16string text;
    text.reserve(decoded.size());
    std::size_t chars = 0;
    for (std::size_t i = 0; i < decoded.size() && chars < kMaxTextChars; ++i, ++chars) {
        char16_t c = decoded[i];
        if (c == u'\r') {
            if (i + 1 < decoded.size() && decoded[i + 1] == u'\n') ++i;
            c = u'\n';
        } else if (c != u'\n' && c != u'\t' && IsControl(c)) {
            // A TAB is kept: the inbox shows it as spaces, --json as it came.
            c = u'\uFFFD';
        }
        text += c;
        // A pair of surrogates is one character.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < decoded.size()) text += decoded[++i];
    }
    return Utf16ToUtf8(text);
}

std::string ShareKey(const Record& record)
{
    return record.datagram ? kDatagramShare : record.source;
}

std::string EncodeRecord(const Record& record)
{
    std::string out(kMagic);
    out += "received " + std::to_string(record.received_ms) + "\n";
    out += "from " + record.from + "\n";
    out += "to " + record.to + "\n";
    if (!record.source.empty()) out += "source " + record.source + "\n";
    if (record.datagram) out += "via datagram\n";
    out += "length " + std::to_string(record.text.size()) + "\n\n";
    out += record.text;
    return out;
}

RecordError ParseRecord(std::string_view bytes, Record& out)
{
    if (bytes.size() > kMaxRecordBytes) return RecordError::kTooLarge;
    if (bytes.substr(0, kMagic.size()) != kMagic) return RecordError::kBadHeader;
    std::string_view rest = bytes.substr(kMagic.size());
    std::string_view received, from, to, source, via, length;
    Record record;
    std::int64_t text_bytes = 0;
    if (!TakeField(rest, "received", received) || !ParseNumber(received, record.received_ms) ||
        !TakeField(rest, "from", from) || !TakeField(rest, "to", to))
        return RecordError::kBadField;
    // The optional lines, in their order; records written before them have none.
    // The source is shown and counted by, so it must be exactly as written.
    if (TakeField(rest, "source", source) && !IsCanonicalDottedIpv4(source))
        return RecordError::kBadField;
    if (TakeField(rest, "via", via) && via != "datagram") return RecordError::kBadField;
    if (!TakeField(rest, "length", length) || !ParseNumber(length, text_bytes) ||
        rest.substr(0, 1) != "\n")
        return RecordError::kBadField;
    rest.remove_prefix(1);
    record.from = std::string(from);
    record.to = std::string(to);
    record.source = std::string(source);
    record.datagram = !via.empty();
    if (CleanName(from) != from || CleanName(to) != to) return RecordError::kBadName;
    if (static_cast<std::uint64_t>(text_bytes) != rest.size()) return RecordError::kBadLength;
    record.text = std::string(rest);
    if (CleanText(rest) != rest) return RecordError::kBadText;
    out = std::move(record);
    return RecordError::kNone;
}

}  // namespace vindrel::spool
