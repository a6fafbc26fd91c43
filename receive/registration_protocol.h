// The registration socket's lines, both ways. vindrel-inbox asks vindreld to
// answer for its user's login name on the LAN ("REGISTER alice"); vindreld
// says where the name stands ("CLAIMING ALICE", "CLAIMED ALICE", "REFUSED
// ALICE owner 10.0.0.7", "REFUSED ALICE <why>", "RELEASED ALICE"). One line
// each, ended by a newline; both ends format and parse them here.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vindrel::registration {

// The longest line either end sends, its newline included.
inline constexpr std::size_t kMaxLine = 256;

enum class Verb {
    kRegister,  // the inbox: claim this login name
    kClaiming,  // the service is claiming the name on the LAN
    kClaimed,   // messages to the name reach this computer
    kRefused,   // not registered: Line::owner or Line::reason says why
    kReleased,  // the service is stopping
};

// Why the service refused a registration, when no other host owns the name.
enum class Refusal {
    kAlreadyRegistered,  // this connection registered a name before
    kNotOwnLogin,
    kNotNetbiosName,
    kTooMany,            // the service's or the socket's limit
    kTooManyClaims,      // this user's claims, for a while
};

// The words of a REFUSED line (and of the service's log line).
const char* Describe(Refusal refusal);

struct Line {
    Verb verb = Verb::kRegister;
    // REGISTER: the login name, as the user has it. Answers: the NetBIOS
    // name as the service shows it, 1 to 15 characters without a space.
    std::string name;
    // REFUSED because the host at this dotted IPv4 address owns the name.
    std::string owner;
    // REFUSED for any other reason: the words saying why.
    std::string reason;

    bool operator==(const Line&) const = default;
};

// The line as sent, its newline included.
std::string Format(const Line& line);

// One line as received, without its newline; none when it is not a line of
// this protocol. A REGISTER line names whatever follows the verb, so the
// service can refuse a login that is not a name in so many words.
std::optional<Line> Parse(std::string_view text);

// Whether the inbox can send `login` at all: not empty, no space or
// newline, and its line within kMaxLine.
bool CanRegister(std::string_view login);

}  // namespace vindrel::registration
