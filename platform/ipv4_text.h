// IPv4 addresses as text: the dotted quad that configuration files, the
// name cache and the spool's records hold, and that logs and listings write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vindrel {

// "a.b.c.d", each part one to three digits and at most 255, nothing around
// it; the address in host byte order.
std::optional<std::uint32_t> ParseDottedIpv4(std::string_view text);
std::optional<std::uint32_t> ParseDottedIpv4(std::u16string_view text);

// The address as inet_ntoa writes it: no leading zeros.
std::string DottedIpv4(std::uint32_t address);

// True only for text exactly as DottedIpv4 writes it.
bool IsCanonicalDottedIpv4(std::string_view text);

}  // namespace vindrel
