// The receiving side: its codecs against the client's, the name server on a
// scripted clock, the message session fed bytes, and our own client
// delivering through both in this process. Nothing here opens a socket.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <thread>

#include "platform/netbios/message_session.h"
#include "platform/netbios/messenger_client.h"
#include "platform/netbios/name_server.h"
#include "tests/netbios/fake_lan.h"

namespace vindrel::netbios {
namespace {

using fake::Ip;
using fake::NameOf;
using std::chrono::milliseconds;

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

Bytes WithOpcode(Bytes packet, NameOpcode opcode, std::uint32_t ttl = 0)
{
    packet[2] = static_cast<std::uint8_t>((packet[2] & 0x87) | static_cast<int>(opcode) << 3);
    if (ttl) {
        const std::size_t at = packet.size() - 12;  // TTL of an NB answer's record
        for (int i = 0; i < 4; ++i) packet[at + i] = static_cast<std::uint8_t>(ttl >> (24 - 8 * i));
    }
    return packet;
}

// --- codecs ------------------------------------------------------------------------

TEST(ServerCodecs, NamePacketsRoundTripAndTheClientReadsOurAnswers)
{
    struct Case {
        const char* what;
        Bytes bytes;
        bool response;
        NameOpcode opcode;
        bool broadcast, question, record;
    };
    const Case cases[] = {
        {"registration", BuildNameRegistration(1, kRx1, kNbOntB, kLan.address, 300000, true),
         false, NameOpcode::kRegistration, true, true, true},
        {"refresh", BuildNameRefresh(1, kRx1, kNbOntM, kLan.address, 300000), false,
         NameOpcode::kRefresh, false, true, true},
        {"release", BuildNameRelease(1, kRx1, kNbOntB, kLan.address, true), false,
         NameOpcode::kRelease, true, true, true},
        {"defence", BuildRegistrationResponse(1, kRx1, NameRcode::kActive, 0, kLan.address), true,
         NameOpcode::kRegistration, false, false, true},
        {"query", BuildNameQuery(1, kRx1, true), false, NameOpcode::kQuery, true, true, false},
        {"answer", BuildNameQueryResponse(1, kRx1, 0, kLan.address, 60), true, NameOpcode::kQuery,
         false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto p = ParseNamePacket(c.bytes);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->id, 1);
        EXPECT_EQ(p->response, c.response);
        EXPECT_EQ(p->opcode, c.opcode);
        EXPECT_EQ(p->broadcast, c.broadcast);
        EXPECT_EQ(p->has_question, c.question);
        EXPECT_EQ(p->has_record, c.record);
        if (c.question) {
            EXPECT_EQ(p->question, kRx1);
        }
        if (c.record) {
            EXPECT_EQ(p->record_name, kRx1);
            EXPECT_TRUE(p->has_address);
            EXPECT_EQ(p->address, kLan.address);
        }
        ForEveryCut(c.bytes, [](const Bytes& cut) { EXPECT_FALSE(ParseNamePacket(cut)); });
        Bytes longer = c.bytes;
        longer.push_back(0);
        EXPECT_FALSE(ParseNamePacket(longer)) << "a byte past the packet";
    }
    // The record of a request points at the question (RFC 1002 4.2.2).
    const Bytes reg = cases[0].bytes;
    EXPECT_EQ(reg[50], 0xC0);
    EXPECT_EQ(reg[51], 0x0C);

    EXPECT_EQ(JudgeNameQueryReply(cases[5].bytes, 1, kRx1).address, kLan.address);
    const NodeName listed[] = {{kRx1, 0x0400}, {kAlice, 0x0400}};
    const auto names = ParseNodeStatusReply(BuildNodeStatusResponse(4, WildcardName(), listed), 4);
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(FirstMessengerName(*names), kRx1);
}

TEST(ServerCodecs, HostileNamePacketsAreRefused)
{
    const Bytes reg = BuildNameRegistration(1, kRx1, 0, kLan.address, 300000, true);
    struct Case {
        const char* what;
        std::size_t at;
        std::uint8_t value;
    };
    const Case cases[] = {
        {"two questions", 5, 2},        {"an authority record", 9, 1},
        {"two records", 7, 1},          {"truncated flag", 2, 0x2A},
        {"class not IN", 49, 2},        {"question type A", 47, 1},
        {"pointer elsewhere", 51, 0x0D}, {"rdlength beyond", 61, 7},
    };
    for (const Case& c : cases) {
        Bytes bad = reg;
        bad[c.at] = c.value;
        EXPECT_FALSE(ParseNamePacket(bad)) << c.what;
    }
    // A pointer with no question to point at.
    Bytes answer = BuildRegistrationResponse(1, kRx1, NameRcode::kActive, 0, kLan.address);
    answer.erase(answer.begin() + 12, answer.begin() + 46);
    answer.insert(answer.begin() + 12, {0xC0, 0x0C});
    EXPECT_FALSE(ParseNamePacket(answer));
}

TEST(ServerCodecs, SessionAndSmbRequestsRoundTripAndRefuseCuts)
{
    const Bytes request = BuildSessionRequest(kRx1, NameOf(u"CLI", 0));
    const Bytes body(request.begin() + 4, request.end());
    RawName called, calling;
    ASSERT_TRUE(ParseSessionRequest(body, called, calling));
    EXPECT_EQ(called, kRx1);
    ForEveryCut(body, [&](const Bytes& cut) { EXPECT_FALSE(ParseSessionRequest(cut, called, calling)); });
    EXPECT_EQ(BuildNegativeSessionResponse(SessionRefusal::kCalledNameNotPresent),
              (Bytes{0x83, 0, 0, 1, 0x82}));

    const std::uint8_t text[] = {'h', 'i'};
    // The parsed parts are views into these.
    const Bytes requests[] = {BuildSendStart(1, "CLI", "RX1"), BuildSendText(2, 9, text),
                              BuildSendMessage(3, "A", "B", text)};
    SmbRequest r;
    SendStart start;
    SendMessage single;
    std::uint16_t group = 0;
    ByteView block;
    ASSERT_EQ(ParseSmbRequest(requests[0], r), SmbParse::kOk);
    ASSERT_TRUE(ParseSendStart(r, start));
    EXPECT_EQ(std::string(start.originator.begin(), start.originator.end()), "CLI");
    ASSERT_EQ(ParseSmbRequest(requests[1], r), SmbParse::kOk);
    ASSERT_TRUE(ParseSendText(r, group, block));
    EXPECT_EQ(group, 9);
    EXPECT_EQ(Bytes(block.begin(), block.end()), Bytes(text, text + 2));
    ASSERT_EQ(ParseSmbRequest(requests[2], r), SmbParse::kOk);
    ASSERT_TRUE(ParseSendMessage(r, single));
    EXPECT_FALSE(ParseSendText(r, group, block)) << "a single block is not a text block";

    for (const Bytes& whole : requests) {
        ForEveryCut(whole, [](const Bytes& cut) {
            SmbRequest any;
            EXPECT_NE(ParseSmbRequest(cut, any), SmbParse::kOk);
        });
        Bytes longer = whole;
        longer.push_back(0);
        SmbRequest any;
        EXPECT_EQ(ParseSmbRequest(longer, any), SmbParse::kBadCounts) << "a byte past the count";
    }

    const Bytes error = BuildSmbError(r.header, SmbErrorClass::kServer, kErrSrvNoRoom);
    const SmbReply judged = JudgeSmbReply(error, kSendMessage, 3);
    EXPECT_EQ(judged.verdict, SmbVerdict::kRefused);
    EXPECT_EQ(judged.status, 0x00530002u);
}

// --- the name server -------------------------------------------------------------------

// A name server on a scripted clock, with everything it sent and told.
struct NameLab {
    struct Sent {
        int ms;
        OutgoingDatagram datagram;
        NamePacket packet;  // views into datagram.bytes
    };

    NameServer server;
    int now_ms = 0;
    std::vector<Sent> sent;
    std::vector<NameEvent> events;

    explicit NameLab(net::Ipv4 wins = 0) : server(NameServerConfig{{kLan}, wins, 7}) {}

    static net::Clock::time_point At(int ms) { return net::Clock::time_point{} + milliseconds(ms); }

    void Collect()
    {
        for (OutgoingDatagram& d : server.TakeOutgoing()) {
            const auto packet = ParseNamePacket(d.bytes);
            ASSERT_TRUE(packet.has_value()) << "sent a packet our own reader refuses";
            sent.push_back({now_ms, std::move(d), *packet});
        }
        for (const NameEvent& e : server.TakeEvents()) events.push_back(e);
    }
    void Claim(const RawName& name)
    {
        EXPECT_EQ(server.Claim(name, At(now_ms)), ClaimResult::kStarted);
        Collect();
    }
    // Follows the server's timers up to `ms`.
    void RunTo(int ms)
    {
        while (const auto next = server.NextTimer()) {
            const int at = static_cast<int>(
                std::chrono::duration_cast<milliseconds>(*next - At(0)).count());
            if (at > ms) break;
            now_ms = std::max(now_ms, at);
            server.OnTimer(At(now_ms));
            Collect();
        }
        now_ms = ms;
    }
    void Receive(const Bytes& bytes, net::Ipv4 from = kPeer)
    {
        server.OnDatagram(bytes, from, 137, kLan.address, At(now_ms));
        Collect();
    }
    std::vector<NameEventKind> Kinds() const
    {
        std::vector<NameEventKind> kinds;
        for (const NameEvent& e : events) kinds.push_back(e.kind);
        return kinds;
    }
    const Sent& Last() const { return sent.back(); }
};

using K = NameEventKind;

TEST(NameServer, AClaimBroadcastsThreeTimesThenHoldsTheNameAndIdles)
{
    NameLab lab;
    lab.Claim(kRx1);
    EXPECT_EQ(lab.server.Claim(kRx1, NameLab::At(0)), ClaimResult::kAlreadyHeld);
    lab.RunTo(10000);
    ASSERT_EQ(lab.sent.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const NameLab::Sent& s = lab.sent[i];
        EXPECT_EQ(s.ms, 250 * i);
        EXPECT_EQ(s.datagram.address, kLan.broadcast);
        EXPECT_EQ(s.datagram.from, kLan.address);
        EXPECT_EQ(s.packet.opcode, NameOpcode::kRegistration);
        EXPECT_TRUE(s.packet.broadcast);
        EXPECT_EQ(s.packet.address, kLan.address);
        EXPECT_EQ(s.packet.id, lab.sent[0].packet.id);
    }
    EXPECT_EQ(lab.Kinds(), (std::vector<K>{K::kClaiming, K::kClaimed}));
    EXPECT_EQ(lab.server.StateOf(kRx1), NameState::kClaimed);
    EXPECT_FALSE(lab.server.NextTimer().has_value()) << "an idle server wants no wake-ups";
}

TEST(NameServer, OnlyTheOwnersAnswerToOurClaimRefusesIt)
{
    struct Case {
        const char* what;
        int id_offset;  // from the claim's id
        RawName name;
        NameRcode rcode;
        net::Ipv4 source;
        bool refused;
    };
    const Case cases[] = {
        {"the owner objects", 0, kRx1, NameRcode::kActive, kPeer, true},
        {"another transaction", 1, kRx1, NameRcode::kActive, kPeer, false},
        {"another name", 0, kAlice, NameRcode::kActive, kPeer, false},
        {"a positive answer", 0, kRx1, NameRcode::kOk, kPeer, false},
        {"off our subnet", 0, kRx1, NameRcode::kActive, Ip(10, 0, 1, 7), false},
        {"the subnet's broadcast address", 0, kRx1, NameRcode::kActive, kLan.broadcast, false},
        {"our own address", 0, kRx1, NameRcode::kActive, kLan.address, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NameLab lab;
        lab.Claim(kRx1);
        lab.RunTo(300);
        const std::uint16_t id = static_cast<std::uint16_t>(lab.sent[0].packet.id + c.id_offset);
        lab.Receive(BuildRegistrationResponse(id, c.name, c.rcode, 0, c.source), c.source);
        lab.RunTo(2000);
        if (c.refused) {
            EXPECT_EQ(lab.Kinds(), (std::vector<K>{K::kClaiming, K::kRefused}));
            EXPECT_EQ(lab.events.back().refusal, NameRefusal::kOwnedOnLan);
            EXPECT_EQ(lab.events.back().peer, kPeer);
            EXPECT_FALSE(lab.server.StateOf(kRx1).has_value());
            EXPECT_EQ(lab.sent.size(), 2u) << "no more tries, and nothing to release";
        } else {
            EXPECT_EQ(lab.server.StateOf(kRx1), NameState::kClaimed);
        }
    }
}

TEST(NameServer, HeldNamesAreDefendedAnsweredListedAndReleased)
{
    NameLab lab;
    lab.Claim(kRx1);
    lab.Claim(kAlice);
    const RawName bob = NameOf(u"BOB");
    lab.Claim(bob);
    lab.Receive(BuildRegistrationResponse(lab.Last().packet.id, bob, NameRcode::kActive, 0, kPeer));
    lab.RunTo(1000);
    lab.sent.clear();

    lab.Receive(BuildNameRegistration(0x77, kAlice, 0, kPeer, 300000, true));
    ASSERT_EQ(lab.sent.size(), 1u);
    EXPECT_EQ(lab.Last().datagram.address, kPeer);
    EXPECT_EQ(lab.Last().packet.id, 0x77);
    EXPECT_EQ(lab.Last().packet.rcode, NameRcode::kActive);
    EXPECT_EQ(lab.events.back().kind, K::kDefended);
    EXPECT_EQ(lab.events.back().peer, kPeer);

    lab.Receive(BuildNameQuery(0x78, kAlice, true));
    EXPECT_EQ(JudgeNameQueryReply(lab.Last().datagram.bytes, 0x78, kAlice).address, kLan.address);
    lab.Receive(BuildNameQuery(0x79, WildcardName(), true));
    EXPECT_EQ(JudgeNameQueryReply(lab.Last().datagram.bytes, 0x79, WildcardName()).address,
              kLan.address);
    lab.Receive(BuildNodeStatusRequest(0x7A));
    const auto names = ParseNodeStatusReply(lab.Last().datagram.bytes, 0x7A);
    ASSERT_TRUE(names.has_value());
    ASSERT_EQ(names->size(), 2u) << "the refused name is not listed";
    EXPECT_EQ(FirstMessengerName(*names), kRx1) << "the first claimed comes first";

    const std::size_t answered = lab.sent.size();
    lab.Receive(BuildNameQuery(0x7B, bob, true));
    lab.Receive(BuildNameRegistration(0x7C, kAlice, 0, kLan.address, 300000, true), kLan.address);
    EXPECT_EQ(lab.sent.size(), answered) << "a name not ours, or our own packet, is not answered";

    EXPECT_TRUE(lab.server.Release(kAlice, NameLab::At(lab.now_ms)));
    lab.Collect();
    EXPECT_EQ(lab.Last().packet.opcode, NameOpcode::kRelease);
    EXPECT_EQ(lab.Last().datagram.address, kLan.broadcast);
    EXPECT_EQ(lab.events.back().kind, K::kReleased);
    lab.Receive(BuildNameQuery(0x7D, kAlice, true));
    EXPECT_EQ(lab.Last().packet.opcode, NameOpcode::kRelease) << "a released name is not answered";
    lab.server.ReleaseAll(NameLab::At(lab.now_ms));
    lab.Collect();
    EXPECT_EQ(lab.Last().packet.question, kRx1);
    EXPECT_FALSE(lab.server.NextTimer().has_value());
}

TEST(NameServer, WinsRegistersRefreshesRefusesAndReleases)
{
    struct Case {
        const char* what;
        NameRcode rcode;        // of the server's answer to the first try
        bool answer;            // false: the server stays silent
        bool wack_first;
        std::vector<K> want;
    };
    const Case cases[] = {
        {"accepted", NameRcode::kOk, true, false, {K::kClaiming, K::kWinsRegistered, K::kClaimed}},
        {"accepted after a wait", NameRcode::kOk, true, true,
         {K::kClaiming, K::kWinsRegistered, K::kClaimed}},
        {"refused", NameRcode::kActive, true, false, {K::kClaiming, K::kRefused}},
        {"silent", NameRcode::kOk, false, false, {K::kClaiming, K::kWinsSilent, K::kClaimed}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NameLab lab(kWins);
        lab.Claim(kRx1);
        const auto unicast = [&lab] {
            std::vector<NameLab::Sent> to_wins;
            for (const NameLab::Sent& s : lab.sent)
                if (s.datagram.address == kWins) to_wins.push_back(s);
            return to_wins;
        };
        ASSERT_EQ(unicast().size(), 1u);
        const std::uint16_t id = unicast()[0].packet.id;
        EXPECT_FALSE(unicast()[0].packet.broadcast);
        EXPECT_EQ(unicast()[0].packet.nb_flags, kNbOntM);
        if (c.wack_first) {
            lab.Receive(WithOpcode(BuildRegistrationResponse(id, kRx1, NameRcode::kOk, 0, kLan.address),
                                   NameOpcode::kWack, 5),
                        kWins);
            lab.RunTo(4900);
            EXPECT_EQ(unicast().size(), 1u) << "no retry while the server asked us to wait";
        }
        const int registered_ms = lab.now_ms;
        if (c.answer)
            lab.Receive(BuildRegistrationResponse(id, kRx1, c.rcode, kNbOntM, kLan.address, 600), kWins);
        lab.RunTo(lab.now_ms + 5000);
        EXPECT_EQ(lab.Kinds(), c.want);
        if (c.rcode != NameRcode::kOk) continue;
        if (!c.answer) {
            EXPECT_EQ(unicast().size(), 3u);
            continue;
        }
        // Refreshed at half the granted TTL, then released with the server.
        lab.RunTo(registered_ms + 300 * 1000 + 500);
        ASSERT_EQ(unicast().size(), 2u);
        EXPECT_EQ(unicast()[1].packet.opcode, NameOpcode::kRefresh);
        lab.server.ReleaseAll(NameLab::At(lab.now_ms));
        lab.Collect();
        EXPECT_EQ(unicast().back().packet.opcode, NameOpcode::kRelease);
    }
}

TEST(NameServer, AnswersAreRateLimitedPerSourceAndInAll)
{
    NameLab lab;
    lab.Claim(kRx1);
    lab.RunTo(1000);
    lab.sent.clear();
    for (int i = 0; i < 1000; ++i) lab.Receive(BuildNameQuery(static_cast<std::uint16_t>(i), kRx1, true));
    EXPECT_EQ(lab.sent.size(), static_cast<std::size_t>(kAnswersPerSourceBurst));
    lab.now_ms += 1000;  // a second later, the bucket has refilled a little
    for (int i = 0; i < 1000; ++i) lab.Receive(BuildNameQuery(static_cast<std::uint16_t>(i), kRx1, true));
    EXPECT_EQ(lab.sent.size(), static_cast<std::size_t>(kAnswersPerSourceBurst + kAnswersPerSourcePerSecond));

    lab.now_ms += 60 * 1000;
    lab.sent.clear();
    for (net::Ipv4 i = 0; i < 1000; ++i)  // forged sources, one query each
        lab.Receive(BuildNameQuery(1, kRx1, true), Ip(10, 1, 0, 0) + i);
    EXPECT_EQ(lab.sent.size(), static_cast<std::size_t>(kAnswersBurst));
    std::size_t reports = 0;
    for (const NameEvent& e : lab.events) reports += e.kind == K::kAnswersLimited;
    EXPECT_EQ(reports, 2u) << "one report per interval, however many refusals";
    EXPECT_EQ(lab.server.stats().limited, 2000u - kAnswersPerSourceBurst - kAnswersPerSourcePerSecond +
                                              1000u - lab.sent.size());
}

// --- the message session -------------------------------------------------------------------

Bytes Framed(const Bytes& smb) { return FrameSessionMessage(smb); }

Bytes SessionRequestTo(const RawName& called) { return BuildSessionRequest(called, NameOf(u"CLI", 0)); }

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
            const std::size_t size = 4 + (out[at + 2] << 8 | out[at + 3]);
            replies.emplace_back(out.begin() + static_cast<std::ptrdiff_t>(at),
                                 out.begin() + static_cast<std::ptrdiff_t>(at + size));
            at += size;
        }
    }
    // The status of the last SMB reply (0: success), or the negative
    // session response's code as 0x83xx, or -1 for no reply at all.
    std::int64_t LastStatus() const
    {
        if (replies.empty()) return -1;
        const Bytes& r = replies.back();
        if (r[0] == kNegativeResponse) return 0x8300 | r[4];
        if (r.size() < 4 + 9) return -2;
        return r[9] | r[10] << 8 | r[11] << 16 | std::int64_t{r[12]} << 24;
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
        std::uint16_t mid = 1;
        std::size_t before = c.replies.size();
        if (single) {
            c.Send(Framed(BuildSendMessage(mid, "ME", "RX1", bytes)));
        } else {
            c.Send(Framed(BuildSendStart(mid, "ME", "RX1")));
            const SmbReply started = JudgeSmbReply(ByteView(c.replies.back()).subspan(4), kSendStartMb, mid);
            ASSERT_EQ(started.verdict, SmbVerdict::kAccepted);
            for (std::size_t at = 0; at < text.size(); at += kMaxTextBlock) {
                c.Send(Framed(BuildSendText(++mid, started.group,
                                            bytes.subspan(at, std::min(kMaxTextBlock, text.size() - at)))));
                EXPECT_EQ(c.LastStatus(), 0);
            }
            before = c.replies.size();
            c.Send(Framed(BuildSendEnd(++mid, started.group)));
        }
        EXPECT_TRUE(c.session.awaiting_store());
        const auto message = c.session.TakeMessage();
        ASSERT_TRUE(message.has_value());
        EXPECT_EQ(message->text, text);
        EXPECT_EQ(message->originator, "ME");
        EXPECT_EQ(message->destination, "RX1");
        EXPECT_EQ(message->called, kRx1);
        EXPECT_FALSE(c.session.TakeMessage().has_value()) << "handed over once";
        c.Bank();
        EXPECT_EQ(c.replies.size(), before) << "no answer before the message is kept";
        c.session.Stored(true);
        c.Bank();
        ASSERT_EQ(c.replies.size(), before + 1);
        EXPECT_EQ(JudgeSmbReply(ByteView(c.replies.back()).subspan(4), single ? kSendMessage : kSendEndMb, mid).verdict,
                  SmbVerdict::kAccepted);
        EXPECT_FALSE(c.session.closing());
    }
}

TEST(MessageSession, EverythingElseIsRefusedAndEndsTheSession)
{
    const std::uint8_t block[128] = {};
    const Bytes start = Framed(BuildSendStart(1, "ME", "RX1"));
    Bytes reply_flag = start;
    reply_flag[4 + 9] = 0x80;
    Bytes long_count = start;
    long_count[4 + 33] = 200;
    Bytes no_nul = start;
    no_nul.back() = 'X';
    Bytes other_command = start;
    other_command[4 + 4] = 0x72;
    const Bytes too_many_texts = [&] {
        Bytes all = start;
        for (int i = 0; i < 13; ++i) {
            const Bytes t = Framed(BuildSendText(2, 1, block));
            all.insert(all.end(), t.begin(), t.end());
        }
        return all;
    }();
    const Bytes idle_requests = [&] {
        Bytes all = start;
        for (int i = 0; i < kMaxSmbRequests; ++i) {
            const Bytes t = Framed(BuildSendText(2, 1, {}));
            all.insert(all.end(), t.begin(), t.end());
        }
        return all;
    }();
    const Bytes keepalives = [] {
        Bytes all;
        for (int i = 0; i <= kMaxKeepAlives; ++i) all.insert(all.end(), {kKeepAlive, 0, 0, 0});
        return all;
    }();
    const std::string long_name(kMaxMessageName + 1, 'N');
    const std::uint32_t kErr = 0x00010002, kCmd = 0x00400002, kRoom = 0x00530002;

    struct Case {
        const char* what;
        bool open_first;  // a positive session first
        Bytes input;
        SessionFault fault;
        std::int64_t status;
    };
    const Case cases[] = {
        {"text before start", true, Framed(BuildSendText(1, 1, block)), SessionFault::kOutOfOrder, kErr},
        {"end without start", true, Framed(BuildSendEnd(1, 1)), SessionFault::kOutOfOrder, kErr},
        {"a second start", true, [&] { Bytes b = start; b.insert(b.end(), start.begin(), start.end()); return b; }(),
         SessionFault::kOutOfOrder, kErr},
        {"a wrong group", true, [&] { Bytes b = start; const Bytes t = Framed(BuildSendEnd(2, 9)); b.insert(b.end(), t.begin(), t.end()); return b; }(),
         SessionFault::kOutOfOrder, kErr},
        {"another command", true, other_command, SessionFault::kUnsupportedCommand, kCmd},
        {"a reply, not a request", true, reply_flag, SessionFault::kNotSmb, kErr},
        {"byte count beyond the frame", true, long_count, SessionFault::kBadCommand, kErr},
        {"a string without its end", true, no_nul, SessionFault::kBadCommand, kErr},
        {"an originator too long", true, Framed(BuildSendStart(1, long_name, "RX1")), SessionFault::kNameTooLong, kErr},
        {"text over the limit", true, too_many_texts, SessionFault::kMessageTooLong, kRoom},
        {"a single block over the limit", true, Framed(BuildSendMessage(1, "ME", "RX1", Bytes(kMaxMessageText + 1, 'x'))),
         SessionFault::kMessageTooLong, kRoom},
        {"requests without end", true, idle_requests, SessionFault::kTooManyRequests, kErr},
        {"not SMB at all", true, Framed(Bytes(40, 'x')), SessionFault::kNotSmb, -1},
        {"a frame over the limit", true, {0, 0, 0x10, 0x01}, SessionFault::kFrameTooLarge, -1},
        {"unknown frame flags", true, {0, 0x02, 0, 0}, SessionFault::kBadFrame, -1},
        {"a second session request", true, SessionRequestTo(kRx1), SessionFault::kBadFrame, -1},
        {"keep-alives for ever", true, keepalives, SessionFault::kTooManyKeepAlives, -1},
        {"a name not ours", false, SessionRequestTo(kAlice), SessionFault::kCalledNameNotPresent, 0x8382},
        {"a malformed request", false, Bytes{0x81, 0, 0, 2, 1, 2}, SessionFault::kBadSessionRequest, 0x838F},
        {"a message before the session", false, start, SessionFault::kBadFrame, -1},
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
}

TEST(MessageSession, AMessageNotKeptIsAnsweredWithAnError)
{
    Conversation c;
    c.Send(SessionRequestTo(kRx1));
    c.Send(Framed(BuildSendMessage(1, "ME", "RX1", Bytes{'h', 'i'})));
    ASSERT_TRUE(c.session.TakeMessage().has_value());
    c.session.Stored(false);
    c.Bank();
    EXPECT_EQ(c.LastStatus(), 0x00530002);
    EXPECT_EQ(c.session.fault(), SessionFault::kNotStored);
}

// --- our own client through both --------------------------------------------------------

// The client's network seam wired to a NameServer and MessageSessions in this
// process: datagrams go to the server and its answers come back; each
// connection is a session whose messages are kept at once.
class ServedLan final : public net::Network {
public:
    static inline const net::Ipv4 kClient = Ip(10, 0, 0, 5);

    NameServer server{NameServerConfig{{kLan}, 0, 3}};
    std::vector<ReceivedMessage> kept;

    std::vector<net::Interface> Interfaces() override { return {{kClient, kLan.netmask, kLan.broadcast}}; }
    std::vector<net::Ipv4> WinsServers() override { return {}; }
    std::u16string ComputerName() override { return u"tester"; }
    std::shared_ptr<const net::CodePage> OemCodePage(std::string_view) override
    {
        return std::shared_ptr<const net::CodePage>(&Cp850(), [](const net::CodePage*) {});
    }

    std::unique_ptr<net::UdpSocket> OpenUdp() override { return std::make_unique<Udp>(*this); }
    std::unique_ptr<net::TcpStream> Connect(net::Ipv4 address, std::uint16_t port, net::Deadline) override
    {
        if (address != kLan.address || port != kSessionPort) return nullptr;
        return std::make_unique<Stream>(*this);
    }

private:
    class Udp final : public net::UdpSocket {
    public:
        explicit Udp(ServedLan& lan) : lan_(lan) {}
        bool SendTo(std::span<const std::uint8_t> data, net::Ipv4 to, std::uint16_t) override
        {
            if (to != kLan.broadcast && to != kLan.address) return true;
            lan_.server.OnDatagram(data, kClient, 40000, kLan.address, net::Clock::now());
            for (OutgoingDatagram& d : lan_.server.TakeOutgoing())
                if (d.address == kClient) queue_.push_back(std::move(d.bytes));
            return true;
        }
        std::optional<net::Datagram> Receive(std::span<std::uint8_t> buffer, net::Deadline deadline) override
        {
            if (queue_.empty() || net::Clock::now() >= deadline) {
                std::this_thread::sleep_until(deadline);
                return std::nullopt;
            }
            const Bytes d = std::move(queue_.front());
            queue_.pop_front();
            const std::size_t n = std::min(d.size(), buffer.size());
            std::memcpy(buffer.data(), d.data(), n);
            return net::Datagram{kLan.address, kNameServicePort, n};
        }

    private:
        ServedLan& lan_;
        std::deque<Bytes> queue_;
    };

    class Stream final : public net::TcpStream {
    public:
        explicit Stream(ServedLan& lan) : lan_(lan) {}
        bool WriteAll(std::span<const std::uint8_t> data, net::Deadline) override
        {
            session_.OnBytes(data);
            if (auto message = session_.TakeMessage()) {
                lan_.kept.push_back(std::move(*message));
                session_.Stored(true);
            }
            const Bytes out = session_.TakeOutput();
            pending_.insert(pending_.end(), out.begin(), out.end());
            return true;
        }
        std::size_t ReadSome(std::span<std::uint8_t> buffer, net::Deadline) override
        {
            const std::size_t n = std::min(buffer.size(), pending_.size());
            std::memcpy(buffer.data(), pending_.data(), n);
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
            return n;
        }

    private:
        ServedLan& lan_;
        MessageSession session_{[this](const RawName& n) { return lan_.server.StateOf(n) == NameState::kClaimed; }};
        Bytes pending_;
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
    limits.broadcast_interval = milliseconds(20);
    limits.node_status_wait = milliseconds(20);
    MessengerClient client(lan, "", limits);
    const std::u16string text = u"caf\u00e9\r\n" + std::u16string(300, u'x');
    EXPECT_EQ(client.Send(u"alice", text), net_status::kSuccess);
    EXPECT_EQ(client.Send(u"*", u"all"), net_status::kSuccess);
    EXPECT_EQ(client.Send(u"bob", u"none"), net_status::kNameNotFound);
    ASSERT_EQ(lan.kept.size(), 2u);
    EXPECT_EQ(lan.kept[0].text, "caf\x82\r\n" + std::string(300, 'x'));
    EXPECT_EQ(lan.kept[0].destination, "ALICE");
    EXPECT_EQ(lan.kept[0].originator, "TESTER");
    EXPECT_EQ(lan.kept[1].destination, "RX1") << "everyone reaches the computer name";
}

}  // namespace
}  // namespace vindrel::netbios
