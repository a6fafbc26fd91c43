// The NetBIOS name service (RFC 1002, section 4.2): name queries that turn a
// name into an IPv4 address, node status requests that list a host's names,
// and, for the receiving side, registration, refresh and release of our own
// names and the answers to other hosts. Packets are built here; what arrives
// is read by one reader and judged against what we sent or hold, and
// anything that does not fit is ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "netbios/codec/nb_name.h"
#include "netbios/codec/wire.h"
#include "platform/network.h"

namespace vindrel::netbios {

inline constexpr std::uint16_t kNameServicePort = 137;

enum class NameOpcode : std::uint8_t {
    kQuery = 0,
    kRegistration = 5,
    kRelease = 6,
    kWack = 7,
    kRefresh = 8,
    kRefreshAlt = 9,  // what some servers send for a refresh
    kMultiHomed = 15,
};

enum class NameRcode : std::uint8_t {
    kOk = 0,
    kFormatError = 1,
    kServerFailure = 2,
    kNameError = 3,
    kNotImplemented = 4,
    kRefused = 5,
    kActive = 6,    // the name is owned by another node
    kConflict = 7,
};

// NULL is what some servers give a wait-for-acknowledgement record.
enum class RecordType : std::uint16_t { kNull = 0x000A, kNb = 0x0020, kNbstat = 0x0021 };

// NB_FLAGS of a name: group bit, owner node type, and the node status flags.
inline constexpr std::uint16_t kNbGroup = 0x8000;
inline constexpr std::uint16_t kNbOntB = 0x0000;
inline constexpr std::uint16_t kNbOntM = 0x4000;
inline constexpr std::uint16_t kNbActive = 0x0400;

// The header of every name service packet, its flag bits as fields; both
// ends read and write it through one pair of functions.
struct NameHeader {
    std::uint16_t id = 0;
    bool response = false;
    NameOpcode opcode = NameOpcode::kQuery;
    bool authoritative = false;
    bool truncated = false;
    bool recursion_desired = false;
    bool recursion_available = false;
    bool broadcast = false;
    NameRcode rcode = NameRcode::kOk;
    std::uint16_t questions = 0, answers = 0, authorities = 0, additionals = 0;
};

// `broadcast` sets the B flag (a query to the local segment); without it the
// query is for a name server, which answers for registered names only.
Bytes BuildNameQuery(std::uint16_t id, const RawName& name, bool broadcast);

enum class QueryVerdict {
    kIgnore,    // not an answer to this query: wrong id, name, shape, ...
    kPositive,  // the name is held at `address`
    kNegative,  // a name server says nobody holds the name
};

struct QueryAnswer {
    QueryVerdict verdict = QueryVerdict::kIgnore;
    std::uint32_t address = 0;  // IPv4, host byte order
};

QueryAnswer JudgeNameQueryReply(ByteView reply, std::uint16_t id, const RawName& name);

Bytes BuildNodeStatusRequest(std::uint16_t id);

struct NodeName {
    RawName name{};
    std::uint16_t flags = 0;
    bool group() const { return (flags & kNbGroup) != 0; }
};

// The names a node status reply lists, or none when it is not a well-formed
// reply to request `id`.
std::optional<std::vector<NodeName>> ParseNodeStatusReply(ByteView reply, std::uint16_t id);

// True for a name a message can be sent to: a unique <03> name, neither
// being released nor in conflict, that goes out whole as an SMB string.
bool IsMessengerName(const NodeName& entry);

// The first messenger name of a node: its computer name.
std::optional<RawName> FirstMessengerName(const std::vector<NodeName>& names);

// --- every packet, as the receiving side reads and builds them ---------------

// The parts of a name service packet the service looks at. Only packets with
// at most one question and one resource record are read; the record's name
// may be a pointer to the question's name, as registrations send it.
struct NamePacket : NameHeader {
    bool has_question = false;
    RawName question{};
    RecordType question_type = RecordType::kNb;

    bool has_record = false;  // an answer or an additional record
    RawName record_name{};
    RecordType record_type = RecordType::kNb;
    std::uint32_t ttl = 0;
    ByteView rdata;  // into the packet; checked against what arrived

    // The first NB entry of an NB record's RDATA (none when it has no whole
    // six-byte entry).
    bool has_address = false;
    std::uint16_t nb_flags = 0;
    net::Ipv4 address = 0;
};

// None when the packet is cut short, has counts other than the shapes above,
// a name that is not a plain encoded one, a class other than IN, or trailing
// bytes.
std::optional<NamePacket> ParseNamePacket(ByteView packet);

// Registration, refresh and release requests for one of our unique names.
// A broadcast registration asks for recursion as RFC 1002's B-node does; a
// request to a WINS server is unicast.
Bytes BuildNameRegistration(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                            net::Ipv4 address, std::uint32_t ttl, bool broadcast);
Bytes BuildNameRefresh(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                       net::Ipv4 address, std::uint32_t ttl);
Bytes BuildNameRelease(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                       net::Ipv4 address, bool broadcast);

// A response to a registration: negative (`rcode` kActive) when we defend a
// name, the record repeating what the requester asked for; a WINS server's
// positive one grants `ttl`.
Bytes BuildRegistrationResponse(std::uint16_t id, const RawName& name, NameRcode rcode,
                                std::uint16_t nb_flags, net::Ipv4 address, std::uint32_t ttl = 0);

// A positive name query response: `name` is held at `address`.
Bytes BuildNameQueryResponse(std::uint16_t id, const RawName& name, std::uint16_t nb_flags,
                             net::Ipv4 address, std::uint32_t ttl);

// A node status response to a request for `question`, listing `names` (at
// most 255) followed by a statistics block with a zero unit id.
Bytes BuildNodeStatusResponse(std::uint16_t id, const RawName& question,
                              std::span<const NodeName> names);

}  // namespace vindrel::netbios
