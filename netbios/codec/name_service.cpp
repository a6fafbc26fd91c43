// NetBIOS name service packets: one reader and one writer for the header,
// the question and the resource record, and on them the client's judging of
// answers and the receiving side's reading of requests.
#include "netbios/codec/name_service.h"

#include <algorithm>
#include <utility>

namespace vindrel::netbios {
namespace {

constexpr std::uint16_t kClassIn = 0x0001;
constexpr std::uint16_t kOpcodeMask = 0x7800;
constexpr int kOpcodeShift = 11;
constexpr std::uint16_t kRcodeMask = 0x000F;
// The flag bits, for reading and writing alike.
constexpr std::pair<std::uint16_t, bool NameHeader::*> kFlagBits[] = {
    {0x8000, &NameHeader::response},            {0x0400, &NameHeader::authoritative},
    {0x0200, &NameHeader::truncated},           {0x0100, &NameHeader::recursion_desired},
    {0x0080, &NameHeader::recursion_available}, {0x0010, &NameHeader::broadcast},
};
// The record of a registration or release names the question by pointing at
// it: a compression pointer to the name at offset 12, right after the header.
constexpr std::uint16_t kPointerToQuestion = 0xC00C;
constexpr std::size_t kNbEntrySize = 6;
constexpr std::size_t kNodeNameSize = 18;
constexpr std::size_t kStatisticsSize = 46;
constexpr std::size_t kMaxStatusEntries = 255;

void WriteHeader(Writer& out, const NameHeader& h)
{
    auto flags = static_cast<std::uint16_t>(
        (static_cast<std::uint16_t>(h.opcode) << kOpcodeShift & kOpcodeMask) |
        (static_cast<std::uint16_t>(h.rcode) & kRcodeMask));
    for (const auto& [bit, field] : kFlagBits)
        if (h.*field) flags |= bit;
    for (const std::uint16_t v : {h.id, flags, h.questions, h.answers, h.authorities, h.additionals})
        out.U16be(v);
}

bool ReadHeader(Reader& in, NameHeader& h)
{
    std::uint16_t flags = 0;
    if (!in.U16be(h.id) || !in.U16be(flags) || !in.U16be(h.questions) || !in.U16be(h.answers) ||
        !in.U16be(h.authorities) || !in.U16be(h.additionals))
        return false;
    h.opcode = static_cast<NameOpcode>((flags & kOpcodeMask) >> kOpcodeShift);
    h.rcode = static_cast<NameRcode>(flags & kRcodeMask);
    for (const auto& [bit, field] : kFlagBits) h.*field = (flags & bit) != 0;
    return true;
}

void WriteQuestion(Writer& out, const RawName& name, RecordType type)
{
    EncodeName(name, out);
    out.U16be(static_cast<std::uint16_t>(type));
    out.U16be(kClassIn);
}

// The type and class that follow a name: class IN, and a type this service
// knows. A question asks for an NB or an NBSTAT record only.
bool ReadTypeIn(Reader& in, RecordType& type, bool question)
{
    std::uint16_t t = 0, cls = 0;
    if (!in.U16be(t) || !in.U16be(cls) || cls != kClassIn) return false;
    type = static_cast<RecordType>(t);
    return type == RecordType::kNb || type == RecordType::kNbstat ||
           (!question && type == RecordType::kNull);
}

bool ReadQuestion(Reader& in, RawName& name, RecordType& type)
{
    return DecodeName(in, name) && ReadTypeIn(in, type, true);
}

struct Record {
    RawName name{};
    RecordType type = RecordType::kNb;
    std::uint32_t ttl = 0;
    ByteView rdata;  // its length checked against what arrived
};

// A record named `name`, or pointing at the question when `name` is null.
void WriteRecord(Writer& out, const RawName* name, RecordType type, std::uint32_t ttl,
                 const Writer& rdata)
{
    if (name) EncodeName(*name, out);
    else out.U16be(kPointerToQuestion);
    out.U16be(static_cast<std::uint16_t>(type));
    out.U16be(kClassIn);
    out.U32be(ttl);
    const std::size_t rdlength = out.Reserve16();
    out.Append(rdata);
    out.PatchLength16be(rdlength);
}

// A record's name is spelled out or, when there is a `question` to point
// at, may be the pointer to it.
bool ReadRecord(Reader& in, const RawName* question, Record& r)
{
    Reader probe = in;
    std::uint16_t pointer = 0, rdlength = 0;
    if (question && probe.U16be(pointer) && pointer == kPointerToQuestion) {
        r.name = *question;
        in = probe;
    } else if (!DecodeName(in, r.name)) {
        return false;
    }
    return ReadTypeIn(in, r.type, false) && in.U32be(r.ttl) && in.U16be(rdlength) &&
           in.Take(rdlength, r.rdata);
}

// An NB record of one (NB_FLAGS, NB_ADDRESS) entry.
void WriteNbRecord(Writer& out, const RawName* name, std::uint32_t ttl, std::uint16_t nb_flags,
                   net::Ipv4 address)
{
    Writer entry;
    entry.U16be(nb_flags);
    entry.U32be(address);
    WriteRecord(out, name, RecordType::kNb, ttl, entry);
}

bool ReadNbEntry(Reader& in, std::uint16_t& nb_flags, net::Ipv4& address)
{
    if (in.remaining() < kNbEntrySize) return false;
    in.U16be(nb_flags);
    in.U32be(address);
    return true;
}

Bytes BuildQuestion(const NameHeader& h, const RawName& name, RecordType type)
{
    Writer out;
    WriteHeader(out, h);
    WriteQuestion(out, name, type);
    return out.Take();
}

}  // namespace

Bytes BuildNameQuery(std::uint16_t id, const RawName& name, bool broadcast)
{
    return BuildQuestion(
        {.id = id, .recursion_desired = true, .broadcast = broadcast, .questions = 1}, name,
        RecordType::kNb);
}

QueryAnswer JudgeNameQueryReply(ByteView reply, std::uint16_t id, const RawName& name)
{
    Reader in(reply);
    NameHeader h;
    if (!ReadHeader(in, h) || h.id != id || !h.response || h.opcode != NameOpcode::kQuery)
        return {};
    // A reply carries no question section; the answer names what it answers.
    if (h.questions != 0 || h.answers != 1) return {};
    if (h.rcode != NameRcode::kOk) {
        // A negative reply may omit the record; if it names one, it must be ours.
        RawName answered;
        if (in.remaining() > 0 && (!DecodeName(in, answered) || answered != name)) return {};
        return {QueryVerdict::kNegative, 0};
    }
    Record r;
    if (!ReadRecord(in, nullptr, r) || r.type != RecordType::kNb || r.name != name) return {};
    // RDATA: one or more (NB_FLAGS, NB_ADDRESS) pairs of six bytes each.
    if (r.rdata.empty() || r.rdata.size() % kNbEntrySize != 0) return {};
    Reader entries(r.rdata);
    std::uint16_t nb_flags = 0;
    net::Ipv4 address = 0;
    while (ReadNbEntry(entries, nb_flags, address))
        if (address != 0 && address != 0xFFFFFFFF) return {QueryVerdict::kPositive, address};
    return {};
}

Bytes BuildNodeStatusRequest(std::uint16_t id)
{
    return BuildQuestion({.id = id, .questions = 1}, WildcardName(), RecordType::kNbstat);
}

std::optional<std::vector<NodeName>> ParseNodeStatusReply(ByteView reply, std::uint16_t id)
{
    Reader in(reply);
    NameHeader h;
    Record r;
    if (!ReadHeader(in, h) || h.id != id || !h.response || h.opcode != NameOpcode::kQuery ||
        h.rcode != NameRcode::kOk || h.answers != 1 || h.questions != 0 ||
        !ReadRecord(in, nullptr, r) || r.type != RecordType::kNbstat)
        return std::nullopt;
    Reader body(r.rdata);
    std::uint8_t count = 0;
    if (!body.U8(count) || body.remaining() < std::size_t{count} * kNodeNameSize)
        return std::nullopt;
    std::vector<NodeName> names(count);
    for (NodeName& entry : names) {
        ByteView raw;
        body.Take(entry.name.size(), raw);
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

// A request for one of our names: the question, then the record pointing at it.
Bytes BuildNameRequest(NameHeader h, const RawName& name, std::uint32_t ttl,
                       std::uint16_t nb_flags, net::Ipv4 address)
{
    h.questions = 1;
    h.additionals = 1;
    Writer out;
    WriteHeader(out, h);
    WriteQuestion(out, name, RecordType::kNb);
    WriteNbRecord(out, nullptr, ttl, nb_flags, address);
    return out.Take();
}

// A response that answers with one NB record.
Bytes BuildNbAnswer(NameHeader h, const RawName& name, std::uint32_t ttl, std::uint16_t nb_flags,
                    net::Ipv4 address)
{
    h.response = true;
    h.answers = 1;
    Writer out;
    WriteHeader(out, h);
    WriteNbRecord(out, &name, ttl, nb_flags, address);
    return out.Take();
}

}  // namespace

std::optional<NamePacket> ParseNamePacket(ByteView bytes)
{
    Reader in(bytes);
    NamePacket p;
    // One question and at most one record (an answer or an additional one):
    // no packet of the name service this side takes part in has more.
    if (!ReadHeader(in, p) || p.questions > 1 || p.authorities != 0 ||
        p.answers + p.additionals > 1 || p.truncated)
        return std::nullopt;
    if (p.questions == 1) {
        if (!ReadQuestion(in, p.question, p.question_type)) return std::nullopt;
        p.has_question = true;
    }
    if (p.answers + p.additionals == 1) {
        Record r;
        if (!ReadRecord(in, p.has_question ? &p.question : nullptr, r)) return std::nullopt;
        p.has_record = true;
        p.record_name = r.name;
        p.record_type = r.type;
        p.ttl = r.ttl;
        p.rdata = r.rdata;
        Reader entry(p.rdata);
        p.has_address =
            p.record_type == RecordType::kNb && ReadNbEntry(entry, p.nb_flags, p.address);
    }
    if (in.remaining() != 0) return std::nullopt;
    return p;
}

Bytes BuildNameRegistration(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                            net::Ipv4 address, std::uint32_t ttl, bool broadcast)
{
    const NameHeader h{.id = id, .opcode = NameOpcode::kRegistration, .recursion_desired = true,
                       .broadcast = broadcast};
    return BuildNameRequest(h, name, ttl, nb_flags, address);
}

Bytes BuildNameRefresh(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                       net::Ipv4 address, std::uint32_t ttl)
{
    return BuildNameRequest({.id = id, .opcode = NameOpcode::kRefresh}, name, ttl, nb_flags,
                            address);
}

Bytes BuildNameRelease(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                       net::Ipv4 address, bool broadcast)
{
    return BuildNameRequest({.id = id, .opcode = NameOpcode::kRelease, .broadcast = broadcast},
                            name, 0, nb_flags, address);
}

Bytes BuildRegistrationResponse(std::uint16_t id, const RawName& name, NameRcode rcode,
                                std::uint16_t nb_flags, net::Ipv4 address, std::uint32_t ttl)
{
    const NameHeader h{.id = id, .opcode = NameOpcode::kRegistration, .authoritative = true,
                       .recursion_desired = true, .recursion_available = true, .rcode = rcode};
    return BuildNbAnswer(h, name, ttl, nb_flags, address);
}

Bytes BuildNameQueryResponse(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                             net::Ipv4 address, std::uint32_t ttl)
{
    return BuildNbAnswer({.id = id, .authoritative = true, .recursion_desired = true}, name, ttl,
                         nb_flags, address);
}

Bytes BuildNodeStatusResponse(std::uint16_t id, const RawName& question,
                              std::span<const NodeName> names)
{
    names = names.first(std::min(names.size(), kMaxStatusEntries));
    Writer rdata;
    rdata.Count8(names.size());
    for (const NodeName& entry : names) {
        rdata.Append(entry.name);
        rdata.U16be(entry.flags);
    }
    // Unit id (no hardware address to give), then counters that say nothing:
    // senders read the names and skip the rest.
    rdata.Fill(0, kStatisticsSize);
    Writer out;
    WriteHeader(out, {.id = id, .response = true, .authoritative = true, .answers = 1});
    WriteRecord(out, &question, RecordType::kNbstat, 0, rdata);
    return out.Take();
}

}  // namespace vindrel::netbios
