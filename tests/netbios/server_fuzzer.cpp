// libFuzzer target: the receiving side fed arbitrary bytes. The name server
// takes them as datagrams and the message session as a TCP stream, each also
// behind a valid prefix, so that the fuzzer reaches the states past the
// first checks (a name we hold, an open session, a message started).
#include <cstddef>
#include <cstdint>

#include "platform/netbios/message_session.h"
#include "platform/netbios/name_server.h"

namespace {

using namespace vindrel::netbios;
using vindrel::net::Clock;

constexpr vindrel::net::Ipv4 kAddress = 0x0A000009, kPeer = 0x0A000007, kWins = 0x0A000002;

RawName Held() { return *MakeName(u"RX1", kMessengerSuffix); }

Clock::time_point At(int ms) { return Clock::time_point{} + std::chrono::milliseconds(ms); }

Bytes Concat(Bytes a, ByteView b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Datagrams cut from the input at each 0xFE byte, from the peer or the WINS
// server, a few hundred milliseconds apart, into a server that holds RX1
// and is claiming ALICE.
void FuzzNameServer(ByteView input, bool behind_header)
{
    NameServer server(NameServerConfig{{{kAddress, 0xFFFFFF00, 0x0A0000FF}}, kWins, 1});
    server.Claim(Held(), At(0));
    server.OnDatagram(BuildRegistrationResponse(0, Held(), NameRcode::kOk, 0, kAddress, 600),
                      kWins, 137, kAddress, At(0));
    for (int ms = 0; ms <= 3000; ms += 250) server.OnTimer(At(ms));
    server.Claim(*MakeName(u"ALICE", kMessengerSuffix), At(3000));
    int now = 3000;
    const Bytes header = BuildNameQuery(0x4242, Held(), true);
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= input.size(); ++i) {
        if (i < input.size() && input[i] != 0xFE) continue;
        const ByteView part = input.subspan(begin, i - begin);
        const Bytes datagram = behind_header ? Concat(Bytes(header.begin(), header.begin() + 12), part)
                                             : Bytes(part.begin(), part.end());
        now += 100;
        server.OnDatagram(datagram, part.size() % 2 ? kWins : kPeer, 137, kAddress, At(now));
        server.OnTimer(At(now));
        begin = i + 1;
    }
    server.TakeOutgoing();
    server.TakeEvents();
    server.ReleaseAll(At(now));
}

// The input as a stream, in chunks cut at each 0xFE byte, into a session
// that is new, open, or has a message started; a message that completes is
// kept or not by the chunk's length.
void FuzzSession(ByteView input, int prefix)
{
    MessageSession session([](const RawName& name) { return name == Held(); });
    if (prefix > 0) session.OnBytes(BuildSessionRequest(Held(), Held()));
    if (prefix > 1) session.OnBytes(FrameSessionMessage(BuildSendStart(1, "ME", "RX1")));
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= input.size() && !session.closing(); ++i) {
        if (i < input.size() && input[i] != 0xFE) continue;
        const ByteView chunk = input.subspan(begin, i - begin);
        // The last prefix wraps each chunk in its own frame: SMB requests.
        if (prefix == 3)
            session.OnBytes(FrameSessionMessage(chunk));
        else
            session.OnBytes(chunk);
        if (session.TakeMessage()) session.Stored((i - begin) % 3 != 0);
        session.TakeOutput();
        begin = i + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const ByteView rest(data + 1, size - 1);
    switch (data[0] % 6) {
    case 0: FuzzNameServer(rest, false); break;
    case 1: FuzzNameServer(rest, true); break;
    default: FuzzSession(rest, data[0] % 6 - 2); break;
    }
    return 0;
}
