// Messenger datagrams: the NetBIOS datagram header (RFC 1002, 4.4.1), the SMB
// transaction of a mailslot write, and the message inside it.
#include "netbios/codec/datagram.h"

#include <cctype>
#include <string_view>

#include "netbios/codec/smb_message.h"
#include "netbios/server/server_limits.h"

namespace vindrel::netbios {
namespace {

constexpr std::uint8_t kDirectUnique = 0x10;
constexpr std::uint8_t kDirectGroup = 0x11;
// FLAGS: the first piece of a datagram, and more pieces to follow.
constexpr std::uint8_t kFirstPiece = 0x02;
constexpr std::uint8_t kMorePieces = 0x01;

constexpr std::uint8_t kSmbTransaction = 0x25;
constexpr std::size_t kTransactionWords = 17;
constexpr std::uint8_t kMailslotSetupWords = 3;
constexpr std::uint16_t kMailslotWrite = 1;
constexpr std::uint16_t kSecondClass = 2;  // unreliable, may be broadcast

// The transaction words a mailslot write fills in; the rest it leaves unread.
struct MailslotWrite {
    std::uint16_t total_data = 0, data_count = 0, data_offset = 0;
    std::uint8_t setup_count = 0;
    std::uint16_t opcode = 0, mailslot_class = 0;
};

bool ReadWords(ByteView words, MailslotWrite& w)
{
    Reader in(words);
    std::uint16_t priority = 0;
    return words.size() == kTransactionWords * 2 && in.Skip(2) && in.U16le(w.total_data) &&
           in.Skip(2 + 2 + 1 + 1 + 2 + 4 + 2 + 2 + 2) && in.U16le(w.data_count) &&
           in.U16le(w.data_offset) && in.U8(w.setup_count) && in.Skip(1) &&
           in.U16le(w.opcode) && in.U16le(priority) && in.U16le(w.mailslot_class);
}

bool SameMailslot(ByteView name)
{
    const std::string_view want = kMessengerMailslot;
    if (name.size() != want.size()) return false;
    for (std::size_t i = 0; i < want.size(); ++i)
        if (std::toupper(name[i]) != want[i]) return false;
    return true;
}

}  // namespace

DatagramError ParseMessengerDatagram(ByteView datagram, MessengerDatagram& out)
{
    Reader in(datagram);
    std::uint8_t type = 0, flags = 0;
    std::uint16_t length = 0, piece_offset = 0;
    MessengerDatagram d;
    if (!in.U8(type) || !in.U8(flags) || !in.Skip(2) || !in.U32be(d.claimed_source) ||
        !in.Skip(2) || !in.U16be(length) || !in.U16be(piece_offset))
        return DatagramError::kShort;
    if (type != kDirectUnique && type != kDirectGroup) return DatagramError::kNotDirect;
    if (!(flags & kFirstPiece) || (flags & kMorePieces) || piece_offset != 0)
        return DatagramError::kFragment;
    // DGM_LENGTH counts what follows the header; a sender that counts the
    // header too is believed, but nothing claiming more than arrived is.
    if (length != in.remaining() && length != datagram.size()) return DatagramError::kBadLength;
    d.group = type == kDirectGroup;
    for (RawName* name : {&d.source, &d.destination}) {
        if (in.remaining() < kEncodedNameSize) return DatagramError::kShort;
        if (!DecodeName(in, *name)) return DatagramError::kBadName;
    }

    ByteView smb;
    in.Take(in.remaining(), smb);
    SmbRequest request;
    if (ParseSmbRequest(smb, request) != SmbParse::kOk) return DatagramError::kNotSmb;
    if (request.header.command != kSmbTransaction) return DatagramError::kNotTransaction;
    MailslotWrite w;
    if (!ReadWords(request.words, w) || w.setup_count != kMailslotSetupWords ||
        w.opcode != kMailslotWrite || w.mailslot_class != kSecondClass ||
        w.data_count != w.total_data)
        return DatagramError::kNotMailslotWrite;

    // The mailslot name opens the bytes; the data follows it wherever
    // DataOffset (counted from the SMB header) puts it.
    Reader bytes(request.bytes);
    ByteView mailslot;
    if (!bytes.UntilNul(request.bytes.size(), mailslot)) return DatagramError::kBadOffsets;
    const std::size_t name_end = smb.size() - request.bytes.size() + mailslot.size() + 1;
    if (w.data_offset < name_end || w.data_offset > smb.size() ||
        w.data_count > smb.size() - w.data_offset)
        return DatagramError::kBadOffsets;
    if (!SameMailslot(mailslot)) return DatagramError::kOtherMailslot;

    // FROM, TO and TEXT, each ending in a NUL; what follows TEXT's is padding.
    Reader data(smb.subspan(w.data_offset, w.data_count));
    if (!data.UntilNul(kMaxMessageName, d.from) || !data.UntilNul(kMaxMessageName, d.to) ||
        !data.UntilNul(kMaxMessageText, d.text))
        return DatagramError::kBadMessage;
    out = d;
    return DatagramError::kNone;
}

const char* Describe(DatagramError error)
{
    switch (error) {
    case DatagramError::kNone: return "well formed";
    case DatagramError::kShort: return "cut short";
    case DatagramError::kNotDirect: return "not a direct datagram";
    case DatagramError::kFragment: return "a fragment";
    case DatagramError::kBadName: return "a badly encoded name";
    case DatagramError::kBadLength: return "a length that disagrees with what arrived";
    case DatagramError::kNotSmb: return "no SMB request";
    case DatagramError::kNotTransaction: return "another SMB command";
    case DatagramError::kNotMailslotWrite: return "no class 2 mailslot write";
    case DatagramError::kBadOffsets: return "data outside the transaction";
    case DatagramError::kOtherMailslot: return "another mailslot";
    case DatagramError::kBadMessage: return "an unterminated or overlong FROM, TO or TEXT";
    }
    return "malformed";
}

}  // namespace vindrel::netbios
