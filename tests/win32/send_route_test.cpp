// The way a send goes: which of the system's answers hand the send to the
// messenger client, and that the first of them decides for the rest of the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/send_route.h"

namespace vindrel::win32 {
namespace {

struct Call {
    std::u16string name, text;
    bool operator==(const Call&) const = default;
};

// A route on recorded sends: the system answers `system_status`, the client
// an outcome of its own (not received, the system's 2282).
struct RecordedRoute {
    explicit RecordedRoute(NetStatus system_status)
        : route([this, system_status](std::u16string_view name, std::u16string_view text) {
                    system.push_back({std::u16string(name), std::u16string(text)});
                    return SendOutcome::System(system_status);
                },
                [this](std::u16string_view name, std::u16string_view text) {
                    client.push_back({std::u16string(name), std::u16string(text)});
                    return SendOutcome{SendOutcome::Result::kNotReceived};
                })
    {
    }
    std::vector<Call> system, client;
    SendRoute route;
};

TEST(SendRoute, TheSystemCannotSendAtAll)
{
    const struct {
        const char* what;
        NetStatus status;
    } rows[] = {
        {"not supported (Vista and later)", 50},
        {"messenger service not installed", 2184},
        {"RPC server unavailable (service stopped)", 1722},
        {"no NetApi32.dll", 126},
        {"no NetMessageBufferSend", 127},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_TRUE(SystemCannotSend(row.status));
        RecordedRoute r(row.status);
        EXPECT_EQ(r.route.Send(u"pc42", u"hi").result, SendOutcome::Result::kNotReceived)
            << "the client's answer";
        EXPECT_EQ(r.route.Send(u"bob", u"again").result, SendOutcome::Result::kNotReceived);
        EXPECT_EQ(r.system, (std::vector<Call>{{u"pc42", u"hi"}})) << "asked once, never again";
        EXPECT_EQ(r.client, (std::vector<Call>{{u"pc42", u"hi"}, {u"bob", u"again"}}))
            << "the recipient that found out goes to the client too, and every later one";
    }
}

TEST(SendRoute, AnyOtherAnswerOfTheSystemStands)
{
    const struct {
        const char* what;
        NetStatus status;
    } rows[] = {
        {"delivered", 0},
        {"name not found", 2273},
        {"network error", 2136},
        {"bad receive", 2282},
        {"invalid parameter", 87},
        {"access denied", 5},
        {"bad network path", 53},
        {"negative", -50},
        {"not supported, shifted", 50 + 65536},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_FALSE(SystemCannotSend(row.status));
        RecordedRoute r(row.status);
        EXPECT_EQ(StatusNumber(r.route.Send(u"pc42", u"hi")), row.status);
        EXPECT_EQ(StatusNumber(r.route.Send(u"bob", u"again")), row.status);
        EXPECT_EQ(r.system, (std::vector<Call>{{u"pc42", u"hi"}, {u"bob", u"again"}}))
            << "asked for every recipient";
        EXPECT_TRUE(r.client.empty());
    }
}

TEST(SendRoute, TheDecisionSticksWhateverTheClientAnswers)
{
    int system_calls = 0;
    const NetStatus client_answers[] = {2273, 2136, 0};
    int client_calls = 0;
    SendRoute route(
        [&](std::u16string_view, std::u16string_view) {
            ++system_calls;
            return SendOutcome::System(system_calls == 1 ? 2273 : 50);
        },
        [&](std::u16string_view, std::u16string_view) {
            return SendOutcome::System(client_answers[client_calls++ % 3]);
        });
    const auto number = [&](std::u16string_view name) { return StatusNumber(route.Send(name, u"x")); };
    EXPECT_EQ(number(u"a"), 2273) << "a recipient failure does not decide";
    EXPECT_EQ(number(u"b"), 2273) << "the client's answer for the one that decided";
    EXPECT_EQ(number(u"c"), 2136);
    EXPECT_EQ(number(u"d"), 0);
    EXPECT_EQ(system_calls, 2);
    EXPECT_EQ(client_calls, 3);
}

}  // namespace
}  // namespace vindrel::win32
