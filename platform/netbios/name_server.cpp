// The receiving side's name service: claims, defence, answers and releases.
#include "platform/netbios/name_server.h"

#include <utility>

namespace vindrel::netbios {

NameServer::NameServer(NameServerConfig config) : config_(std::move(config)) {}

ClaimResult NameServer::Claim(const RawName&, net::Clock::time_point) { return ClaimResult::kStarted; }
bool NameServer::Release(const RawName&, net::Clock::time_point) { return false; }
void NameServer::ReleaseAll(net::Clock::time_point) {}
void NameServer::OnDatagram(ByteView, net::Ipv4, std::uint16_t, net::Ipv4, net::Clock::time_point) {}
void NameServer::OnTimer(net::Clock::time_point) {}
std::optional<net::Clock::time_point> NameServer::NextTimer() const { return std::nullopt; }
std::vector<OutgoingDatagram> NameServer::TakeOutgoing() { return std::exchange(outgoing_, {}); }
std::vector<NameEvent> NameServer::TakeEvents() { return std::exchange(events_, {}); }
std::optional<NameState> NameServer::StateOf(const RawName&) const { return std::nullopt; }

}  // namespace vindrel::netbios
