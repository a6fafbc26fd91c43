// NetBIOS names: the 16 raw bytes (15 of name, one suffix) and their
// first-level encoding on the wire (RFC 1001, section 14.1), always with an
// empty scope.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "netbios/codec/wire.h"
#include "platform/network.h"

namespace vindrel::netbios {

using RawName = std::array<std::uint8_t, 16>;

inline constexpr std::uint8_t kWorkstationSuffix = 0x00;
inline constexpr std::uint8_t kMessengerSuffix = 0x03;
inline constexpr std::size_t kNameChars = 15;
inline constexpr std::size_t kEncodedNameSize = 34;

// NAME<suffix> for a recipient or computer name: upper case, in the LAN's
// code page (CP850 unless told), padded with spaces. None when it cannot be a
// NetBIOS name: empty, longer than 15 bytes, or holding a character the code
// page lacks.
std::optional<RawName> MakeName(std::u16string_view name, std::uint8_t suffix);
std::optional<RawName> MakeName(std::u16string_view name, std::uint8_t suffix,
                                const net::CodePage& code_page);

// "*" followed by NUL bytes: asks every node at once.
RawName WildcardName();

// The 15 name bytes without the padding, for SMB strings and messages.
std::string NameText(const RawName& name);

void EncodeName(const RawName& name, Writer& out);

// Reads one encoded name. Refuses anything but a 32-byte label of letters
// A..P followed by the empty scope: a compressed or scoped name is not one
// of ours.
bool DecodeName(Reader& in, RawName& name);

}  // namespace vindrel::netbios
