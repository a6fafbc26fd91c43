// The NetBIOS and SMB codecs against known bytes and hostile replies.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "netbios/client/messenger_client.h"
#include "netbios/codec/datagram.h"
#include "netbios/codec/name_service.h"
#include "netbios/codec/nb_name.h"
#include "netbios/codec/session_frame.h"
#include "netbios/codec/smb_message.h"
#include "platform/cp850.h"
#include "platform/netmsg.h"
#include "samba/samba_config.h"
#include "tests/netbios/fake_lan.h"
#include "tests/netbios/offline_network.h"
#include "tests/netbios/packet_builders.h"

namespace vindrel::netbios {
namespace {

Bytes Of(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes Encoded(const RawName& name)
{
    Writer w;
    EncodeName(name, w);
    return w.Take();
}

RawName Name(std::u16string_view text, std::uint8_t suffix = kMessengerSuffix)
{
    const auto name = MakeName(text, suffix);
    EXPECT_TRUE(name.has_value());
    return name.value_or(RawName{});
}

// Every proper prefix of a valid reply must be refused; any byte past the
// prefix is beyond what the parser may read (ASan checks the copy's end).
template <typename Judge>
void ForEveryCut(const Bytes& whole, Judge judge)
{
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        SCOPED_TRACE("cut at " + std::to_string(n));
        judge(cut);
    }
}

// --- names -----------------------------------------------------------------

TEST(NetbiosName, FirstLevelEncodingOfTheRfcExample)
{
    // RFC 1001, 14.1: "FRED" padded with spaces encodes as below.
    const Bytes expected = [] {
        Bytes b{32};
        const Bytes label = Of("EGFCEFEECACACACACACACACACACACACA");
        b.insert(b.end(), label.begin(), label.end());
        b.push_back(0);
        return b;
    }();
    EXPECT_EQ(Encoded(Name(u"Fred", 0x20)), expected);
}

TEST(NetbiosName, RecipientNamesAreUpperCaseCp850PaddedWithSuffix)
{
    const RawName pc = Name(u"pc42");
    EXPECT_EQ(std::string(pc.begin(), pc.begin() + 15), "PC42           ");
    EXPECT_EQ(pc[15], 0x03);
    const RawName accented = Name(u"j\u00e9r\u00f4me");  // jérôme
    EXPECT_EQ(accented[1], 0x90);  // É in CP850
    EXPECT_EQ(accented[3], 0xE2);  // Ô in CP850
    EXPECT_EQ(NameText(Name(u"ABCDEFGHIJKLMNO")), "ABCDEFGHIJKLMNO");
}

TEST(NetbiosName, RefusesWhatCannotBeANetbiosName)
{
    const std::u16string lone_surrogate(1, char16_t{0xD800});
    for (const std::u16string& bad :
         {std::u16string(), std::u16string(u"ABCDEFGHIJKLMNOP"), std::u16string(u"euro\u20ac"),
          lone_surrogate, std::u16string(u"a\0b", 3)})
        EXPECT_FALSE(MakeName(bad, kMessengerSuffix).has_value());
}

TEST(NetbiosName, DecodeRoundTripsAndRefusesForeignShapes)
{
    const RawName name = Name(u"alice");
    const Bytes good = Encoded(name);
    RawName back{};
    Reader in(good);
    ASSERT_TRUE(DecodeName(in, back));
    EXPECT_EQ(back, name);
    EXPECT_EQ(in.remaining(), 0u);

    ForEveryCut(good, [](const Bytes& cut) {
        Reader r(cut);
        RawName n{};
        EXPECT_FALSE(DecodeName(r, n));
        EXPECT_EQ(r.position(), 0u);
    });
    struct Case {
        const char* what;
        std::size_t at;
        std::uint8_t value;
    };
    for (const Case& c : {Case{"short label", 0, 31}, Case{"compression pointer", 0, 0xC0},
                          Case{"letter past P", 5, 'Q'}, Case{"lower case", 6, 'a'},
                          Case{"scope label", 33, 3}}) {
        Bytes bad = good;
        bad[c.at] = c.value;
        Reader r(bad);
        RawName n{};
        EXPECT_FALSE(DecodeName(r, n)) << c.what;
    }
}

// --- name service ------------------------------------------------------------

using fake::PositiveReply;

const std::uint8_t kOneAddress[] = {0x00, 0x00, 10, 77, 1, 11};

TEST(NameQuery, RequestBytes)
{
    const RawName name = Name(u"RX1");
    const Bytes b = BuildNameQuery(0x1234, name, true);
    ASSERT_EQ(b.size(), 12u + 34u + 4u);
    const Bytes header = {0x12, 0x34, 0x01, 0x10, 0, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 12), header);
    EXPECT_EQ(Bytes(b.begin() + 12, b.begin() + 46), Encoded(name));
    EXPECT_EQ(Bytes(b.end() - 4, b.end()), (Bytes{0x00, 0x20, 0x00, 0x01}));
    // To a name server: no broadcast flag.
    EXPECT_EQ(BuildNameQuery(0x1234, name, false)[3], 0x00);
}

TEST(NameQuery, PositiveReplyGivesTheAddress)
{
    const RawName name = Name(u"RX1");
    const QueryAnswer a = JudgeNameQueryReply(PositiveReply(7, name, kOneAddress), 7, name);
    EXPECT_EQ(a.verdict, QueryVerdict::kPositive);
    EXPECT_EQ(a.address, 0x0A4D010Bu);
    // A group answer lists several; an empty slot is passed over.
    const std::uint8_t two[] = {0x80, 0, 0, 0, 0, 0, 0x80, 0, 10, 0, 0, 2};
    EXPECT_EQ(JudgeNameQueryReply(PositiveReply(7, name, two), 7, name).address, 0x0A000002u);
}

TEST(NameQuery, HostileRepliesAreIgnored)
{
    const RawName name = Name(u"RX1");
    const Bytes good = PositiveReply(7, name, kOneAddress);
    ForEveryCut(good, [&](const Bytes& cut) {
        EXPECT_EQ(JudgeNameQueryReply(cut, 7, name).verdict, QueryVerdict::kIgnore);
    });
    struct Case {
        const char* what;
        Bytes reply;
        std::uint16_t id;
        RawName asked;
    };
    Bytes long_rdlength = good;
    long_rdlength[good.size() - 7] = 7;  // claims 7 bytes, 6 arrived
    Bytes not_a_response = good;
    not_a_response[2] &= 0x7F;
    Bytes wrong_opcode = good;
    wrong_opcode[2] |= 0x28;  // registration
    Bytes two_answers = good;
    two_answers[7] = 2;
    Bytes wrong_type = good;
    wrong_type[47] = 0x21;
    const std::uint8_t odd_rdata[] = {0, 0, 10, 77, 1};
    const std::uint8_t zero_address[] = {0, 0, 0, 0, 0, 0};
    const Case cases[] = {
        {"wrong id", good, 8, name},
        {"other name", good, 7, Name(u"RX2")},
        {"other suffix", good, 7, Name(u"RX1", 0x20)},
        {"not a response", not_a_response, 7, name},
        {"wrong opcode", wrong_opcode, 7, name},
        {"two answers", two_answers, 7, name},
        {"wrong record type", wrong_type, 7, name},
        {"rdlength beyond the datagram", long_rdlength, 7, name},
        {"rdata not whole entries", PositiveReply(7, name, odd_rdata), 7, name},
        {"no address", PositiveReply(7, name, {}), 7, name},
        {"only a zero address", PositiveReply(7, name, zero_address), 7, name},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JudgeNameQueryReply(c.reply, c.id, c.asked).verdict, QueryVerdict::kIgnore)
            << c.what;
}

TEST(NameQuery, NegativeReplyOnlyForTheNameAsked)
{
    const RawName name = Name(u"NOSUCH");
    const Bytes negative = PositiveReply(9, name, {}, 0x8583);  // RCODE 3, name error
    EXPECT_EQ(JudgeNameQueryReply(negative, 9, name).verdict, QueryVerdict::kNegative);
    EXPECT_EQ(JudgeNameQueryReply(negative, 9, Name(u"OTHER")).verdict, QueryVerdict::kIgnore);
    const Bytes bare_header(negative.begin(), negative.begin() + 12);
    EXPECT_EQ(JudgeNameQueryReply(bare_header, 9, name).verdict, QueryVerdict::kNegative);
}

using fake::NodeStatusReply;

TEST(NodeStatus, RequestAsksTheWildcardForItsStatus)
{
    const Bytes b = BuildNodeStatusRequest(0x0102);
    ASSERT_EQ(b.size(), 50u);
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ(b[3], 0);
    EXPECT_EQ(Bytes(b.begin() + 12, b.begin() + 46), Encoded(WildcardName()));
    EXPECT_EQ(b[47], 0x21);
}

TEST(NodeStatus, FirstUniqueMessengerNameIsTheComputerName)
{
    const std::vector<NodeName> listed = {
        {Name(u"RX1", 0x00), 0x0400},
        {Name(u"VLAB", 0x03), 0x8400},   // a group <03>: not a computer
        {Name(u"OLD", 0x03), 0x1400},    // being released
        {Name(u"RX1", 0x03), 0x0400},
        {Name(u"ALICE", 0x03), 0x0400},
    };
    const auto names = ParseNodeStatusReply(NodeStatusReply(5, listed), 5);
    ASSERT_TRUE(names.has_value());
    ASSERT_EQ(names->size(), 5u);
    const auto first = FirstMessengerName(*names);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(NameText(*first), "RX1");
    EXPECT_FALSE(FirstMessengerName({listed[0], listed[1]}).has_value());
}

TEST(NodeStatus, HostileRepliesAreRefused)
{
    const std::vector<NodeName> listed = {{Name(u"RX1"), 0x0400}};
    const Bytes good = NodeStatusReply(5, listed);
    ForEveryCut(good, [](const Bytes& cut) { EXPECT_FALSE(ParseNodeStatusReply(cut, 5)); });
    EXPECT_FALSE(ParseNodeStatusReply(good, 6).has_value());
    EXPECT_FALSE(ParseNodeStatusReply(NodeStatusReply(5, listed, 200), 5).has_value());
}

// --- session -----------------------------------------------------------------

TEST(Session, RequestCarriesCalledAndCallingNames)
{
    const RawName called = Name(u"RX1"), calling = Name(u"CLI", 0x00);
    const Bytes b = BuildSessionRequest(called, calling);
    ASSERT_EQ(b.size(), 72u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 4), (Bytes{0x81, 0, 0, 68}));
    EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 38), Encoded(called));
    EXPECT_EQ(Bytes(b.begin() + 38, b.end()), Encoded(calling));
}

TEST(Session, FrameHeaders)
{
    FrameHeader f;
    ASSERT_TRUE(ParseFrameHeader(Bytes{0x00, 0x01, 0x00, 0x10}, f));
    EXPECT_EQ(f.length, 0x10010u);  // the length extension bit
    EXPECT_FALSE(ParseFrameHeader(Bytes{0x00, 0x02, 0x00, 0x10}, f));
    EXPECT_FALSE(ParseFrameHeader(Bytes{0x82, 0x00, 0x00}, f));
    const Bytes framed = FrameSessionMessage(Bytes(300, 0xAB));
    EXPECT_EQ(Bytes(framed.begin(), framed.begin() + 4), (Bytes{0, 0, 0x01, 0x2C}));
}

TEST(Session, ReplyVerdicts)
{
    struct Case {
        const char* what;
        std::uint8_t type;
        Bytes body;
        std::uint32_t announced;
        SessionVerdict want;
    };
    const Case cases[] = {
        {"positive", 0x82, {}, 0, SessionVerdict::kPositive},
        {"positive with a body", 0x82, {0}, 1, SessionVerdict::kMalformed},
        {"called name not present", 0x83, {0x82}, 1, SessionVerdict::kCalledNameNotPresent},
        {"not listening on called name", 0x83, {0x80}, 1, SessionVerdict::kRefused},
        {"insufficient resources", 0x83, {0x83}, 1, SessionVerdict::kRefused},
        {"negative without a code", 0x83, {}, 0, SessionVerdict::kMalformed},
        {"retarget", 0x84, {10, 0, 0, 1, 0, 139}, 6, SessionVerdict::kRefused},
        {"short retarget", 0x84, {10, 0}, 2, SessionVerdict::kMalformed},
        {"session message", 0x00, {1, 2}, 2, SessionVerdict::kMalformed},
        {"body shorter than announced", 0x83, {}, 1, SessionVerdict::kMalformed},
    };
    for (const Case& c : cases) {
        const FrameHeader f{c.type, c.announced};
        EXPECT_EQ(JudgeSessionReply(f, c.body), c.want) << c.what;
    }
}

// --- SMB message commands --------------------------------------------------------

TEST(SmbMessage, StartCarriesOriginatorAndDestination)
{
    const Bytes b = BuildSendStart(3, "CLI", "RX1");
    ASSERT_EQ(b.size(), 32u + 1 + 2 + 5 + 5);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 5), (Bytes{0xFF, 'S', 'M', 'B', 0xD5}));
    EXPECT_EQ(b[30], 3);  // MID
    EXPECT_EQ(b[32], 0);  // no words
    EXPECT_EQ(b[33], 10);
    EXPECT_EQ(Bytes(b.begin() + 35, b.end()), Of(std::string("\4CLI\0\4RX1\0", 10)));
}

TEST(SmbMessage, TextAndEndCarryTheGroup)
{
    const Bytes block(128, 'x');
    const Bytes t = BuildSendText(4, 0x0201, block);
    ASSERT_EQ(t.size(), 32u + 1 + 2 + 2 + 3 + 128);
    EXPECT_EQ(t[4], 0xD7);
    EXPECT_EQ(Bytes(t.begin() + 32, t.begin() + 40), (Bytes{1, 0x01, 0x02, 131, 0, 1, 128, 0}));
    const Bytes e = BuildSendEnd(5, 0x0201);
    EXPECT_EQ(Bytes(e.begin() + 32, e.end()), (Bytes{1, 0x01, 0x02, 0, 0}));
}

Bytes Reply(std::uint8_t command, std::uint16_t mid, std::uint32_t status, Bytes words)
{
    Writer w;
    const std::uint8_t magic[] = {0xFF, 'S', 'M', 'B'};
    w.Append(magic);
    w.U8(command);
    for (int i = 0; i < 4; ++i) w.U8(static_cast<std::uint8_t>(status >> (8 * i)));
    w.U8(0x80);
    w.Fill(0, 2 + 2 + 8 + 2 + 2 + 2 + 2);
    w.U16le(mid);
    w.U8(static_cast<std::uint8_t>(words.size() / 2));
    w.Append(words);
    w.U16le(0);
    return w.Take();
}

TEST(SmbMessage, ReplyVerdicts)
{
    const SmbReply start = JudgeSmbReply(Reply(0xD5, 1, 0, {0x34, 0x12}), 0xD5, 1);
    EXPECT_EQ(start.verdict, SmbVerdict::kAccepted);
    EXPECT_EQ(start.group, 0x1234);
    // Samba leaves the group id out.
    EXPECT_EQ(JudgeSmbReply(Reply(0xD5, 1, 0, {}), 0xD5, 1).verdict, SmbVerdict::kAccepted);

    const Bytes refused = Reply(0xD5, 1, 0x00210002, {});  // ERRSRV, message server off
    EXPECT_EQ(JudgeSmbReply(refused, 0xD5, 1).verdict, SmbVerdict::kRefused);
    EXPECT_EQ(JudgeSmbReply(refused, 0xD5, 1).status, 0x00210002u);

    Bytes request_not_reply = Reply(0xD7, 2, 0, {});
    request_not_reply[9] = 0;
    Bytes bad_magic = Reply(0xD7, 2, 0, {});
    bad_magic[1] = 'X';
    Bytes byte_count_beyond = Reply(0xD7, 2, 0, {});
    byte_count_beyond[33] = 5;
    struct Case {
        const char* what;
        Bytes reply;
    };
    for (const Case& c : {Case{"wrong command", Reply(0xD6, 2, 0, {})},
                          Case{"wrong mid", Reply(0xD7, 3, 0, {})},
                          Case{"a request", request_not_reply}, Case{"not SMB", bad_magic},
                          Case{"byte count beyond the frame", byte_count_beyond}})
        EXPECT_EQ(JudgeSmbReply(c.reply, 0xD7, 2).verdict, SmbVerdict::kMalformed) << c.what;

    ForEveryCut(Reply(0xD5, 1, 0, {0x34, 0x12}), [](const Bytes& cut) {
        EXPECT_EQ(JudgeSmbReply(cut, 0xD5, 1).verdict, SmbVerdict::kMalformed);
    });
}

// --- what the receiving side sends, and lengths that do not fit --------------------

Bytes Joined(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(Packets, ReceivingSideShapesByteForByte)
{
    const RawName rx1 = Name(u"RX1");
    const NodeName listed[] = {{rx1, 0x0400}};
    const SmbHeader request{.command = 0xD5, .flags = 0x18, .flags2 = 0xC801, .tid = 0x1111,
                            .pid = 0x2222, .uid = 0x3333, .mid = 0x4444};
    const std::tuple<const char*, Bytes, Bytes> rows[] = {
        {"a registration: question, then a record pointing at it",
         BuildNameRegistration(0x1234, rx1, kNbOntM, 0x0A000009, 300000, true),
         Joined({{0x12, 0x34, 0x29, 0x10, 0, 1, 0, 0, 0, 0, 0, 1}, Encoded(rx1),
                 {0, 0x20, 0, 1, 0xC0, 0x0C, 0, 0x20, 0, 1, 0, 4, 0x93, 0xE0, 0, 6, 0x40, 0, 10, 0, 0, 9}})},
        {"a defence: an answer record with its name",
         BuildRegistrationResponse(0x4321, rx1, NameRcode::kActive, 0x2000, 0x0A000007),
         Joined({{0x43, 0x21, 0xAD, 0x86, 0, 0, 0, 1, 0, 0, 0, 0}, Encoded(rx1),
                 {0, 0x20, 0, 1, 0, 0, 0, 0, 0, 6, 0x20, 0, 10, 0, 0, 7}})},
        {"node status: names, then the statistics",
         BuildNodeStatusResponse(9, WildcardName(), listed),
         Joined({{0, 9, 0x84, 0, 0, 0, 0, 1, 0, 0, 0, 0}, Encoded(WildcardName()),
                 {0, 0x21, 0, 1, 0, 0, 0, 0, 0, 65, 1}, Bytes(rx1.begin(), rx1.end()), {0x04, 0},
                 Bytes(46, 0)})},
        {"an SMB error echoes the request's ids",
         BuildSmbError(request, SmbErrorClass::kServer, kErrSrvNoRoom),
         Joined({{0xFF, 'S', 'M', 'B', 0xD5, 2, 0, 83, 0, 0x80, 0, 0}, Bytes(12, 0),
                 {0x11, 0x11, 0x22, 0x22, 0x33, 0x33, 0x44, 0x44, 0, 0, 0}})},
        {"a negative session response", BuildNegativeSessionResponse(SessionRefusal::kCalledNameNotPresent),
         {0x83, 0, 0, 1, 0x82}},
    };
    for (const auto& [what, built, want] : rows) EXPECT_EQ(built, want) << what;
}

// A length or count one past its field refuses the whole packet: nothing is
// sent rather than a count that lies. Sizes: 0 for a refusal.
TEST(Packets, LengthsThatDoNotFitRefuseThePacket)
{
    const auto patched = [](std::size_t body, bool big_endian, bool spoiled_part = false) {
        Writer part, out;
        part.Count8(spoiled_part ? 256 : 0);
        const std::size_t at = out.Reserve16();
        out.Fill(0xAB, body);
        out.Append(part);
        big_endian ? out.PatchLength16be(at) : out.PatchLength16le(at);
        return out.Take();
    };
    const std::uint16_t words[256] = {};
    const struct {
        const char* what;
        Bytes packet;
        std::size_t size, at;
        Bytes field;
    } rows[] = {
        {"16-bit length at its largest", patched(0xFFFE, true), 0x10001, 0, {0xFF, 0xFF}},
        {"16-bit length one past", patched(0xFFFF, true), 0, 0, {}},
        {"little-endian length", patched(0x1233, false), 0x1236, 0, {0x34, 0x12}},
        {"little-endian length one past", patched(0xFFFF, false), 0, 0, {}},
        {"a part that did not fit", patched(1, true, true), 0, 0, {}},
        {"frame at the 17-bit limit", FrameSessionMessage(Bytes(0x1FFFF, 0)), 0x20003, 0, {0, 1, 0xFF, 0xFF}},
        {"frame one past", FrameSessionMessage(Bytes(0x20000, 0)), 0, 0, {}},
        {"SMB byte count at its largest", BuildSendText(1, 1, Bytes(0xFFFC, 0)), 37 + 0xFFFF, 35, {0xFF, 0xFF}},
        {"SMB byte count one past", BuildSendText(1, 1, Bytes(0xFFFD, 0)), 0, 0, {}},
        {"255 SMB words", BuildSmbReply({}, std::span(words, 255)), 35 + 510, 32, {255}},
        {"256 SMB words", BuildSmbReply({}, words), 0, 0, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(row.packet.size(), row.size);
        const auto at = row.packet.begin() + static_cast<std::ptrdiff_t>(row.at);
        EXPECT_EQ(Bytes(at, at + static_cast<std::ptrdiff_t>(row.field.size())), row.field);
    }
}

TEST(Replies, RandomBytesNeverPassForAnswers)
{
    std::mt19937 random(42);
    const RawName name = Name(u"RX1");
    for (int round = 0; round < 20000; ++round) {
        Bytes junk(random() % 120);
        for (auto& b : junk) b = static_cast<std::uint8_t>(random());
        EXPECT_NE(JudgeNameQueryReply(junk, 0x4242, name).verdict, QueryVerdict::kPositive);
        ParseNodeStatusReply(junk, 0x4242);
        EXPECT_NE(JudgeSmbReply(junk, 0xD5, 0x4242).verdict, SmbVerdict::kAccepted);
        MessengerDatagram datagram;
        EXPECT_NE(ParseMessengerDatagram(junk, datagram), DatagramError::kNone);
        FrameHeader f;
        if (junk.size() >= 4 && ParseFrameHeader(ByteView(junk).first(4), f))
            JudgeSessionReply(f, ByteView(junk).subspan(4));
    }
}

// --- messenger datagrams -------------------------------------------------------------

// A mailslot write to `mailslot` in a datagram, with every field a row may spoil.
struct DatagramShape {
    std::uint8_t type = 0x10, flags = 0x02, command = 0x25, setup_count = 3;
    std::uint16_t opcode = 1, mailslot_class = 2, piece_offset = 0;
    int length_change = 0, offset_change = 0, total_change = 0;
    std::string mailslot = "\\MAILSLOT\\MESSNGR";
    std::string data = std::string("ALICE\0VRX\0Gr\x81\x8A\x65\0", 16);
};

Bytes BuildDatagram(const DatagramShape& s)
{
    Writer smb;
    const std::uint8_t magic[] = {0xFF, 'S', 'M', 'B'};
    smb.Append(magic);
    smb.U8(s.command);
    smb.Fill(0, 32 - 5);
    smb.U8(17);
    const std::size_t data_offset = 32 + 1 + 34 + 2 + s.mailslot.size() + 1;
    const std::uint16_t count = static_cast<std::uint16_t>(s.data.size());
    for (const int word : {0, count + s.total_change, 0, 0, 0, 0, 0, 0, 0, 0, 0, int{count},
                           static_cast<int>(data_offset) + s.offset_change})
        smb.U16le(static_cast<std::uint16_t>(word));
    smb.U8(s.setup_count);
    smb.U8(0);
    for (const std::uint16_t word : {s.opcode, std::uint16_t{1}, s.mailslot_class}) smb.U16le(word);
    smb.U16le(static_cast<std::uint16_t>(s.mailslot.size() + 1 + s.data.size()));
    smb.Append(Of(s.mailslot));
    smb.U8(0);
    smb.Append(Of(s.data));
    const Bytes body = smb.Take();

    Writer w;
    w.U8(s.type);
    w.U8(s.flags);
    w.U16be(0x1234);
    for (const std::uint8_t b : {10, 77, 1, 45}) w.U8(b);  // SOURCE_IP
    w.U16be(138);
    w.U16be(static_cast<std::uint16_t>(2 * kEncodedNameSize + body.size() + s.length_change));
    w.U16be(s.piece_offset);
    EncodeName(Name(u"ALICE", 0), w);
    EncodeName(Name(u"VRX"), w);
    w.Append(body);
    return w.Take();
}

TEST(MessengerDatagram, CarriesNamesAddressAndTheMessageBytes)
{
    MessengerDatagram d;  // its texts point into the datagram, which must outlive it
    const Bytes datagram = BuildDatagram({});
    ASSERT_EQ(ParseMessengerDatagram(datagram, d), DatagramError::kNone);
    EXPECT_EQ(d.source, Name(u"ALICE", 0));
    EXPECT_EQ(d.destination, Name(u"VRX"));
    EXPECT_FALSE(d.group);
    EXPECT_EQ(d.claimed_source, 0x0A4D012Du);
    EXPECT_EQ(Bytes(d.from.begin(), d.from.end()), Of("ALICE"));
    EXPECT_EQ(Bytes(d.to.begin(), d.to.end()), Of("VRX"));
    EXPECT_EQ(Bytes(d.text.begin(), d.text.end()), Of("Gr\x81\x8A\x65"));

    DatagramShape group;
    group.type = 0x11;
    group.length_change = 14;  // a sender that counts the header in DGM_LENGTH
    group.mailslot = "\\mailslot\\messngr";
    ASSERT_EQ(ParseMessengerDatagram(BuildDatagram(group), d), DatagramError::kNone);
    EXPECT_TRUE(d.group);

    ForEveryCut(BuildDatagram({}), [](const Bytes& cut) {
        MessengerDatagram ignored;
        EXPECT_NE(ParseMessengerDatagram(cut, ignored), DatagramError::kNone);
    });
}

TEST(MessengerDatagram, RefusesEveryOtherShape)
{
    struct Row {
        const char* what;
        void (*spoil)(DatagramShape&);
        DatagramError want;
    };
    const Row rows[] = {
        {"broadcast datagram", [](DatagramShape& s) { s.type = 0x12; }, DatagramError::kNotDirect},
        {"first piece of several", [](DatagramShape& s) { s.flags = 0x03; }, DatagramError::kFragment},
        {"a later piece", [](DatagramShape& s) { s.flags = 0x00; }, DatagramError::kFragment},
        {"a piece at an offset", [](DatagramShape& s) { s.piece_offset = 8; }, DatagramError::kFragment},
        {"length beyond the datagram", [](DatagramShape& s) { s.length_change = 1; },
         DatagramError::kBadLength},
        {"length short of it", [](DatagramShape& s) { s.length_change = -1; },
         DatagramError::kBadLength},
        {"another command", [](DatagramShape& s) { s.command = 0x32; }, DatagramError::kNotTransaction},
        {"two setup words", [](DatagramShape& s) { s.setup_count = 2; },
         DatagramError::kNotMailslotWrite},
        {"another opcode", [](DatagramShape& s) { s.opcode = 2; }, DatagramError::kNotMailslotWrite},
        {"class 1", [](DatagramShape& s) { s.mailslot_class = 1; }, DatagramError::kNotMailslotWrite},
        {"more data to come", [](DatagramShape& s) { s.total_change = 10; },
         DatagramError::kNotMailslotWrite},
        {"data past the end", [](DatagramShape& s) { s.offset_change = 1; }, DatagramError::kBadOffsets},
        {"data over the name", [](DatagramShape& s) { s.offset_change = -2; },
         DatagramError::kBadOffsets},
        {"data offset far out", [](DatagramShape& s) { s.offset_change = 60000; },
         DatagramError::kBadOffsets},
        {"the browser's mailslot", [](DatagramShape& s) { s.mailslot = "\\MAILSLOT\\BROWSE"; },
         DatagramError::kOtherMailslot},
        {"a longer mailslot", [](DatagramShape& s) { s.mailslot += "X"; },
         DatagramError::kOtherMailslot},
        {"text without its NUL", [](DatagramShape& s) { s.data.pop_back(); },
         DatagramError::kBadMessage},
        {"no TO", [](DatagramShape& s) { s.data = std::string("ALICE\0", 6); },
         DatagramError::kBadMessage},
        {"a FROM of 65 bytes",
         [](DatagramShape& s) { s.data = std::string(65, 'A') + std::string("\0B\0C\0", 5); },
         DatagramError::kBadMessage},
    };
    for (const Row& row : rows) {
        DatagramShape shape;
        row.spoil(shape);
        MessengerDatagram d;
        EXPECT_EQ(ParseMessengerDatagram(BuildDatagram(shape), d), row.want) << row.what;
    }
    Bytes bad_name = BuildDatagram({});
    bad_name[20] = 'Z';
    MessengerDatagram d;
    EXPECT_EQ(ParseMessengerDatagram(bad_name, d), DatagramError::kBadName);
    Bytes reply = BuildDatagram({});
    reply[14 + 2 * kEncodedNameSize + 9] = 0x80;
    EXPECT_EQ(ParseMessengerDatagram(reply, d), DatagramError::kNotSmb);
}

// --- text ----------------------------------------------------------------------------

TEST(Cp850, MessageTextKeepsLineBreaksAndMarksMissingCharacters)
{
    const std::u16string pair = u"\U0001F600";
    const std::u16string lone(1, char16_t{0xDC00});
    struct Case {
        std::u16string in;
        std::string out;
    };
    for (const Case& c : {Case{u"caf\u00e9\r\nSent by x", "caf\x82\r\nSent by x"},
                          Case{u"\u20ac5", "?5"}, Case{pair + u"!", "?!"}, Case{lone + u"a", "?a"},
                          Case{u"", ""}})
        EXPECT_EQ(ToOemText(c.in), c.out);
}

TEST(Cp850, EveryByteRoundTrips)
{
    for (int b = 0; b < 256; ++b) {
        const auto back = ToCp850(FromCp850(static_cast<std::uint8_t>(b)));
        ASSERT_TRUE(back.has_value()) << b;
        EXPECT_EQ(*back, b);
    }
}

// --- configuration ----------------------------------------------------------------------

TEST(SambaConfig, TakesGlobalNameAndEveryWinsAddress)
{
    const SambaSettings s = ParseSambaConfig(
        "# comment\n"
        "[global]\n"
        "   NetBIOS  Name = Desk7 \n"
        "; wins server = 10.0.0.9\n"
        "wins server = winsbox:tag1, 10.1.2.3:tag2 10.9.9.9\n"
        "[share]\n"
        "netbios name = NOTME\n");
    EXPECT_EQ(s.netbios_name, "Desk7");
    // Every server, in order; a host name is not looked up.
    EXPECT_EQ(s.wins, (std::vector<std::uint32_t>{0x0A010203u, 0x0A090909u}));

    const SambaSettings continued = ParseSambaConfig("[ Global ]\r\nwins \\\nserver = 10.0.0.1\r\n");
    EXPECT_EQ(continued.wins, std::vector<std::uint32_t>{0x0A000001u});

    EXPECT_TRUE(ParseSambaConfig("[global]\nwins server = wins.example\n").wins.empty());
    EXPECT_TRUE(ReadSambaConfig("/nonexistent/smb.conf").netbios_name.empty());
}

// --- the send call's own checks (all decided before any packet) -------------------------

TEST(MessengerClient, RefusesNamesNoHostCanHoldBeforeAnyPacket)
{
    // A network with no interfaces: nothing this test does can leave the machine.
    const auto offline = net::MakeOfflineNetwork();
    MessengerClient client(*offline, "/nonexistent/smb.conf");
    EXPECT_EQ(client.Send(u"", u"a").result, SendOutcome::Result::kNameNotFound);
    EXPECT_EQ(client.Send(u"ABCDEFGHIJKLMNOP", u"a").result, SendOutcome::Result::kNameNotFound);
    EXPECT_EQ(client.Send(u"pi\u03c0", u"a").result, SendOutcome::Result::kNameNotFound);
    // The exported call refuses the length before it makes its network.
    EXPECT_EQ(vindrel::SendNetMessage(u"RX1", std::u16string(128, u'a')),
              net_status::kInvalidParameter);
}

}  // namespace
}  // namespace vindrel::netbios
