// recvmsg with IP_PKTINFO, the messenger datagram parser, the budgets, and
// the spool.
#include "app/vindreld/datagram_port.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "app/vindreld/datagram_socket.h"
#include "app/vindreld/event_log.h"
#include "app/vindreld/name_service_port.h"
#include "netbios/server/server_limits.h"
#include "platform/ipv4_text.h"

namespace vindrel::daemon {
namespace {

std::string Text(netbios::ByteView bytes) { return std::string(bytes.begin(), bytes.end()); }

// LAN chatter on this port that is not a broken message: browser
// announcements, other mailslots, datagrams to every name.
bool Chatter(netbios::DatagramError error)
{
    return error == netbios::DatagramError::kNotDirect ||
           error == netbios::DatagramError::kOtherMailslot;
}

}  // namespace

DatagramPort::DatagramPort(EventLoop& loop, int fd, std::vector<ServedInterface> interfaces,
                           NameCheck is_our_name, const netbios::RawName& workgroup,
                           MessageKeeper& keeper)
    : loop_(loop), fd_(fd), interfaces_(std::move(interfaces)),
      is_our_name_(std::move(is_our_name)), workgroup_(workgroup), keeper_(keeper),
      budget_({netbios::kDatagramsPerSourceBurst, netbios::kDatagramsPerSourcePerSecond},
              {netbios::kDatagramsBurst, netbios::kDatagramsPerSecond}, netbios::kRateTableSize)
{
    loop_.Add(fd_, EPOLLIN, this);
}

DatagramPort::~DatagramPort()
{
    loop_.Remove(fd_);
    // A burst still going when the service stops is reported all the same.
    OnTimer(Clock::time_point::max());
}

bool DatagramPort::ForUs(const netbios::MessengerDatagram& d) const
{
    if (!d.group) return d.destination[15] == netbios::kMessengerSuffix && is_our_name_(d.destination);
    return std::equal(workgroup_.begin(), workgroup_.begin() + netbios::kNameChars,
                      d.destination.begin()) &&
           (d.destination[15] == netbios::kMessengerSuffix ||
            d.destination[15] == netbios::kWorkstationSuffix);
}

void DatagramPort::OnReady(std::uint32_t)
{
    std::vector<spool::Record> records;
    std::vector<std::string> whats;
    const std::int64_t received = spool::NowMs();
    for (int i = 0; i < kDatagramsPerTurn; ++i) {
        // A messenger datagram fits in 576 bytes; a longer one is cut, and
        // a cut one is not read.
        std::uint8_t buffer[1024];
        const std::optional<ArrivedDatagram> arrived = ReceiveDatagram(fd_, buffer);
        if (!arrived) break;
        const bool served = std::any_of(
            interfaces_.begin(), interfaces_.end(),
            [&](const ServedInterface& s) { return s.index == arrived->interface_index; });
        if (!served || !arrived->ipv4) continue;
        const std::uint32_t source = arrived->source;
        const auto now = Clock::now();

        netbios::MessengerDatagram d;
        const netbios::DatagramError error =
            arrived->truncated ? netbios::DatagramError::kBadLength
                               : netbios::ParseMessengerDatagram({buffer, arrived->size}, d);
        if (error != netbios::DatagramError::kNone) {
            if (!Chatter(error)) Refused(false, source, error, now);
            continue;
        }
        if (!ForUs(d)) continue;
        if (!budget_.Pay(source, now)) {
            Refused(true, source, error, now);
            continue;
        }
        netbios::ReceivedMessage message;
        message.called = d.destination;
        message.calling = d.source;
        message.originator = Text(d.from);
        message.destination = Text(d.to);
        message.text = Text(d.text);
        spool::Record record = keeper_.ToRecord(message, received);
        record.datagram = true;
        record.source = DottedIpv4(source);
        whats.push_back(std::string(d.group ? "group " : "") + "datagram message from " +
                        record.from + " (" + record.source + ") to " + record.to);
        records.push_back(std::move(record));
    }
    if (records.empty()) return;
    keeper_.Submit(std::move(records), [whats = std::move(whats)](
                                           std::vector<spool::StoreResult> results) {
        for (std::size_t i = 0; i < results.size() && i < whats.size(); ++i) {
            const spool::StoreResult& r = results[i];
            if (r.error == spool::StoreError::kNone)
                Log().Write(LogKind::kMessage, whats[i] + " kept as " + r.name);
            else
                Log().Write(LogKind::kMessage, whats[i] + " refused: " + spool::Describe(r.error) +
                                                   (r.detail.empty() ? "" : ": " + r.detail));
        }
    });
}

void DatagramPort::Refused(bool limited, std::uint32_t source, netbios::DatagramError error,
                           Clock::time_point now)
{
    if (!burst_) burst_ = Burst{0, 0, 0, 0, netbios::DatagramError::kNone, now, now};
    Burst& b = *burst_;
    b.last = now;
    if (limited) {
        ++b.limited;
        b.latest_limited = source;
    } else {
        ++b.malformed;
        b.latest_malformed = source;
        b.latest_error = error;
    }
}

std::optional<Clock::time_point> DatagramPort::NextDeadline() const
{
    if (!burst_) return std::nullopt;
    return std::min(burst_->last + netbios::kDatagramBurstQuiet,
                    burst_->first + netbios::kLimitReportInterval);
}

void DatagramPort::OnTimer(Clock::time_point now)
{
    const auto due = NextDeadline();
    if (!due || now < *due) return;
    const Burst b = *burst_;
    burst_.reset();
    std::string line = "datagram messages refused:";
    if (b.limited > 0)
        line += " " + std::to_string(b.limited) + " by the rate limits (the latest from " +
                DottedIpv4(b.latest_limited) + ")";
    if (b.limited > 0 && b.malformed > 0) line += ";";
    if (b.malformed > 0)
        line += " " + std::to_string(b.malformed) + " malformed (the latest from " +
                DottedIpv4(b.latest_malformed) + ": " + netbios::Describe(b.latest_error) + ")";
    Log().Write(LogKind::kRefusal, line);
}

}  // namespace vindrel::daemon
