// libFuzzer target: every parser of what a peer sends, fed arbitrary bytes.
// The first byte picks whether the rest goes in raw or behind a valid
// prefix, so that the fuzzer also reaches past the header checks.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "netbios/codec/name_service.h"
#include "netbios/codec/session_frame.h"
#include "netbios/codec/smb_message.h"
#include "samba/samba_config.h"
#include "tests/netbios/packet_builders.h"

namespace {

using namespace vindrel::netbios;

constexpr std::uint16_t kId = 0x4242;

Bytes NameServicePrefix(const RawName& name, std::uint16_t flags, std::uint16_t type)
{
    Writer w;
    w.U16be(kId);
    w.U16be(flags);
    w.U16be(0);
    w.U16be(1);
    w.U16be(0);
    w.U16be(0);
    EncodeName(name, w);
    w.U16be(type);
    w.U16be(1);
    return w.Take();
}

Bytes SmbPrefix(std::uint8_t command)
{
    Bytes b = BuildSendEnd(kId, 0);
    b.resize(32);
    b[4] = command;
    b[9] = 0x80;
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    static const RawName name = *MakeName(u"RX1", kMessengerSuffix);
    const std::uint8_t mode = data[0];
    const ByteView rest(data + 1, size - 1);

    Bytes input;
    switch (mode % 5) {
    case 1: input = NameServicePrefix(name, 0x8500, 0x0020); break;
    case 2: input = NameServicePrefix(WildcardName(), 0x8400, 0x0021); break;
    case 3: input = SmbPrefix(static_cast<std::uint8_t>(kSendStartMb + mode / 5 % 3)); break;
    default: break;
    }
    input.insert(input.end(), rest.begin(), rest.end());
    const ByteView bytes(input);

    JudgeNameQueryReply(bytes, kId, name);
    JudgeNameQueryReply(bytes, kId, WildcardName());
    if (const auto names = ParseNodeStatusReply(bytes, kId)) FirstMessengerName(*names);
    for (std::uint8_t command : {kSendStartMb, kSendTextMb, kSendEndMb})
        JudgeSmbReply(bytes, command, kId);

    FrameHeader frame;
    if (bytes.size() >= kFrameHeaderSize && ParseFrameHeader(bytes.first(kFrameHeaderSize), frame))
        JudgeSessionReply(frame, bytes.subspan(kFrameHeaderSize));
    Reader in(bytes);
    RawName decoded;
    DecodeName(in, decoded);
    if (mode % 5 == 4)
        ParseSambaConfig(std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size()));
    return 0;
}
