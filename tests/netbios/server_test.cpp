// The receiving side: its codecs against the client's, the name server on a
// scripted clock, the message session fed bytes, and our own client
// delivering through both in this process. Nothing here opens a socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <thread>

#include "netbios/client/messenger_client.h"
#include "netbios/server/message_session.h"
#include "netbios/server/name_server.h"
#include "tests/netbios/fake_lan.h"
#include "tests/netbios/packet_builders.h"

namespace vindrel::netbios {
namespace {

using fake::Ip;
using fake::NameOf;
using std::chrono::milliseconds;
using K = NameEventKind;
using Lines = std::vector<std::string>;

const net::Interface kLan{Ip(10, 0, 0, 9), 0xFFFFFF00, Ip(10, 0, 0, 255)};
const net::Ipv4 kWins = Ip(10, 0, 0, 2);
const net::Ipv4 kPeer = Ip(10, 0, 0, 7);
const RawName kRx1 = NameOf(u"RX1");
const RawName kAlice = NameOf(u"ALICE");

template <typename Judge>
void ForEveryCut(const Bytes& whole, Judge judge)
{
    for (std::size_t n = 0; n < whole.size(); ++n) {
        SCOPED_TRACE("cut at " + std::to_string(n));
        judge(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
    }
}

std::string Dotted(net::Ipv4 a)
{
    return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." +
           std::to_string(a >> 8 & 255) + "." + std::to_string(a & 255);
}

// A packet in one line, for tables: opcode, flags, rcode, question, record.
std::string Shape(const NamePacket& p)
{
    std::string s = p.response ? "answer " : "";
    s += std::to_string(static_cast<int>(p.opcode));
    if (p.broadcast) s += " B";
    if (p.rcode != NameRcode::kOk) s += " rcode " + std::to_string(static_cast<int>(p.rcode));
    if (p.has_question) s += " ?" + NameText(p.question);
    if (p.has_record) s += " " + NameText(p.record_name);
    if (p.has_address) s += "@" + Dotted(p.address);
    return s;
}

// --- codecs ----------------------------------------------------------------------

TEST(ServerCodecs, NamePacketsRoundTripAndRefuseHostileBytes)
{
    const net::Ipv4 us = kLan.address;
    const std::pair<Bytes, std::string> packets[] = {
        {BuildNameRegistration(1, kRx1, kNbOntB, us, 300000, true), "5 B ?RX1 RX1@10.0.0.9"},
        {BuildNameRefresh(1, kRx1, kNbOntM, us, 300000), "8 ?RX1 RX1@10.0.0.9"},
        {BuildNameRelease(1, kRx1, kNbOntB, us, true), "6 B ?RX1 RX1@10.0.0.9"},
        {BuildRegistrationResponse(1, kRx1, NameRcode::kActive, 0, us), "answer 5 rcode 6 RX1@10.0.0.9"},
        {BuildNameQuery(1, kRx1, true), "0 B ?RX1"},
        {BuildNameQueryResponse(1, kRx1, 0, us, 60), "answer 0 RX1@10.0.0.9"},
    };
    for (const auto& [bytes, shape] : packets) {
        SCOPED_TRACE(shape);
        const auto p = ParseNamePacket(bytes);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(Shape(*p), shape);
        ForEveryCut(bytes, [](const Bytes& cut) { EXPECT_FALSE(ParseNamePacket(cut)); });
        Bytes longer = bytes;
        longer.push_back(0);
        EXPECT_FALSE(ParseNamePacket(longer)) << "a byte past the packet";
    }
    // A request's record points at its question (RFC 1002 4.2.2); a pointer
    // where there is no question is refused, as is every field out of shape.
    const Bytes& reg = packets[0].first;
    EXPECT_EQ(reg[50] << 8 | reg[51], 0xC00C);
    Bytes dangling = packets[3].first;
    dangling.erase(dangling.begin() + 12, dangling.begin() + 46);
    dangling.insert(dangling.begin() + 12, {0xC0, 0x0C});
    EXPECT_FALSE(ParseNamePacket(dangling));
    const std::tuple<const char*, std::size_t, std::uint8_t> hostile[] = {
        {"two questions", 5, 2},  {"an authority record", 9, 1}, {"two records", 7, 1},
        {"truncated", 2, 0x2A},   {"class not IN", 49, 2},        {"question type A", 47, 1},
        {"pointer elsewhere", 51, 0x0D}, {"rdlength beyond", 61, 7},
    };
    for (const auto& [what, at, value] : hostile) {
        Bytes bad = reg;
        bad[at] = value;
        EXPECT_FALSE(ParseNamePacket(bad)) << what;
    }
}

TEST(ServerCodecs, SessionAndSmbRequestsRefuseCutsAndExtraBytes)
{
    const Bytes request = BuildSessionRequest(kRx1, NameOf(u"CLI", 0));
    const Bytes body(request.begin() + 4, request.end());
    RawName called, calling;
    ASSERT_TRUE(ParseSessionRequest(body, called, calling));
    EXPECT_EQ(called, kRx1);
    ForEveryCut(body, [&](const Bytes& cut) { EXPECT_FALSE(ParseSessionRequest(cut, called, calling)); });

    const std::uint8_t text[] = {'h', 'i'};
    for (const Bytes& whole : {BuildSendStart(1, "CLI", "RX1"), BuildSendText(2, 9, text),
                               BuildSendEnd(3, 9), BuildSendMessage(4, "A", "B", text)}) {
        SmbRequest r;
        ASSERT_EQ(ParseSmbRequest(whole, r), SmbParse::kOk);
        ForEveryCut(whole, [&r](const Bytes& cut) { EXPECT_NE(ParseSmbRequest(cut, r), SmbParse::kOk); });
        Bytes longer = whole;
        longer.push_back(0);
        EXPECT_EQ(ParseSmbRequest(longer, r), SmbParse::kBadCounts) << "a byte past the count";
        // An error answers the very request, as the client judges replies.
        const SmbReply judged = JudgeSmbReply(BuildSmbError(r.header, SmbErrorClass::kServer, kErrSrvNoRoom),
                                              whole[4], r.header.mid);
        EXPECT_EQ(judged.verdict, SmbVerdict::kRefused);
        EXPECT_EQ(judged.status, 0x00530002u);
    }
}

// --- the name server -------------------------------------------------------------------

// A name server on a scripted clock, with what it sent ("ms to: shape") and told.
struct NameLab {
    NameServer server;
    int now_ms = 0;
    Lines sent;
    std::vector<std::pair<net::Ipv4, NamePacket>> packets;  // views into `bytes`
    std::vector<Bytes> bytes;
    std::vector<NameEvent> events;
    std::vector<K> kinds;  // of the events

    explicit NameLab(net::Ipv4 wins = 0) : server(NameServerConfig{{kLan}, wins, 7}) {}

    static net::Clock::time_point At(int ms) { return net::Clock::time_point{} + milliseconds(ms); }
    net::Clock::time_point Now() const { return At(now_ms); }

    void Collect()
    {
        for (OutgoingDatagram& d : server.TakeOutgoing()) {
            bytes.push_back(std::move(d.bytes));
            const auto p = ParseNamePacket(bytes.back());
            ASSERT_TRUE(p.has_value()) << "sent a packet our own reader refuses";
            packets.emplace_back(d.address, *p);
            sent.push_back(std::to_string(now_ms) + " " + Dotted(d.address) + ": " + Shape(*p) +
                           (d.from == kLan.address ? "" : " from " + Dotted(d.from)));
        }
        for (const NameEvent& e : server.TakeEvents()) {
            events.push_back(e);
            kinds.push_back(e.kind);
        }
    }
    void Claim(const RawName& name)
    {
        EXPECT_EQ(server.Claim(name, Now()), ClaimResult::kStarted);
        Collect();
    }
    // Follows the server's timers up to `ms`.
    void RunTo(int ms)
    {
        while (const auto next = server.NextTimer()) {
            const int at = static_cast<int>(std::chrono::duration_cast<milliseconds>(*next - At(0)).count());
            if (at > ms) break;
            now_ms = std::max(now_ms, at);
            server.OnTimer(Now());
            Collect();
        }
        now_ms = ms;
    }
    void Receive(const Bytes& datagram, net::Ipv4 from = kPeer, std::uint16_t port = 137)
    {
        server.OnDatagram(datagram, from, port, kLan.address, Now());
        Collect();
    }
    std::uint16_t LastId() const { return packets.back().second.id; }
    const Bytes& Last() const { return bytes.back(); }
};

TEST(NameServer, AClaimBroadcastsThreeTimesThenHoldsTheNameAndIdles)
{
    NameLab lab;
    lab.Claim(kRx1);
    EXPECT_EQ(lab.server.Claim(kRx1, lab.Now()), ClaimResult::kAlreadyHeld);
    lab.RunTo(10000);
    const std::string claim = " 10.0.0.255: 5 B ?RX1 RX1@10.0.0.9";
    EXPECT_EQ(lab.sent, (Lines{"0" + claim, "250" + claim, "500" + claim}));
    EXPECT_EQ(lab.packets[0].second.id, lab.LastId()) << "one transaction";
    EXPECT_EQ(lab.kinds, (std::vector<K>{K::kClaiming, K::kClaimed}));
    EXPECT_EQ(lab.server.StateOf(kRx1), NameState::kClaimed);
    EXPECT_FALSE(lab.server.NextTimer().has_value()) << "an idle server wants no wake-ups";
}

TEST(NameServer, OnlyTheOwnersAnswerToOurClaimRefusesIt)
{
    // What answers, the id's offset from the claim's, the name, rcode and source.
    const std::tuple<const char*, int, RawName, NameRcode, net::Ipv4> cases[] = {
        {"the owner objects", 0, kRx1, NameRcode::kActive, kPeer},
        {"another transaction", 1, kRx1, NameRcode::kActive, kPeer},
        {"another name", 0, kAlice, NameRcode::kActive, kPeer},
        {"a positive answer", 0, kRx1, NameRcode::kOk, kPeer},
        {"off our subnet", 0, kRx1, NameRcode::kActive, Ip(10, 0, 1, 7)},
        {"the subnet's broadcast address", 0, kRx1, NameRcode::kActive, kLan.broadcast},
        {"our own address", 0, kRx1, NameRcode::kActive, kLan.address},
    };
    for (const auto& [what, id_offset, name, rcode, source] : cases) {
        SCOPED_TRACE(what);
        NameLab lab;
        lab.Claim(kRx1);
        lab.RunTo(300);
        const auto id = static_cast<std::uint16_t>(lab.LastId() + id_offset);
        lab.Receive(BuildRegistrationResponse(id, name, rcode, 0, source), source);
        lab.RunTo(2000);
        if (what != std::get<0>(cases[0])) {
            EXPECT_EQ(lab.server.StateOf(kRx1), NameState::kClaimed);
            continue;
        }
        EXPECT_EQ(lab.kinds, (std::vector<K>{K::kClaiming, K::kRefused}));
        EXPECT_EQ(lab.events.back().refusal, NameRefusal::kOwnedOnLan);
        EXPECT_EQ(lab.events.back().peer, kPeer);
        EXPECT_EQ(lab.sent.size(), 2u) << "no more tries, and nothing to release";
    }
}

TEST(NameServer, HeldNamesAreDefendedAnsweredListedAndReleased)
{
    NameLab lab;
    const RawName bob = NameOf(u"BOB");
    for (const RawName& name : {kRx1, kAlice, bob}) lab.Claim(name);
    lab.Receive(BuildRegistrationResponse(lab.LastId(), bob, NameRcode::kActive, 0, kPeer));
    lab.RunTo(1000);
    lab.sent.clear();

    lab.Receive(BuildNameRegistration(0x77, kAlice, 0, kPeer, 300000, true));
    lab.Receive(BuildNameQuery(0x78, kAlice, true));
    EXPECT_EQ(JudgeNameQueryReply(lab.Last(), 0x78, kAlice).address, kLan.address);
    lab.Receive(BuildNameQuery(0x79, WildcardName(), true));
    EXPECT_EQ(JudgeNameQueryReply(lab.Last(), 0x79, WildcardName()).address, kLan.address);
    lab.Receive(BuildNodeStatusRequest(0x7A));
    const auto names = ParseNodeStatusReply(lab.Last(), 0x7A);
    ASSERT_TRUE(names.has_value());
    ASSERT_EQ(names->size(), 2u) << "the refused name is not listed";
    EXPECT_EQ(FirstMessengerName(*names), kRx1) << "the first claimed comes first";
    // Not answered: a name not ours, our own packet, a released name.
    lab.Receive(BuildNameQuery(0x7B, bob, true));
    lab.Receive(BuildNameRegistration(0x7C, kAlice, 0, kLan.address, 300000, true), kLan.address);
    EXPECT_TRUE(lab.server.Release(kAlice, lab.Now()));
    lab.Collect();
    lab.Receive(BuildNameQuery(0x7D, kAlice, true));
    lab.server.ReleaseAll(lab.Now());
    lab.Collect();
    EXPECT_EQ(lab.sent, (Lines{"1000 10.0.0.7: answer 5 rcode 6 ALICE@10.0.0.7",
                               "1000 10.0.0.7: answer 0 ALICE@10.0.0.9",
                               "1000 10.0.0.7: answer 0 *@10.0.0.9",
                               "1000 10.0.0.7: answer 0 *",
                               "1000 10.0.0.255: 6 B ?ALICE ALICE@10.0.0.9",
                               "1000 10.0.0.255: 6 B ?RX1 RX1@10.0.0.9"}));
    EXPECT_EQ(lab.kinds, (std::vector<K>{K::kClaiming, K::kClaiming, K::kClaiming, K::kRefused, K::kClaimed,
                                           K::kClaimed, K::kDefended, K::kReleased, K::kReleased}));
    EXPECT_EQ(lab.events[6].peer, kPeer);
    EXPECT_FALSE(lab.server.NextTimer().has_value());
}

TEST(NameServer, ANameStillBeingClaimedIsNeitherAnsweredNorDefended)
{
    // Each request once during the claim, then again once the name is held.
    const std::pair<const char*, Bytes> requests[] = {
        {"a query for it", BuildNameQuery(0x51, kRx1, true)},
        {"a query for everyone", BuildNameQuery(0x52, WildcardName(), true)},
        {"a node status request", BuildNodeStatusRequest(0x53)},
        {"another host registering it", BuildNameRegistration(0x54, kRx1, 0, kPeer, 300000, true)},
    };
    for (const auto& [what, request] : requests) {
        SCOPED_TRACE(what);
        NameLab lab;
        lab.Claim(kRx1);
        lab.RunTo(300);
        const std::size_t claims = lab.sent.size();
        lab.Receive(request);
        EXPECT_EQ(lab.sent.size(), claims) << "answered while claiming";
        EXPECT_EQ(lab.kinds, (std::vector<K>{K::kClaiming}));
        lab.RunTo(1000);
        ASSERT_EQ(lab.server.StateOf(kRx1), NameState::kClaimed);
        const std::size_t held = lab.sent.size();
        lab.Receive(request);
        ASSERT_EQ(lab.sent.size(), held + 1) << "not answered once held";
        EXPECT_EQ(lab.sent.back().substr(0, 21), "1000 10.0.0.7: answer");
    }
}

TEST(NameServer, ThisComputerMayAskButNotChangeWhatWeHold)
{
    // From loopback or our own address: a question, or our own broadcast
    // come back, or a local program trying to take or drop our name.
    const net::Ipv4 loopback = Ip(127, 0, 0, 1);
    const std::tuple<const char*, net::Ipv4, Bytes, const char*> cases[] = {
        {"a query from loopback", loopback, BuildNameQuery(1, kRx1, false), "answer 0 RX1@10.0.0.9"},
        {"a query from our address", kLan.address, BuildNameQuery(2, kRx1, false),
         "answer 0 RX1@10.0.0.9"},
        {"node status from 127.0.0.5", Ip(127, 0, 0, 5), BuildNodeStatusRequest(3), "answer 0 *"},
        {"a registration from loopback", loopback,
         BuildNameRegistration(4, kRx1, 0, loopback, 300000, false), nullptr},
        {"a release from our address", kLan.address,
         BuildNameRelease(5, kRx1, 0, kLan.address, true), nullptr},
        {"an objection from loopback", loopback,
         BuildRegistrationResponse(6, kRx1, NameRcode::kActive, 0, loopback), nullptr},
    };
    for (const auto& [what, source, datagram, answer] : cases) {
        SCOPED_TRACE(what);
        NameLab lab;
        lab.Claim(kRx1);
        lab.RunTo(1000);
        lab.sent.clear();
        lab.Receive(datagram, source);
        EXPECT_EQ(lab.sent, answer ? Lines{"1000 " + Dotted(source) + ": " + answer} : Lines{});
        EXPECT_EQ(lab.server.StateOf(kRx1), NameState::kClaimed);
    }
}

TEST(NameServer, WinsRegistersRefreshesRefusesAndReleases)
{
    struct Case {
        const char* what;
        NameRcode rcode;  // of the server's answer
        bool answer;      // false: the server stays silent
        bool wack_first;  // the server first asks us to wait
        std::vector<K> want;
        Lines to_wins;    // opcodes sent to the server, released at the end
    };
    const Case cases[] = {
        {"accepted", NameRcode::kOk, true, false, {K::kClaiming, K::kWinsRegistered, K::kClaimed},
         {"5", "8", "6"}},
        {"accepted after a wait", NameRcode::kOk, true, true, {K::kClaiming, K::kWinsRegistered, K::kClaimed},
         {"5", "8", "6"}},
        // Kept on the LAN, where no one objected; the server asked again later.
        {"refused", NameRcode::kActive, true, false, {K::kClaiming, K::kWinsRefused, K::kClaimed},
         {"5", "5", "5", "5", "5", "5", "5", "6"}},
        // Three tries, then again after a minute, after two, ...
        {"silent", NameRcode::kOk, false, false, {K::kClaiming, K::kWinsSilent, K::kClaimed},
         {"5", "5", "5", "5", "5", "5", "5", "5", "5", "6"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NameLab lab(kWins);
        lab.Claim(kRx1);
        const NamePacket first = lab.packets[0].second;
        if (c.wack_first) {
            Bytes wack = BuildRegistrationResponse(first.id, kRx1, NameRcode::kOk, 0, kLan.address, 5);
            wack[2] = static_cast<std::uint8_t>((wack[2] & 0x87) | static_cast<int>(NameOpcode::kWack) << 3);
            lab.Receive(wack, kWins);
            lab.RunTo(4900);  // no retry meanwhile: the server asked us to wait
        }
        const int registered_ms = lab.now_ms;
        if (c.answer)
            lab.Receive(BuildRegistrationResponse(first.id, kRx1, c.rcode, kNbOntM, kLan.address, 600), kWins);
        lab.RunTo(lab.now_ms + 5000);
        EXPECT_EQ(lab.kinds, c.want);
        EXPECT_EQ(lab.events[1].rcode, c.rcode);
        // Refreshed at half the granted TTL; released with the server at the end.
        lab.RunTo(registered_ms + 300 * 1000 + 500);
        EXPECT_EQ(lab.server.StateOf(kRx1), NameState::kClaimed);
        lab.server.ReleaseAll(lab.Now());
        lab.Collect();
        Lines to_wins;
        for (const auto& [to, p] : lab.packets)
            if (to == kWins) to_wins.push_back(std::to_string(static_cast<int>(p.opcode)));
        EXPECT_EQ(to_wins, c.to_wins);
    }
}

TEST(NameServer, AnswersAreRateLimitedPerSourceAndInAll)
{
    NameLab lab;
    lab.Claim(kRx1);
    lab.RunTo(1000);
    lab.sent.clear();
    const auto flood = [&lab](int count, net::Ipv4 first_source, net::Ipv4 sources, bool status = false) {
        for (int i = 0; i < count; ++i)
            lab.Receive(status ? BuildNodeStatusRequest(static_cast<std::uint16_t>(i))
                               : BuildNameQuery(static_cast<std::uint16_t>(i), kRx1, true),
                        first_source + static_cast<net::Ipv4>(i) % sources);
        return lab.sent.size();
    };
    EXPECT_EQ(flood(1000, kPeer, 1), std::size_t{kAnswersPerSourceBurst});
    lab.now_ms += 1000;  // a second later, the bucket has refilled a little
    EXPECT_EQ(flood(1000, kPeer, 1), std::size_t{kAnswersPerSourceBurst + kAnswersPerSourcePerSecond});
    lab.now_ms += 60 * 1000;
    lab.sent.clear();
    EXPECT_EQ(flood(1000, Ip(10, 1, 0, 0), 1000, true), std::size_t{kAnswersBurst}) << "forged sources";
    EXPECT_EQ(std::count(lab.kinds.begin(), lab.kinds.end(), K::kAnswersLimited), 2)
        << "one report per interval, however many refusals";
    EXPECT_EQ(lab.server.stats().limited, 3000u - kAnswersPerSourceBurst - kAnswersPerSourcePerSecond -
                                              kAnswersBurst);
}

TEST(NameServer, FloodsSpendTheirOwnBudgetsAndTheWinsServerIsAlwaysAnswered)
{
    NameLab lab(kWins);
    lab.Claim(kRx1);
    lab.Receive(BuildRegistrationResponse(lab.packets[0].second.id, kRx1, NameRcode::kOk, kNbOntM, kLan.address, 600),
                kWins);
    lab.RunTo(1000);
    // In order, on one clock: each row finds the budgets the rows before it left.
    const struct {
        const char* what;
        bool status;  // node status requests, else queries for our name
        net::Ipv4 first_source, sources;
        std::uint16_t port;
        std::size_t answered;  // of 1000
    } rows[] = {
        {"node status from forged sources: the shared budget", true, Ip(10, 1, 0, 0), 1000, 137,
         kAnswersBurst},
        {"queries from forged sources: one answer each", false, Ip(10, 2, 0, 0), 1000, 137, 1000},
        {"a real asker, the shared budget spent", false, kPeer, 1, 137, kAnswersPerSourceBurst},
        {"the WINS server's address from another port", false, kWins, 1, 1137, kAnswersPerSourceBurst},
        {"the WINS server, its own budget spent", false, kWins, 1, 137, 1000},
        {"the WINS server's node status", true, kWins, 1, 137, 1000},
    };
    for (const auto& row : rows) {
        lab.sent.clear();
        for (int i = 0; i < 1000; ++i)
            lab.Receive(row.status ? BuildNodeStatusRequest(static_cast<std::uint16_t>(i))
                                   : BuildNameQuery(static_cast<std::uint16_t>(i), kRx1, false),
                        row.first_source + static_cast<net::Ipv4>(i) % row.sources, row.port);
        EXPECT_EQ(lab.sent.size(), row.answered) << row.what;
    }
}

TEST(NameServer, NamesFollowTheInterfaces)
{
    const net::Interface moved{Ip(10, 0, 0, 19), 0xFFFFFF00, Ip(10, 0, 0, 255)};
    const net::Interface other{Ip(10, 0, 1, 9), 0xFFFFFF00, Ip(10, 0, 1, 255)};
    // The interfaces now; whether RX1 is released on the old one; where it is claimed again.
    const std::tuple<const char*, std::vector<net::Interface>, bool, std::vector<net::Interface>>
        cases[] = {{"the same again", {kLan}, false, {}},
                   {"moved to another address", {moved}, true, {moved}},
                   {"another interface added", {kLan, other}, false, {kLan, other}},
                   {"every interface gone", {}, true, {}}};
    for (const auto& [what, now, released, claimed_on] : cases) {
        SCOPED_TRACE(what);
        NameLab lab;
        lab.Claim(kRx1);
        lab.RunTo(1000);
        lab.sent.clear();
        lab.kinds.clear();
        lab.server.SetInterfaces(now, lab.Now());
        lab.Collect();
        lab.RunTo(2000);
        Lines want;
        if (released) want.push_back("1000 10.0.0.255: 6 B ?RX1 RX1@10.0.0.9");
        for (const net::Interface& i : claimed_on)
            for (const char* ms : {"1000", "1250", "1500"})
                want.push_back(std::string(ms) + " " + Dotted(i.broadcast) + ": 5 B ?RX1 RX1@" +
                               Dotted(i.address) + (i.address == kLan.address ? "" : " from " + Dotted(i.address)));
        std::sort(want.begin(), want.end());
        std::sort(lab.sent.begin(), lab.sent.end());
        EXPECT_EQ(lab.sent, want);
        const std::vector<K> claimed{K::kClaiming, K::kClaimed};
        EXPECT_EQ(lab.kinds, claimed_on.empty() ? std::vector<K>{} : claimed);
        // Answered on the addresses served now, and on no other.
        for (const net::Interface& asked_on : {kLan, moved, other}) {
            lab.sent.clear();
            lab.server.OnDatagram(BuildNameQuery(0x42, kRx1, true), kPeer, 137, asked_on.address, lab.Now());
            lab.Collect();
            const bool served = std::any_of(now.begin(), now.end(),
                                            [&](const net::Interface& i) { return i.address == asked_on.address; });
            EXPECT_EQ(lab.sent.size(), served ? 1u : 0u) << Dotted(asked_on.address);
        }
    }
}

TEST(NameServer, AMovedNameIsReleasedAtTheWinsServerBeforeItIsRegisteredAgain)
{
    NameLab lab(kWins);
    lab.Claim(kRx1);
    lab.Receive(BuildRegistrationResponse(lab.packets[0].second.id, kRx1, NameRcode::kOk, kNbOntM,
                                          kLan.address, 600), kWins);
    lab.RunTo(1000);
    lab.sent.clear();
    lab.server.SetInterfaces({{Ip(10, 0, 0, 19), 0xFFFFFF00, Ip(10, 0, 0, 255)}}, lab.Now());
    lab.Collect();
    ASSERT_GE(lab.sent.size(), 3u);
    EXPECT_EQ(Lines(lab.sent.begin(), lab.sent.begin() + 3),
              (Lines{"1000 10.0.0.255: 6 B ?RX1 RX1@10.0.0.9", "1000 10.0.0.2: 6 ?RX1 RX1@10.0.0.9 from 10.0.0.19",
                     "1000 10.0.0.2: 5 ?RX1 RX1@10.0.0.19 from 10.0.0.19"}));
}

// --- the message session -------------------------------------------------------------------

Bytes Framed(ByteView smb) { return FrameSessionMessage(smb); }
Bytes SessionRequestTo(const RawName& called) { return BuildSessionRequest(called, NameOf(u"CLI", 0)); }

Bytes Joined(std::initializer_list<Bytes> parts, int last_times = 1)
{
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    const Bytes& last = *(parts.end() - 1);
    for (int i = 1; i < last_times; ++i) all.insert(all.end(), last.begin(), last.end());
    return all;
}

// A session of a receiver holding RX1, fed one byte at a time.
struct Conversation {
    MessageSession session{[](const RawName& n) { return n == kRx1; }};
    std::vector<Bytes> replies;  // whole frames

    void Send(const Bytes& bytes)
    {
        for (const std::uint8_t b : bytes) session.OnBytes(ByteView(&b, 1));
        Bank();
    }
    void Bank()
    {
        const Bytes out = session.TakeOutput();
        for (std::size_t at = 0; at + 4 <= out.size();) {
            const std::size_t end = at + 4 + (out[at + 2] << 8 | out[at + 3]);
            replies.emplace_back(&out[at], &out[end - 1] + 1);
            at = end;
        }
    }
    // The status of the last SMB reply (0: success), or the negative
    // session response's code as 0x83xx, or -1 for no reply at all.
    std::int64_t LastStatus() const
    {
        if (replies.empty()) return -1;
        const Bytes& r = replies.back();
        if (r[0] == kNegativeResponse) return 0x8300 | r[4];
        return r.size() < 13 ? -2 : r[9] | r[10] << 8 | r[11] << 16 | std::int64_t{r[12]} << 24;
    }
};

TEST(MessageSession, MultiAndSingleBlockMessagesArriveWholeAndAreAnsweredOnceKept)
{
    std::string text;
    for (int i = 0; i < 1600; ++i) text.push_back(static_cast<char>(0x20 + i % 0xDF));
    const ByteView bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    for (const bool single : {false, true}) {
        SCOPED_TRACE(single ? "single block" : "multi-block");
        Conversation c;
        c.Send(SessionRequestTo(kRx1));
        ASSERT_EQ(c.replies.back(), BuildPositiveSessionResponse());
        std::uint16_t mid = 1, group = 0;
        if (!single) {
            c.Send(Framed(BuildSendStart(mid, "ME", "RX1")));
            const SmbReply started = JudgeSmbReply(ByteView(c.replies.back()).subspan(4), kSendStartMb, mid);
            ASSERT_EQ(started.verdict, SmbVerdict::kAccepted);
            group = started.group;
            for (std::size_t at = 0; at < text.size(); at += kMaxTextBlock) {
                const auto block = bytes.subspan(at, std::min(kMaxTextBlock, text.size() - at));
                c.Send(Framed(BuildSendText(++mid, group, block)));
                EXPECT_EQ(c.LastStatus(), 0);
            }
            ++mid;
        }
        const std::size_t before = c.replies.size();
        c.Send(Framed(single ? BuildSendMessage(mid, "ME", "RX1", bytes) : BuildSendEnd(mid, group)));
        EXPECT_TRUE(c.session.awaiting_store());
        const auto message = c.session.TakeMessage();
        ASSERT_TRUE(message.has_value());
        EXPECT_EQ(message->text, text);
        EXPECT_EQ(message->originator + ">" + message->destination, "ME>RX1");
        EXPECT_EQ(message->called, kRx1);
        EXPECT_FALSE(c.session.TakeMessage().has_value()) << "handed over once";
        c.Bank();
        EXPECT_EQ(c.replies.size(), before) << "no answer before the message is kept";
        c.session.Stored(true);
        c.Bank();
        ASSERT_EQ(c.replies.size(), before + 1);
        EXPECT_EQ(JudgeSmbReply(ByteView(c.replies.back()).subspan(4), single ? kSendMessage : kSendEndMb, mid)
                      .verdict,
                  SmbVerdict::kAccepted);
        EXPECT_FALSE(c.session.closing());
    }
}

TEST(MessageSession, EverythingElseIsRefusedAndEndsTheSession)
{
    const std::uint8_t block[128] = {};
    const Bytes start = Framed(BuildSendStart(1, "ME", "RX1"));
    const auto patched = [&start](std::size_t at, std::uint8_t value) {
        Bytes b = start;
        b[at] = value;
        return b;
    };
    const std::int64_t kErr = 0x00010002, kCmd = 0x00400002, kRoom = 0x00530002;
    struct Case {
        const char* what;
        bool open_first;  // a positive session first
        Bytes input;
        SessionFault fault;
        std::int64_t status;
    };
    using F = SessionFault;
    const Case cases[] = {
        {"text before start", true, Framed(BuildSendText(1, 1, block)), F::kOutOfOrder, kErr},
        {"end without start", true, Framed(BuildSendEnd(1, 1)), F::kOutOfOrder, kErr},
        {"a second start", true, Joined({start, start}), F::kOutOfOrder, kErr},
        {"a wrong group", true, Joined({start, Framed(BuildSendEnd(2, 9))}), F::kOutOfOrder, kErr},
        {"another command", true, patched(4 + 4, 0x72), F::kUnsupportedCommand, kCmd},
        {"a reply, not a request", true, patched(4 + 9, 0x80), F::kNotSmb, kErr},
        {"byte count beyond the frame", true, patched(4 + 33, 200), F::kBadCommand, kErr},
        {"a string without its end", true, patched(start.size() - 1, 'X'), F::kBadCommand, kErr},
        {"an originator too long", true, Framed(BuildSendStart(1, std::string(kMaxMessageName + 1, 'N'), "RX1")),
         F::kNameTooLong, kErr},
        {"text over the limit", true, Joined({start, Framed(BuildSendText(2, 1, block))}, 13),
         F::kMessageTooLong, kRoom},
        {"a single block over the limit", true,
         Framed(BuildSendMessage(1, "ME", "RX1", Bytes(kMaxMessageText + 1, 'x'))), F::kMessageTooLong, kRoom},
        {"requests without end", true, Joined({start, Framed(BuildSendText(2, 1, {}))}, kMaxSmbRequests),
         F::kTooManyRequests, kErr},
        {"not SMB at all", true, Framed(Bytes(40, 'x')), F::kNotSmb, -1},
        {"a frame over the limit", true, {0, 0, 0x10, 0x01}, F::kFrameTooLarge, -1},
        {"unknown frame flags", true, {0, 0x02, 0, 0}, F::kBadFrame, -1},
        {"a second session request", true, SessionRequestTo(kRx1), F::kBadFrame, -1},
        {"keep-alives for ever", true, Joined({{kKeepAlive, 0, 0, 0}}, kMaxKeepAlives + 1),
         F::kTooManyKeepAlives, -1},
        {"a name not ours", false, SessionRequestTo(kAlice), F::kCalledNameNotPresent, 0x8382},
        {"a malformed request", false, Bytes{0x81, 0, 0, 2, 1, 2}, F::kBadSessionRequest, 0x838F},
        {"a message before the session", false, start, F::kBadFrame, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Conversation conv;
        if (c.open_first) conv.Send(SessionRequestTo(kRx1));
        conv.replies.clear();
        conv.Send(c.input);
        EXPECT_TRUE(conv.session.closing());
        EXPECT_EQ(conv.session.fault(), c.fault);
        EXPECT_EQ(conv.LastStatus(), c.status);
        EXPECT_FALSE(conv.session.TakeMessage().has_value());
        const std::size_t replies = conv.replies.size();
        conv.Send(SessionRequestTo(kRx1));
        EXPECT_EQ(conv.replies.size(), replies) << "nothing more is read once closing";
    }
    // A message that could not be kept is answered with an error.
    Conversation c;
    c.Send(Joined({SessionRequestTo(kRx1), Framed(BuildSendMessage(1, "ME", "RX1", Bytes{'h', 'i'}))}));
    ASSERT_TRUE(c.session.TakeMessage().has_value());
    c.session.Stored(false);
    c.Bank();
    EXPECT_EQ(c.LastStatus(), kRoom);
    EXPECT_EQ(c.session.fault(), F::kNotStored);
}

// --- our own client through both --------------------------------------------------------

// The client's network seam wired to a NameServer and MessageSessions in this
// process: datagrams go to the server and its answers come back; each
// connection is a session whose messages are kept at once.
class ServedLan final : public fake::FakeLan {
public:
    NameServer server{NameServerConfig{{kLan}, 0, 3}};
    std::vector<ReceivedMessage> kept;

    std::unique_ptr<net::UdpSocket> OpenUdp() override { return std::make_unique<Udp>(*this); }
    std::unique_ptr<net::TcpStream> Connect(net::Ipv4 address, std::uint16_t port, net::Deadline) override
    {
        return address == kLan.address && port == kSessionPort ? std::make_unique<Stream>(*this) : nullptr;
    }

private:
    struct Udp final : net::UdpSocket {
        explicit Udp(ServedLan& lan) : lan(lan) {}
        bool SendTo(std::span<const std::uint8_t> data, net::Ipv4 to, std::uint16_t) override
        {
            if (to == kLan.broadcast || to == kLan.address)
                lan.server.OnDatagram(data, lan.interfaces[0].address, 40000, kLan.address, net::Clock::now());
            for (OutgoingDatagram& d : lan.server.TakeOutgoing()) queue.push_back(std::move(d.bytes));
            return true;
        }
        std::optional<net::Datagram> Receive(std::span<std::uint8_t> buffer, net::Deadline deadline) override
        {
            if (queue.empty()) {
                std::this_thread::sleep_until(deadline);
                return std::nullopt;
            }
            const std::size_t n = std::min(queue.front().size(), buffer.size());
            std::memcpy(buffer.data(), queue.front().data(), n);
            queue.pop_front();
            return net::Datagram{kLan.address, kNameServicePort, n};
        }
        ServedLan& lan;
        std::deque<Bytes> queue;
    };

    struct Stream final : net::TcpStream {
        explicit Stream(ServedLan& lan) : lan(lan) {}
        bool WriteAll(std::span<const std::uint8_t> data, net::Deadline) override
        {
            session.OnBytes(data);
            if (auto message = session.TakeMessage()) {
                lan.kept.push_back(std::move(*message));
                session.Stored(true);
            }
            const Bytes out = session.TakeOutput();
            pending.insert(pending.end(), out.begin(), out.end());
            return true;
        }
        std::size_t ReadSome(std::span<std::uint8_t> buffer, net::Deadline) override
        {
            const std::size_t n = std::min(buffer.size(), pending.size());
            std::memcpy(buffer.data(), pending.data(), n);
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
            return n;
        }
        ServedLan& lan;
        MessageSession session{[this](const RawName& n) { return lan.server.StateOf(n) == NameState::kClaimed; }};
        Bytes pending;
    };
};

TEST(ServedLan, OurClientDeliversByNameAndToEveryone)
{
    ServedLan lan;
    auto now = net::Clock::time_point{};
    for (const RawName& name : {kRx1, kAlice}) lan.server.Claim(name, now);
    while (const auto next = lan.server.NextTimer()) lan.server.OnTimer(now = *next);
    lan.server.TakeOutgoing();

    ClientLimits limits;
    limits.broadcast_tries = 1;
    limits.broadcast_interval = limits.node_status_wait = milliseconds(20);
    MessengerClient client(lan, "", limits);
    using R = SendOutcome::Result;
    EXPECT_EQ(client.Send(u"alice", u"caf\u00e9\r\n" + std::u16string(300, u'x')).result, R::kDelivered);
    EXPECT_EQ(client.Send(u"*", u"all").result, R::kDelivered);
    EXPECT_EQ(client.Send(u"bob", u"none").result, R::kNameNotFound);
    ASSERT_EQ(lan.kept.size(), 2u);
    EXPECT_EQ(lan.kept[0].text, "caf\x82\r\n" + std::string(300, 'x'));
    EXPECT_EQ(lan.kept[0].originator + ">" + lan.kept[0].destination, "TESTER>ALICE");
    EXPECT_EQ(lan.kept[1].destination, "RX1") << "everyone reaches the computer name";
}

}  // namespace
}  // namespace vindrel::netbios
