// The NetBIOS name service (RFC 1002, section 4.2): name queries that turn a
// name into an IPv4 address, and node status requests that list a host's
// names. Requests are built here; replies are judged here against the
// request they claim to answer, and anything that does not fit is ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/netbios/nb_name.h"
#include "platform/netbios/wire.h"

namespace vindrel::netbios {

inline constexpr std::uint16_t kNameServicePort = 137;

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
    bool group() const { return (flags & 0x8000) != 0; }
};

// The names a node status reply lists, or none when it is not a well-formed
// reply to request `id`.
std::optional<std::vector<NodeName>> ParseNodeStatusReply(ByteView reply, std::uint16_t id);

// The first unique messenger (<03>) name of a node: its computer name.
std::optional<RawName> FirstMessengerName(const std::vector<NodeName>& names);

}  // namespace vindrel::netbios
