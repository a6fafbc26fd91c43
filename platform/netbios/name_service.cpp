// NetBIOS name query and node status packets.
#include "platform/netbios/name_service.h"

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

std::optional<RawName> FirstMessengerName(const std::vector<NodeName>& names)
{
    constexpr std::uint16_t kDeregistering = 0x1000, kInConflict = 0x0800;
    for (const NodeName& entry : names) {
        if (entry.group() || entry.name[15] != kMessengerSuffix ||
            (entry.flags & (kDeregistering | kInConflict)))
            continue;
        // The name goes out again as a NUL-terminated SMB string.
        const std::string text = NameText(entry.name);
        if (text.empty() || text.find('\0') != std::string::npos) continue;
        return entry.name;
    }
    return std::nullopt;
}

}  // namespace vindrel::netbios

namespace vindrel::netbios {

std::optional<NamePacket> ParseNamePacket(ByteView) { return std::nullopt; }
Bytes BuildNameRegistration(std::uint16_t, const RawName&, std::uint16_t, net::Ipv4, std::uint32_t, bool) { return {}; }
Bytes BuildNameRefresh(std::uint16_t, const RawName&, std::uint16_t, net::Ipv4, std::uint32_t) { return {}; }
Bytes BuildNameRelease(std::uint16_t, const RawName&, std::uint16_t, net::Ipv4, bool) { return {}; }
Bytes BuildRegistrationResponse(std::uint16_t, const RawName&, NameRcode, std::uint16_t, net::Ipv4) { return {}; }
Bytes BuildNameQueryResponse(std::uint16_t, const RawName&, std::uint16_t, net::Ipv4, std::uint32_t) { return {}; }
Bytes BuildNodeStatusResponse(std::uint16_t, const RawName&, std::span<const NodeName>) { return {}; }

}  // namespace vindrel::netbios
