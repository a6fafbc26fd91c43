// NetBIOS name query and node status packets.
#include "netbios/codec/name_service.h"

#include <algorithm>

namespace vindrel::netbios {
namespace {

constexpr std::uint16_t kTypeNb = 0x0020;
constexpr std::uint16_t kTypeNbstat = 0x0021;
constexpr std::uint16_t kClassIn = 0x0001;

constexpr std::uint16_t kResponse = 0x8000;
constexpr std::uint16_t kOpcodeMask = 0x7800;  // 0 is a query
constexpr std::uint16_t kRecursionDesired = 0x0100;
constexpr std::uint16_t kBroadcast = 0x0010;
constexpr std::uint16_t kRcodeMask = 0x000F;

Bytes BuildQuestion(std::uint16_t id, std::uint16_t flags, const RawName& name,
                    std::uint16_t type)
{
    Writer out;
    out.U16be(id);
    out.U16be(flags);
    out.U16be(1);  // QDCOUNT
    out.U16be(0);  // ANCOUNT
    out.U16be(0);  // NSCOUNT
    out.U16be(0);  // ARCOUNT
    EncodeName(name, out);
    out.U16be(type);
    out.U16be(kClassIn);
    return out.Take();
}

struct Header {
    std::uint16_t id = 0, flags = 0, qdcount = 0, ancount = 0, nscount = 0, arcount = 0;
};

bool ReadHeader(Reader& in, Header& h)
{
    return in.U16be(h.id) && in.U16be(h.flags) && in.U16be(h.qdcount) && in.U16be(h.ancount) &&
           in.U16be(h.nscount) && in.U16be(h.arcount);
}

// The resource record that answers: name, type, class, TTL and the RDATA
// whose length has been checked against what arrived.
bool ReadAnswer(Reader& in, RawName& name, std::uint16_t want_type, ByteView& rdata)
{
    std::uint16_t type = 0, cls = 0, rdlength = 0;
    std::uint32_t ttl = 0;
    return DecodeName(in, name) && in.U16be(type) && type == want_type && in.U16be(cls) &&
           cls == kClassIn && in.U32be(ttl) && in.U16be(rdlength) && in.Take(rdlength, rdata);
}

}  // namespace

Bytes BuildNameQuery(std::uint16_t id, const RawName& name, bool broadcast)
{
    return BuildQuestion(id, kRecursionDesired | (broadcast ? kBroadcast : 0), name, kTypeNb);
}

QueryAnswer JudgeNameQueryReply(ByteView reply, std::uint16_t id, const RawName& name)
{
    Reader in(reply);
    Header h;
    if (!ReadHeader(in, h) || h.id != id || !(h.flags & kResponse) || (h.flags & kOpcodeMask) != 0)
        return {};
    // A reply carries no question section; the answer names what it answers.
    if (h.qdcount != 0 || h.ancount != 1) return {};
    RawName answered;
    ByteView rdata;
    const std::uint16_t rcode = h.flags & kRcodeMask;
    if (rcode != 0) {
        // A negative reply may omit the record; if it names one, it must be ours.
        if (in.remaining() > 0 && (!DecodeName(in, answered) || answered != name)) return {};
        return {QueryVerdict::kNegative, 0};
    }
    if (!ReadAnswer(in, answered, kTypeNb, rdata) || answered != name) return {};
    // RDATA: one or more (NB_FLAGS, NB_ADDRESS) pairs of six bytes each.
    if (rdata.empty() || rdata.size() % 6 != 0) return {};
    Reader entries(rdata);
    while (entries.remaining() >= 6) {
        std::uint16_t nb_flags = 0;
        std::uint32_t address = 0;
        entries.U16be(nb_flags);
        entries.U32be(address);
        if (address != 0 && address != 0xFFFFFFFF) return {QueryVerdict::kPositive, address};
    }
    return {};
}

Bytes BuildNodeStatusRequest(std::uint16_t id)
{
    return BuildQuestion(id, 0, WildcardName(), kTypeNbstat);
}

std::optional<std::vector<NodeName>> ParseNodeStatusReply(ByteView reply, std::uint16_t id)
{
    Reader in(reply);
    Header h;
    if (!ReadHeader(in, h) || h.id != id || !(h.flags & kResponse) ||
        (h.flags & kOpcodeMask) != 0 || (h.flags & kRcodeMask) != 0 || h.ancount != 1 ||
        h.qdcount != 0)
        return std::nullopt;
    RawName answered;
    ByteView rdata;
    if (!ReadAnswer(in, answered, kTypeNbstat, rdata)) return std::nullopt;
    Reader body(rdata);
    std::uint8_t count = 0;
    if (!body.U8(count) || body.remaining() < std::size_t{count} * 18) return std::nullopt;
    std::vector<NodeName> names(count);
    for (NodeName& entry : names) {
        ByteView raw;
        body.Take(16, raw);
        std::copy(raw.begin(), raw.end(), entry.name.begin());
        body.U16be(entry.flags);
    }
    // The statistics that follow are of no use here.
    return names;
}

bool IsMessengerName(const NodeName& entry)
{
    constexpr std::uint16_t kDeregistering = 0x1000, kInConflict = 0x0800;
    if (entry.group() || entry.name[15] != kMessengerSuffix ||
        (entry.flags & (kDeregistering | kInConflict)))
        return false;
    // The name goes out again as a NUL-terminated SMB string.
    const std::string text = NameText(entry.name);
    return !text.empty() && text.find('\0') == std::string::npos;
}

std::optional<RawName> FirstMessengerName(const std::vector<NodeName>& names)
{
    for (const NodeName& entry : names)
        if (IsMessengerName(entry)) return entry.name;
    return std::nullopt;
}

}  // namespace vindrel::netbios

// --- the receiving side ------------------------------------------------------

namespace vindrel::netbios {
namespace {

constexpr std::uint16_t kAuthoritative = 0x0400;
constexpr std::uint16_t kTruncated = 0x0200;
constexpr std::uint16_t kRecursionAvailable = 0x0080;
constexpr int kOpcodeShift = 11;
// The record of a registration or release names the question by pointing at
// it: a compression pointer to the name at offset 12, right after the header.
constexpr std::uint16_t kPointerToQuestion = 0xC00C;
constexpr std::size_t kNbEntrySize = 6;
constexpr std::size_t kStatisticsSize = 46;
constexpr std::size_t kMaxStatusEntries = 255;

bool KnownType(std::uint16_t type)
{
    return type == static_cast<std::uint16_t>(RecordType::kNb) ||
           type == static_cast<std::uint16_t>(RecordType::kNbstat) ||
           type == static_cast<std::uint16_t>(RecordType::kNull);
}

// A record's name: either spelled out, or the pointer to the question that
// registrations and releases use (only when there is a question to point at).
bool ReadRecordName(Reader& in, const NamePacket& packet, RawName& name)
{
    Reader probe = in;
    std::uint16_t pointer = 0;
    if (packet.has_question && probe.U16be(pointer) && pointer == kPointerToQuestion) {
        name = packet.question;
        in = probe;
        return true;
    }
    return DecodeName(in, name);
}

void WriteHeader(Writer& out, std::uint16_t id, std::uint16_t flags, std::uint16_t qdcount,
                 std::uint16_t ancount, std::uint16_t arcount)
{
    out.U16be(id);
    out.U16be(flags);
    out.U16be(qdcount);
    out.U16be(ancount);
    out.U16be(0);  // NSCOUNT
    out.U16be(arcount);
}

std::uint16_t Flags(bool response, NameOpcode opcode, std::uint16_t bits, NameRcode rcode = {})
{
    return static_cast<std::uint16_t>((response ? kResponse : 0) |
                                      static_cast<std::uint16_t>(opcode) << kOpcodeShift | bits |
                                      static_cast<std::uint16_t>(rcode));
}

void WriteNbRecordTail(Writer& out, std::uint32_t ttl, std::uint16_t nb_flags, net::Ipv4 address)
{
    out.U16be(kTypeNb);
    out.U16be(kClassIn);
    out.U16be(static_cast<std::uint16_t>(ttl >> 16));
    out.U16be(static_cast<std::uint16_t>(ttl));
    out.U16be(kNbEntrySize);
    out.U16be(nb_flags);
    out.U16be(static_cast<std::uint16_t>(address >> 16));
    out.U16be(static_cast<std::uint16_t>(address));
}

// A request for one of our names: the question, then the record pointing at it.
Bytes BuildNameRequest(std::uint16_t id, std::uint16_t flags, const RawName& name,
                       std::uint32_t ttl, std::uint16_t nb_flags, net::Ipv4 address)
{
    Writer out;
    WriteHeader(out, id, flags, 1, 0, 1);
    EncodeName(name, out);
    out.U16be(kTypeNb);
    out.U16be(kClassIn);
    out.U16be(kPointerToQuestion);
    WriteNbRecordTail(out, ttl, nb_flags, address);
    return out.Take();
}

// A response that answers with one NB record.
Bytes BuildNbAnswer(std::uint16_t id, std::uint16_t flags, const RawName& name, std::uint32_t ttl,
                    std::uint16_t nb_flags, net::Ipv4 address)
{
    Writer out;
    WriteHeader(out, id, flags, 0, 1, 0);
    EncodeName(name, out);
    WriteNbRecordTail(out, ttl, nb_flags, address);
    return out.Take();
}

}  // namespace

std::optional<NamePacket> ParseNamePacket(ByteView bytes)
{
    Reader in(bytes);
    Header h;
    if (!ReadHeader(in, h)) return std::nullopt;
    // One question and at most one record (an answer or an additional one):
    // no packet of the name service this side takes part in has more.
    if (h.qdcount > 1 || h.nscount != 0 || h.ancount + h.arcount > 1) return std::nullopt;
    NamePacket p;
    p.id = h.id;
    p.response = (h.flags & kResponse) != 0;
    p.opcode = static_cast<NameOpcode>((h.flags & kOpcodeMask) >> kOpcodeShift);
    p.authoritative = (h.flags & kAuthoritative) != 0;
    p.recursion_desired = (h.flags & kRecursionDesired) != 0;
    p.recursion_available = (h.flags & kRecursionAvailable) != 0;
    p.broadcast = (h.flags & kBroadcast) != 0;
    p.rcode = static_cast<NameRcode>(h.flags & kRcodeMask);
    if (h.flags & kTruncated) return std::nullopt;

    if (h.qdcount == 1) {
        std::uint16_t type = 0, cls = 0;
        if (!DecodeName(in, p.question) || !in.U16be(type) || !in.U16be(cls) ||
            cls != kClassIn ||
            (type != kTypeNb && type != kTypeNbstat))
            return std::nullopt;
        p.has_question = true;
        p.question_type = static_cast<RecordType>(type);
    }
    if (h.ancount + h.arcount == 1) {
        std::uint16_t type = 0, cls = 0, rdlength = 0;
        if (!ReadRecordName(in, p, p.record_name) || !in.U16be(type) || !KnownType(type) ||
            !in.U16be(cls) || cls != kClassIn || !in.U32be(p.ttl) || !in.U16be(rdlength) ||
            !in.Take(rdlength, p.rdata))
            return std::nullopt;
        p.has_record = true;
        p.record_type = static_cast<RecordType>(type);
        if (p.record_type == RecordType::kNb && p.rdata.size() >= kNbEntrySize) {
            Reader entry(p.rdata);
            entry.U16be(p.nb_flags);
            entry.U32be(p.address);
            p.has_address = true;
        }
    }
    if (in.remaining() != 0) return std::nullopt;
    return p;
}

Bytes BuildNameRegistration(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                            net::Ipv4 address, std::uint32_t ttl, bool broadcast)
{
    const std::uint16_t bits = kRecursionDesired | (broadcast ? kBroadcast : 0);
    return BuildNameRequest(id, Flags(false, NameOpcode::kRegistration, bits), name, ttl,
                            nb_flags, address);
}

Bytes BuildNameRefresh(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                       net::Ipv4 address, std::uint32_t ttl)
{
    return BuildNameRequest(id, Flags(false, NameOpcode::kRefresh, 0), name, ttl, nb_flags,
                            address);
}

Bytes BuildNameRelease(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                       net::Ipv4 address, bool broadcast)
{
    return BuildNameRequest(id, Flags(false, NameOpcode::kRelease, broadcast ? kBroadcast : 0),
                            name, 0, nb_flags, address);
}

Bytes BuildRegistrationResponse(std::uint16_t id, const RawName& name, NameRcode rcode,
                                std::uint16_t nb_flags, net::Ipv4 address, std::uint32_t ttl)
{
    const std::uint16_t bits = kAuthoritative | kRecursionDesired | kRecursionAvailable;
    return BuildNbAnswer(id, Flags(true, NameOpcode::kRegistration, bits, rcode), name, ttl,
                         nb_flags, address);
}

Bytes BuildNameQueryResponse(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                             net::Ipv4 address, std::uint32_t ttl)
{
    return BuildNbAnswer(id, Flags(true, NameOpcode::kQuery, kAuthoritative | kRecursionDesired),
                         name, ttl, nb_flags, address);
}

Bytes BuildNodeStatusResponse(std::uint16_t id, const RawName& question,
                              std::span<const NodeName> names)
{
    names = names.first(std::min(names.size(), kMaxStatusEntries));
    Writer out;
    WriteHeader(out, id, Flags(true, NameOpcode::kQuery, kAuthoritative), 0, 1, 0);
    EncodeName(question, out);
    out.U16be(kTypeNbstat);
    out.U16be(kClassIn);
    out.U16be(0);  // TTL
    out.U16be(0);
    out.U16be(static_cast<std::uint16_t>(1 + names.size() * 18 + kStatisticsSize));
    out.U8(static_cast<std::uint8_t>(names.size()));
    for (const NodeName& entry : names) {
        out.Append(entry.name);
        out.U16be(entry.flags);
    }
    // Unit id (no hardware address to give), then counters that say nothing:
    // senders read the names and skip the rest.
    out.Fill(0, kStatisticsSize);
    return out.Take();
}

}  // namespace vindrel::netbios
