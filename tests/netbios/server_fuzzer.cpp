// libFuzzer target: the receiving side fed arbitrary bytes, cut into pieces
// at each 0xFE byte. The name server takes the pieces as datagrams (raw or
// behind a query's header) while it holds one name and claims another; the
// message session takes them as a stream into a session that is new, open,
// has a message started, or as SMB requests each in its own frame. The
// messenger datagram parser takes the whole input, raw or behind a valid
// datagram header and mailslot write's start.
#include <cstddef>
#include <cstdint>

#include "netbios/codec/datagram.h"
#include "netbios/server/message_session.h"
#include "netbios/server/name_server.h"

namespace {

using namespace vindrel::netbios;

constexpr vindrel::net::Ipv4 kAddress = 0x0A000009, kPeer = 0x0A000007, kWins = 0x0A000002;

const RawName kHeld = *MakeName(u"RX1", kMessengerSuffix);

auto At(int ms) { return vindrel::net::Clock::time_point{} + std::chrono::milliseconds(ms); }

template <typename Take>
void ForEachPiece(ByteView input, Take take)
{
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= input.size(); ++i)
        if (i == input.size() || input[i] == 0xFE) {
            take(input.subspan(begin, i - begin));
            begin = i + 1;
        }
}

void FuzzNameServer(ByteView input, bool behind_header)
{
    NameServer server(NameServerConfig{{{kAddress, 0xFFFFFF00, 0x0A0000FF}}, kWins, 1});
    server.Claim(kHeld, At(0));
    for (int ms = 0; ms <= 3000; ms += 250) server.OnTimer(At(ms));  // held, the server silent
    server.Claim(*MakeName(u"ALICE", kMessengerSuffix), At(3000));
    const Bytes query = BuildNameQuery(0x4242, kHeld, true);
    int now = 3000;
    ForEachPiece(input, [&](ByteView piece) {
        Bytes datagram;
        if (behind_header) datagram.assign(query.begin(), query.begin() + 12);
        datagram.insert(datagram.end(), piece.begin(), piece.end());
        now += 100;
        server.OnDatagram(datagram, piece.size() % 2 ? kWins : kPeer, 137, kAddress, At(now));
        server.OnTimer(At(now));
    });
    server.ReleaseAll(At(now));
}

void FuzzSession(ByteView input, int prefix)
{
    MessageSession session([](const RawName& name) { return name == kHeld; });
    if (prefix > 0) session.OnBytes(BuildSessionRequest(kHeld, kHeld));
    if (prefix == 2) session.OnBytes(FrameSessionMessage(BuildSendStart(1, "ME", "RX1")));
    ForEachPiece(input, [&](ByteView piece) {
        session.OnBytes(prefix == 3 ? ByteView(FrameSessionMessage(piece)) : piece);
        if (session.TakeMessage()) session.Stored(piece.size() % 3 != 0);
        session.TakeOutput();
    });
}

void FuzzDatagram(ByteView input, bool behind_header)
{
    Bytes datagram;
    if (behind_header) {
        // A direct unique datagram's header and names with the length of
        // what follows, then an SMB transaction's header.
        Writer w;
        const std::uint8_t header[] = {0x10, 0x02, 0, 1, 10, 0, 0, 7, 0, 138};
        w.Append(header);
        w.U16be(static_cast<std::uint16_t>(2 * kEncodedNameSize + 32 + input.size()));
        w.U16be(0);
        EncodeName(kHeld, w);
        EncodeName(kHeld, w);
        const std::uint8_t smb[] = {0xFF, 'S', 'M', 'B', 0x25};
        w.Append(smb);
        w.Fill(0, 27);
        datagram = w.Take();
    }
    datagram.insert(datagram.end(), input.begin(), input.end());
    MessengerDatagram out;
    ParseMessengerDatagram(datagram, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const ByteView rest(data + 1, size - 1);
    if (data[0] % 8 < 2)
        FuzzNameServer(rest, data[0] % 8 == 1);
    else if (data[0] % 8 < 6)
        FuzzSession(rest, data[0] % 8 - 2);
    else
        FuzzDatagram(rest, data[0] % 8 == 7);
    return 0;
}
