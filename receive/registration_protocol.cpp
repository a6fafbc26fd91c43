// The registration socket's lines: one table of verbs, one format, one parse.
#include "receive/registration_protocol.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "platform/ipv4_text.h"

namespace vindrel::registration {
namespace {

constexpr std::array<std::pair<Verb, std::string_view>, 5> kVerbs{{
    {Verb::kRegister, "REGISTER"},
    {Verb::kClaiming, "CLAIMING"},
    {Verb::kClaimed, "CLAIMED"},
    {Verb::kRefused, "REFUSED"},
    {Verb::kReleased, "RELEASED"},
}};

constexpr std::size_t kNameChars = 15;  // a NetBIOS name's, as the service shows it
constexpr std::string_view kOwner = "owner";

std::string_view Word(Verb verb)
{
    for (const auto& [v, word] : kVerbs)
        if (v == verb) return word;
    return {};
}

// The words between single spaces; two spaces make an empty word.
std::vector<std::string_view> Words(std::string_view text)
{
    std::vector<std::string_view> words;
    for (std::size_t start = 0;;) {
        const std::size_t space = text.find(' ', start);
        words.push_back(text.substr(start, space - start));
        if (space == std::string_view::npos) return words;
        start = space + 1;
    }
}

}  // namespace

const char* Describe(Refusal refusal)
{
    switch (refusal) {
    case Refusal::kAlreadyRegistered: return "this connection already registered a name";
    case Refusal::kNotOwnLogin: return "not your own login name";
    case Refusal::kNotNetbiosName: return "not a valid NetBIOS name";
    case Refusal::kTooMany: break;
    case Refusal::kTooManyClaims: return "too many claims from that user; try again later";
    }
    return "too many registrations";
}

std::string Format(const Line& line)
{
    std::string out = std::string(Word(line.verb)) + " " + line.name;
    if (line.verb == Verb::kRefused)
        out += " " + (line.owner.empty() ? line.reason : std::string(kOwner) + " " + line.owner);
    return out + "\n";
}

std::optional<Line> Parse(std::string_view text)
{
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const std::string_view verb_word = text.substr(0, space);
    const std::string_view rest = text.substr(space + 1);
    Line line;
    const auto verb = std::find_if(kVerbs.begin(), kVerbs.end(),
                                   [&](const auto& entry) { return entry.second == verb_word; });
    if (verb == kVerbs.end()) return std::nullopt;
    line.verb = verb->first;
    if (line.verb == Verb::kRegister) {
        line.name = rest;
        return line;
    }
    const std::vector<std::string_view> words = Words(rest);
    if (words[0].empty() || words[0].size() > kNameChars) return std::nullopt;
    line.name = words[0];
    if (line.verb != Verb::kRefused) {
        if (words.size() != 1) return std::nullopt;
        return line;
    }
    if (words.size() < 2) return std::nullopt;
    if (words.size() == 3 && words[1] == kOwner && ParseDottedIpv4(words[2])) line.owner = words[2];
    else line.reason = rest.substr(words[0].size() + 1);
    return line;
}

bool CanRegister(std::string_view login)
{
    return !login.empty() && login.find_first_of(" \n") == std::string_view::npos &&
           Format({Verb::kRegister, std::string(login), {}, {}}).size() <= kMaxLine;
}

}  // namespace vindrel::registration
