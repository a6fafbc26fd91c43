// The messenger client against hostile and crowded LANs in the test process
// (tests/netbios/fake_lan.h), the answer judging, the configuration reader
// and the code pages. Nothing here can send a packet.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

#include <unistd.h>

#include "netbios/client/messenger_client.h"
#include "netbios/client/resolver.h"
#include "platform/ipv4_text.h"
#include "platform/posix/iconv_code_page.h"
#include "samba/samba_config.h"
#include "tests/netbios/fake_lan.h"

namespace vindrel::netbios {
namespace {

using fake::AddressAnswer;
using fake::FakeLan;
using fake::Ip;
using fake::Peer;
using std::chrono::milliseconds;
using R = SendOutcome::Result;

QueryAnswer Positive(net::Ipv4 address) { return {QueryVerdict::kPositive, address}; }

// --- answers ---------------------------------------------------------------------

TEST(AnswerJudging, BroadcastAnswerCountsOnlyFromTheHostItNames)
{
    const net::Interface lan[] = {{Ip(10, 0, 0, 5), 0xFFFFFF00, Ip(10, 0, 0, 255)},
                                  {Ip(192, 168, 7, 1), 0xFFFF0000, Ip(192, 168, 255, 255)}};
    struct Case {
        const char* what;
        QueryAnswer answer;
        net::Ipv4 source;
        AnswerRefusal want;
    };
    const Case cases[] = {
        {"a host of the first LAN", Positive(Ip(10, 0, 0, 11)), Ip(10, 0, 0, 11), AnswerRefusal::kCounted},
        {"a host of the second LAN", Positive(Ip(192, 168, 3, 9)), Ip(192, 168, 3, 9), AnswerRefusal::kCounted},
        {"names another host", Positive(Ip(10, 0, 0, 12)), Ip(10, 0, 0, 11), AnswerRefusal::kAddressNotSender},
        {"off the LANs", Positive(Ip(8, 8, 8, 8)), Ip(8, 8, 8, 8), AnswerRefusal::kNotLocalHost},
        {"network address", Positive(Ip(10, 0, 0, 0)), Ip(10, 0, 0, 0), AnswerRefusal::kNotLocalHost},
        {"broadcast address", Positive(Ip(10, 0, 0, 255)), Ip(10, 0, 0, 255), AnswerRefusal::kNotLocalHost},
        {"multicast", Positive(Ip(224, 0, 0, 1)), Ip(224, 0, 0, 1), AnswerRefusal::kNotLocalHost},
        {"loopback", Positive(Ip(127, 0, 0, 1)), Ip(127, 0, 0, 1), AnswerRefusal::kNotLocalHost},
        {"zero", Positive(0), 0, AnswerRefusal::kNotLocalHost},
        {"not an answer", QueryAnswer{}, Ip(10, 0, 0, 11), AnswerRefusal::kNotAnAnswer},
        {"a negative answer", QueryAnswer{QueryVerdict::kNegative, 0}, Ip(10, 0, 0, 11), AnswerRefusal::kNotAnAnswer},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JudgeBroadcastAnswer(c.answer, {c.source, 137, 0}, lan), c.want) << c.what;
    EXPECT_EQ(JudgeBroadcastAnswer(Positive(Ip(10, 0, 0, 11)), {Ip(10, 0, 0, 11), 137, 0}, {}),
              AnswerRefusal::kNotLocalHost)
        << "no interfaces";
}

TEST(AnswerJudging, WinsAnswerCountsOnlyFromTheServersNameServicePort)
{
    const net::Ipv4 server = Ip(10, 9, 0, 1);
    struct Case {
        const char* what;
        QueryAnswer answer;
        net::Datagram from;
        AnswerRefusal want;
    };
    const Case cases[] = {
        {"the server", Positive(Ip(10, 2, 0, 20)), {server, 137, 0}, AnswerRefusal::kCounted},
        {"the server says nobody", {QueryVerdict::kNegative, 0}, {server, 137, 0}, AnswerRefusal::kCounted},
        {"another address", Positive(Ip(10, 2, 0, 20)), {Ip(10, 9, 0, 2), 137, 0}, AnswerRefusal::kNotFromServer},
        {"another port", Positive(Ip(10, 2, 0, 20)), {server, 4000, 0}, AnswerRefusal::kNotFromServer},
        {"names a multicast group", Positive(Ip(239, 1, 1, 1)), {server, 137, 0}, AnswerRefusal::kNotLocalHost},
    };
    for (const Case& c : cases) EXPECT_EQ(JudgeWinsAnswer(c.answer, c.from, server), c.want) << c.what;
}

TEST(AnswerJudging, HostListKeepsEachHostOnceUpToItsLimit)
{
    HostList list(3);
    EXPECT_EQ(list.Offer(1), AnswerRefusal::kCounted);
    EXPECT_EQ(list.Offer(1), AnswerRefusal::kAlreadyKnown);
    EXPECT_EQ(list.Offer(2), AnswerRefusal::kCounted);
    EXPECT_EQ(list.Offer(3), AnswerRefusal::kCounted);
    EXPECT_EQ(list.Offer(4), AnswerRefusal::kOverHostLimit);
    EXPECT_EQ(list.Offer(2), AnswerRefusal::kAlreadyKnown);
    EXPECT_EQ(list.hosts(), (std::vector<net::Ipv4>{1, 2, 3}));
    EXPECT_EQ(list.refusals(AnswerRefusal::kAlreadyKnown), 2u);
    EXPECT_EQ(list.refusals(AnswerRefusal::kOverHostLimit), 1u);
}

// --- the client on a fake LAN ------------------------------------------------------

ClientLimits Quick()
{
    ClientLimits limits;
    limits.broadcast_tries = 1;
    limits.broadcast_interval = milliseconds(20);
    limits.node_status_wait = milliseconds(20);
    limits.delivery = milliseconds(300);
    limits.connect = milliseconds(100);
    return limits;
}

double MsSince(net::Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(net::Clock::now() - start).count();
}

TEST(Everyone, AForgedFloodIsFilteredAndTheRestCapped)
{
    FakeLan lan;
    lan.interfaces = {{Ip(10, 0, 0, 5), 0xFFFF0000, Ip(10, 0, 255, 255)}};
    for (int i = 0; i < 300; ++i)
        lan.hosts.push_back({Ip(10, 0, 1 + i / 200, 1 + i % 200), u"H" + std::u16string(1, u'A' + i % 26) +
                                 std::u16string(1, u'A' + i / 26), Peer::kReceiver});
    bool flooded = false;
    lan.extra_answers = [&](std::uint16_t id, const RawName& asked, auto answer) {
        if (flooded) return;
        flooded = true;
        for (int i = 0; i < 50000; ++i) {
            const net::Ipv4 claimed = Ip(10, 0, 2 + i % 200, 1 + i % 250);
            // Forged: an address other than the sender's, or one off the LAN.
            const net::Ipv4 source = i % 2 ? Ip(10, 0, 9, 9) : Ip(172, 16, i % 250, 1);
            answer({source, 137, 0}, AddressAnswer(id, asked, i % 2 ? claimed : source));
        }
    };
    ClientLimits limits = Quick();
    limits.hosts_memory = 256 * kHostCost;
    MessengerClient client(lan, "", limits);
    const SendOutcome sent = client.Send(u"*", u"hello");
    EXPECT_EQ(sent.result, R::kDelivered);
    EXPECT_EQ(sent.everyone, (EveryoneCounts{256, 300 - 256})) << "cut short: not delivered";
    const EveryoneReport& r = client.last_everyone();
    EXPECT_EQ(r.hosts, 256u);
    EXPECT_EQ(r.over_limit, 300u - 256u);
    EXPECT_EQ(r.not_tried(), 300u - 256u);
    // A slow machine may not take in the whole flood within the wait; what
    // it takes in is refused, and the real hosts (answering first) fill the cap.
    EXPECT_GE(r.refused_answers, 300u - 256u);
    EXPECT_LE(r.refused_answers, 50000u + 300u - 256u);
    EXPECT_EQ(r.delivered, 256u);
    EXPECT_EQ(lan.connects.load(), 256);
}

TEST(Everyone, AHostOnTwoLansGetsOneCopy)
{
    FakeLan lan;
    lan.interfaces.push_back({Ip(10, 1, 0, 5), 0xFFFFFF00, Ip(10, 1, 0, 255)});
    lan.hosts = {{Ip(10, 0, 0, 11), u"RX1", Peer::kReceiver},
                 {Ip(10, 1, 0, 11), u"RX1", Peer::kReceiver},
                 {Ip(10, 0, 0, 12), u"RX2", Peer::kReceiver}};
    MessengerClient client(lan, "", Quick());
    EXPECT_EQ(client.Send(u"*", u"once"), (SendOutcome{R::kDelivered, 0, EveryoneCounts{2, 0}}));
    EXPECT_EQ(lan.copies[u"RX1"], 1);
    EXPECT_EQ(lan.copies[u"RX2"], 1);
    EXPECT_EQ(client.last_everyone().same_name, 1u);
}

TEST(Everyone, StallingHostsCostTheirLimitOnceWithinOneDeadline)
{
    // Two receivers first, then 30 hosts that take the connection and never
    // answer: one after another they would hold the send for 9 s.
    FakeLan lan;
    lan.hosts = {{Ip(10, 0, 0, 11), u"RX1", Peer::kReceiver},
                 {Ip(10, 0, 0, 12), u"RX2", Peer::kReceiver}};
    for (int i = 0; i < 30; ++i)
        lan.hosts.push_back({Ip(10, 0, 0, 100 + i), u"PHANTOM" + std::u16string(1, u'A' + i % 26) +
                                                         std::u16string(1, u'A' + i / 26),
                             Peer::kStalls});
    ClientLimits limits = Quick();
    limits.everyone = milliseconds(1000);
    limits.concurrency = 4;
    MessengerClient client(lan, "", limits);
    const auto start = net::Clock::now();
    EXPECT_EQ(client.Send(u"*", u"to all").result, R::kDelivered);
    EXPECT_LT(MsSince(start), 1000 + 250);
    EXPECT_EQ(lan.copies[u"RX1"], 1);
    EXPECT_EQ(lan.copies[u"RX2"], 1);
}

TEST(Everyone, TheListOfNamesIsSortedOncePerNameAndForgesNothing)
{
    FakeLan lan;
    lan.hosts = {{Ip(10, 0, 0, 12), u"RX2", Peer::kReceiver, false, 0, {u"CAROL", u"ALICE"}},
                 {Ip(10, 0, 0, 11), u"RX1", Peer::kReceiver},
                 {Ip(10, 0, 0, 13), u"RX1", Peer::kReceiver},  // a conflict: the first keeps it
                 {Ip(10, 0, 0, 14), u"", Peer::kReceiver}};
    lan.extra_answers = [](std::uint16_t id, const RawName& asked, auto answer) {
        for (int i = 0; i < 100; ++i)  // in-LAN addresses nobody holds, and forged senders
            answer({Ip(10, 0, 0, 100 + i), 137, 0},
                   AddressAnswer(id, asked, Ip(10, 0, 0, i % 2 ? 100 + i : 11)));
    };
    using Listed = std::vector<std::pair<std::u16string, net::Ipv4>>;
    const auto names = [](const LanNames& listed) {
        Listed out;
        for (const LanName& n : listed.names) out.emplace_back(n.name + u"@" + n.computer, n.address);
        return out;
    };
    MessengerClient client(lan, "", Quick());
    const LanNames all = client.ListNames();
    EXPECT_EQ(names(all), (Listed{{u"ALICE@RX2", Ip(10, 0, 0, 12)},
                                  {u"CAROL@RX2", Ip(10, 0, 0, 12)},
                                  {u"RX1@RX1", Ip(10, 0, 0, 11)},
                                  {u"RX2@RX2", Ip(10, 0, 0, 12)}}));
    EXPECT_EQ(all.hosts_missed, 0u);

    ClientLimits two = Quick();
    two.hosts_memory = 2 * kHostCost;
    const LanNames some = MessengerClient(lan, "", two).ListNames();
    EXPECT_EQ(names(some).size(), 4u);  // the first two hosts' names
    // Of the 52 beyond the limit, as many as the limit are counted.
    EXPECT_EQ(some.hosts_missed, 2u);
}

TEST(Everyone, StatusRules)
{
    struct Case {
        const char* what;
        std::vector<fake::FakeHost> hosts;
        R want;
    };
    const Case cases[] = {
        {"nobody answers", {}, R::kNameNotFound},
        {"one of three accepts",
         {{Ip(10, 0, 0, 11), u"A", Peer::kRefuses}, {Ip(10, 0, 0, 12), u"B", Peer::kReceiver},
          {Ip(10, 0, 0, 13), u"C", Peer::kStalls}},
         R::kDelivered},
        {"the first failure counts",
         {{Ip(10, 0, 0, 11), u"", Peer::kReceiver}, {Ip(10, 0, 0, 12), u"B", Peer::kRefuses}},
         R::kNameNotFound},
        {"the first failure counts, in answer order",
         {{Ip(10, 0, 0, 12), u"B", Peer::kRefuses}, {Ip(10, 0, 0, 11), u"", Peer::kReceiver}},
         R::kNoConnection},
    };
    for (const Case& c : cases) {
        FakeLan lan;
        lan.hosts = c.hosts;
        MessengerClient client(lan, "", Quick());
        EXPECT_EQ(client.Send(u"*", u"x").result, c.want) << c.what;
    }
}

// --- one recipient ------------------------------------------------------------------

TEST(Delivery, PeersThatStallOrFloodEndWithinTheLimit)
{
    const int allowed = Quick().keepalives_per_reply;
    struct Case {
        const char* what;
        Peer peer;
        R want;
        int keepalives = 0;  // before each reply
    };
    const Case cases[] = {
        {"accepts", Peer::kReceiver, R::kDelivered},
        {"the allowed keep-alives before each reply", Peer::kReceiver, R::kDelivered, allowed},
        {"one keep-alive more", Peer::kReceiver, R::kNoSessionReply, allowed + 1},
        {"called name not present", Peer::kNameNotPresent, R::kNameNotFound},
        {"refuses the connection", Peer::kRefuses, R::kNoConnection},
        {"stalls before the session", Peer::kStalls, R::kNoSessionReply},
        {"stalls after the session", Peer::kStallsAfterSession, R::kNotReceived},
        {"keep-alives instead of a session reply", Peer::kKeepAlives, R::kNoSessionReply},
        {"keep-alives after the session", Peer::kKeepAlivesAfterSession, R::kNotReceived},
    };
    for (const Case& c : cases) {
        FakeLan lan;
        lan.hosts = {{Ip(10, 0, 0, 11), u"RX1", c.peer}};
        lan.hosts[0].keepalives = c.keepalives;
        MessengerClient client(lan, "", Quick());
        const auto start = net::Clock::now();
        EXPECT_EQ(client.Send(u"rx1", u"hi").result, c.want) << c.what;
        EXPECT_LT(MsSince(start), 300 + 200) << c.what;
    }
}

TEST(Delivery, WinsAnswersCountOnlyFromTheServer)
{
    // GHOST exists nowhere; a forger claims it lives at RX1's address.
    const net::Ipv4 wins = Ip(10, 0, 0, 1);
    struct Case {
        const char* what;
        net::Datagram from;
        R want;
    };
    const Case cases[] = {
        {"the server", {wins, 137, 0}, R::kDelivered},
        {"another host", {Ip(10, 0, 0, 66), 137, 0}, R::kNameNotFound},
        {"the server's address, another port", {wins, 1137, 0}, R::kNameNotFound},
    };
    for (const Case& c : cases) {
        FakeLan lan;
        lan.hosts = {{Ip(10, 0, 0, 11), u"RX1", Peer::kReceiver}};
        lan.server_answers = [&](std::uint16_t id, const RawName& asked, net::Ipv4 to, auto answer) {
            if (to == wins) answer(c.from, AddressAnswer(id, asked, Ip(10, 0, 0, 11)));
        };
        char path[] = "/tmp/vindrel-wins-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        std::ofstream(path) << "[global]\nwins server = 10.0.0.1\n";
        // RX1 takes a session for any called name, so a believed answer
        // delivers; no broadcast finds GHOST.
        lan.hosts[0].any_called_name = true;
        MessengerClient client(lan, path, Quick());
        EXPECT_EQ(client.Send(u"ghost", u"x").result, c.want) << c.what;
        EXPECT_EQ(lan.copies[u"RX1"], c.want == R::kDelivered ? 1 : 0) << c.what;
        std::remove(path);
    }
}

TEST(Delivery, WinsServersAreAskedInTurnWithinTheDeadline)
{
    // GHOST is known to the servers only, at RX1, which takes a session for
    // any name; RX1 also answers broadcasts. `knows`: true places GHOST,
    // false says nobody has it; servers not listed stay silent.
    const net::Ipv4 w1 = Ip(10, 0, 0, 1), w2 = Ip(10, 0, 0, 2);
    std::vector<net::Ipv4> silent;
    for (int i = 0; i < 30; ++i) silent.push_back(Ip(10, 0, 1, 1 + i));
    struct Case {
        const char* what;
        std::vector<net::Ipv4> wins;
        std::map<net::Ipv4, bool> knows;
        std::u16string name;
        R want;
        std::vector<net::Ipv4> asked;
    };
    const Case cases[] = {
        {"the first is silent, the second answers", {w1, w2}, {{w2, true}}, u"ghost", R::kDelivered, {w1, w2}},
        {"the first says nobody has it", {w1, w2}, {{w1, false}, {w2, true}}, u"ghost", R::kNameNotFound, {w1}},
        {"thirty silent servers leave the broadcasts time", silent, {}, u"rx1", R::kDelivered, silent},
    };
    for (const Case& c : cases) {
        FakeLan lan;
        lan.hosts = {{Ip(10, 0, 0, 11), u"RX1", Peer::kReceiver, true}};
        lan.wins = c.wins;
        std::vector<net::Ipv4> asked;
        lan.server_answers = [&](std::uint16_t id, const RawName& name, net::Ipv4 to, auto answer) {
            asked.push_back(to);
            if (!c.knows.count(to)) return;
            Bytes reply = AddressAnswer(id, name, Ip(10, 0, 0, 11));
            if (!c.knows.at(to)) reply[3] = 0x03;  // rcode: name error
            answer({to, 137, 0}, reply);
        };
        std::optional<net::Clock::time_point> broadcast;
        lan.extra_answers = [&](std::uint16_t, const RawName&, auto) {
            if (!broadcast) broadcast = net::Clock::now();
        };
        ClientLimits limits = Quick();
        // Longer than the servers' half of the send: only a client that
        // shares that half out gets past the first silent server.
        limits.wins_wait = milliseconds(400);
        limits.send = milliseconds(400);
        MessengerClient client(lan, "", limits);
        const auto start = net::Clock::now();
        EXPECT_EQ(client.Send(c.name, u"x").result, c.want) << c.what;
        // A busy machine overruns the shares and may leave the last servers
        // unasked; what no load explains is a server asked out of turn or
        // twice, most of them skipped, or servers skipped before their
        // half of the send was spent.
        ASSERT_LE(asked.size(), c.asked.size()) << c.what;
        EXPECT_TRUE(std::equal(asked.begin(), asked.end(), c.asked.begin())) << c.what;
        EXPECT_GE(asked.size() * 2, c.asked.size()) << c.what;
        if (asked.size() < c.asked.size()) {
            ASSERT_TRUE(broadcast) << c.what;
            EXPECT_GE(*broadcast - start, limits.send / 2) << c.what;
        }
        EXPECT_LT(MsSince(start), 400 + 1000) << c.what;
    }
}

// --- configuration -------------------------------------------------------------------

TEST(SambaConfig, FollowsWhatSambaHonours)
{
    const std::map<std::string, std::string> files = {
        {"/etc/samba/wins.conf", "wins server = 10.4.4.4\n"},
        {"/etc/samba/name.conf", "[global]\nnetbios name = FromInclude\n"},
        {"/etc/samba/real.conf", "[global]\nnetbios name = Real\ndos charset = CP866\n"},
        {"/etc/samba/loop.conf", "include = /etc/samba/loop.conf\nwins server = 10.5.5.5\n"},
        {"/etc/samba/self.conf", "config file = /etc/samba/self.conf\nnetbios name = Self\n"},
        {"/etc/samba/share.conf", "netbios name = NotGlobal\n"},
    };
    const ConfigReader read = [&](const std::string& path) -> std::optional<std::string> {
        const auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second;
    };
    struct Case {
        const char* what;
        const char* text;
        std::string name;
        std::vector<net::Ipv4> wins;
        std::string charset;
    };
    const Case cases[] = {
        {"[globals] is [global]", "[globals]\nnetbios name = G\nwins server = 10.0.0.9\n", "G",
         {Ip(10, 0, 0, 9)}, ""},
        {"include in place", "[global]\ninclude = /etc/samba/wins.conf\n", "", {Ip(10, 4, 4, 4)}, ""},
        {"a later line wins over an include", "include = /etc/samba/name.conf\nnetbios name = Late\n",
         "Late", {}, ""},
        {"include inside a share counts for that share", "[data]\ninclude = /etc/samba/share.conf\n",
         "", {}, ""},
        {"config file starts over", "netbios name = Old\nwins server = 10.0.0.9\n"
                                    "config file = /etc/samba/real.conf\nnetbios name = After\n",
         "Real", {}, "CP866"},
        {"a missing config file is passed over", "config file = /nonexistent\nnetbios name = Here\n",
         "Here", {}, ""},
        {"an include loop ends", "include = /etc/samba/loop.conf\n", "", {Ip(10, 5, 5, 5)}, ""},
        {"a config file that names itself ends", "config file = /etc/samba/self.conf\n", "Self",
         {}, ""},
        {"substitutions are not followed", "include = /etc/samba/%m.conf\n", "", {}, ""},
        {"a long name is cut to 15 characters", "netbios name = ABCDEFGHIJKLMNOPQRS\n",
         "ABCDEFGHIJKLMNO", {}, ""},
        {"characters, not bytes", "netbios name = \xc3\x84" "BCDEFGHIJKLMNOPQ\n",
         "\xc3\x84" "BCDEFGHIJKLMNO", {}, ""},
        {"dos charset", "dos charset = CP852\n", "", {}, "CP852"},
    };
    for (const Case& c : cases) {
        const SambaSettings s = ParseSambaConfig(c.text, read);
        EXPECT_EQ(s.netbios_name, c.name) << c.what;
        EXPECT_EQ(s.wins, c.wins) << c.what;
        EXPECT_EQ(s.dos_charset, c.charset) << c.what;
    }
}

TEST(SambaConfig, AFileLargerThanTheCapIsNotRead)
{
    char path[] = "/tmp/vindrel-conf-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream big(path);
        big << "[global]\nnetbios name = Big\n" << std::string(kMaxConfigBytes, '#') << "\n";
    }
    EXPECT_FALSE(ReadConfigFile(path).has_value());
    EXPECT_TRUE(ReadSambaConfig(path).netbios_name.empty());
    std::remove(path);
    EXPECT_FALSE(ReadConfigFile("/nonexistent/smb.conf").has_value());
}

// One reader for every dotted address we take in: configuration, the name
// cache and the spool's records (which also want it written back exactly).
TEST(DottedIpv4, ReadsOnlyFourPartsOfAtMostThreeDigits)
{
    const struct {
        std::string_view text;
        std::optional<std::uint32_t> address;
        bool canonical;
    } rows[] = {
        {"10.0.0.1", 0x0A000001, true},
        {"255.255.255.255", 0xFFFFFFFF, true},
        {"0.0.0.0", 0, true},
        {"010.0.0.1", 0x0A000001, false},
        {"1.2.3", std::nullopt, false},
        {"1.2.3.4.", std::nullopt, false},
        {"1.2.3.256", std::nullopt, false},
        {"1.2.3.0004", std::nullopt, false},
        {" 1.2.3.4", std::nullopt, false},
        {"1..3.4", std::nullopt, false},
        {"1.2.3.-4", std::nullopt, false},
        {"", std::nullopt, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ParseDottedIpv4(row.text), row.address) << row.text;
        EXPECT_EQ(IsCanonicalDottedIpv4(row.text), row.canonical) << row.text;
        const std::u16string wide(row.text.begin(), row.text.end());
        EXPECT_EQ(ParseDottedIpv4(wide), row.address) << row.text;
        if (row.address) {
            EXPECT_EQ(ParseDottedIpv4(DottedIpv4(*row.address)), row.address);
        }
    }
}

// --- code pages ----------------------------------------------------------------------

TEST(CodePage, TheConfiguredDosCharsetEncodes)
{
    const auto cp866 = net::MakeIconvCodePage("CP866");
    EXPECT_EQ(cp866->EncodeText(u"\u041f\u0440\u0438\u0432\u0435\u0442 \u20ac!"),
              "\x8f\xe0\xa8\xa2\xa5\xe2 ?!");
    EXPECT_EQ(cp866->EncodeName(u"\u0418\u0412\u0410\u041d"), std::string("\x88\x82\x80\x8d"));
    EXPECT_FALSE(cp866->EncodeName(u"caf\u00e9").has_value()) << "whole or nothing";
    EXPECT_EQ(cp866->Decode("\x88\x82\x80\x8d"), u"\u0418\u0412\u0410\u041d");
    EXPECT_EQ(cp866->EncodeText(u"\U0001F600a"), "?a");

    const auto cp852 = net::MakeIconvCodePage("cp852");
    EXPECT_EQ(cp852->EncodeText(u"\u0141\u00f3d\u017a"), "\x9d\xa2" "d\xab");

    for (const char* fallback : {"", "NO-SUCH-CHARSET"}) {
        const auto page = net::MakeIconvCodePage(fallback);
        EXPECT_EQ(page->EncodeText(u"caf\u00e9 \u0416"), "caf\x82 ?") << fallback;
    }
}

TEST(CodePage, ARecipientNameInTheLansCodePage)
{
    const auto cp866 = net::MakeIconvCodePage("CP866");
    const auto name = MakeName(u"\u0438\u0432\u0430\u043d", kMessengerSuffix, *cp866);
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(NameText(*name), "\x88\x82\x80\x8d");
}

}  // namespace
}  // namespace vindrel::netbios
