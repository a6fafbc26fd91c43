// The registration socket's lines: each as sent and read back, and lines
// either end must not take for what they are not.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "receive/registration_protocol.h"

namespace {

using vindrel::registration::Line;
using vindrel::registration::Verb;

TEST(RegistrationProtocol, EachLineReadsBackAsSent)
{
    const struct {
        Line line;
        std::string bytes;
    } rows[] = {
        {{Verb::kRegister, "alice", {}, {}}, "REGISTER alice\n"},
        {{Verb::kClaiming, "ALICE", {}, {}}, "CLAIMING ALICE\n"},
        {{Verb::kClaimed, "ALICE", {}, {}}, "CLAIMED ALICE\n"},
        {{Verb::kReleased, "ALICE", {}, {}}, "RELEASED ALICE\n"},
        {{Verb::kRefused, "ALICE", "10.77.1.11", {}}, "REFUSED ALICE owner 10.77.1.11\n"},
        {{Verb::kRefused, "BOB", {}, "not your own login name"},
         "REFUSED BOB not your own login name\n"},
        {{Verb::kRefused, "-", {}, "too many registrations"}, "REFUSED - too many registrations\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(vindrel::registration::Format(row.line), row.bytes);
        const std::string text = row.bytes.substr(0, row.bytes.size() - 1);
        EXPECT_EQ(vindrel::registration::Parse(text), row.line) << text;
    }
}

TEST(RegistrationProtocol, LinesOutsideTheProtocolAreNotTakenForAnswers)
{
    const struct {
        std::string text;
        std::optional<Line> want;
    } rows[] = {
        {"", std::nullopt},
        {"REGISTER", std::nullopt},
        {"HELLO ALICE", std::nullopt},
        {"claimed ALICE", std::nullopt},
        {"CLAIMED ", std::nullopt},
        {"CLAIMED SIXTEENCHARACTERS", std::nullopt},
        {"CLAIMED ALICE ", std::nullopt},
        {"CLAIMED ALICE owner 10.0.0.1", std::nullopt},
        {"REFUSED ALICE", std::nullopt},
        // An owner that is no address is only words.
        {"REFUSED ALICE owner 10.0.0.256", Line{Verb::kRefused, "ALICE", {}, "owner 10.0.0.256"}},
        {"REFUSED ALICE owner 10.0.0", Line{Verb::kRefused, "ALICE", {}, "owner 10.0.0"}},
        {"REFUSED ALICE owner 10.0.0.1 now",
         Line{Verb::kRefused, "ALICE", {}, "owner 10.0.0.1 now"}},
        {"REFUSED ALICE ", Line{Verb::kRefused, "ALICE", {}, ""}},
        // The service refuses these by name, so they must reach it whole.
        {"REGISTER ", Line{Verb::kRegister, "", {}, {}}},
        {"REGISTER a b", Line{Verb::kRegister, "a b", {}, {}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(vindrel::registration::Parse(row.text), row.want) << row.text;
}

TEST(RegistrationProtocol, OnlyLoginsALineCanCarryAreSent)
{
    using vindrel::registration::CanRegister;
    EXPECT_TRUE(CanRegister("alice"));
    EXPECT_TRUE(CanRegister(std::string(246, 'x')));  // "REGISTER " and a newline: 256 bytes
    EXPECT_FALSE(CanRegister(std::string(247, 'x')));
    for (const char* login : {"", "a b", "a\n"}) EXPECT_FALSE(CanRegister(login)) << login;
}

}  // namespace
