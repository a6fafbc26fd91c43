// The limits the receiving service keeps, whatever its peers send: the name
// service's claims, answers and rate limits, and the message sessions'
// frames, times and counts. The app enforces the ones that need a clock or a
// socket; the protocol classes enforce the rest.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vindrel::netbios {

// --- name service ------------------------------------------------------------

// A claim broadcasts its registration request this often, this far apart
// (RFC 1002's B-node retry count and BCAST_REQ_RETRY_TIMEOUT); silence
// after the last try means the name is ours.
inline constexpr int kClaimBroadcasts = 3;
inline constexpr std::chrono::milliseconds kClaimInterval{250};

// A WINS server gets this many unicast tries, this far apart, before a
// claim stops waiting for it; a server that asks us to wait (WACK) may
// stretch one wait to at most kWinsLongestWack.
inline constexpr int kWinsTries = 3;
inline constexpr std::chrono::milliseconds kWinsInterval{1000};
inline constexpr std::chrono::seconds kWinsLongestWack{10};

// The TTL we ask for and answer with. A WINS server's granted TTL is
// refreshed at half its length, never sooner than kWinsShortestRefresh
// (a server that grants 0 must not make us flood it) and never later
// than kWinsLongestRefresh.
inline constexpr std::uint32_t kNameTtlSeconds = 300000;
inline constexpr std::chrono::seconds kWinsShortestRefresh{60};
inline constexpr std::chrono::seconds kWinsLongestRefresh{std::chrono::hours(12)};
// A silent server is tried again after kWinsShortestRefresh, then twice as
// long each time, up to this.
inline constexpr std::chrono::seconds kWinsLongestRetry{std::chrono::hours(1)};

// Names held or being claimed at once: the computer name, the extra names
// and one per registered login.
inline constexpr std::size_t kMaxHeldNames = 64;
// A node status response lists at most this many names, so that it stays
// within the 576 bytes every NetBIOS peer is sure to read (103 + 18 each).
inline constexpr std::size_t kMaxStatusNames = 25;

// Answers are paid from a token bucket per source address; node status
// and defences, larger than what asks for them, from one shared bucket as
// well, so a flood of requests, from one host or from many forged ones,
// never turns into a larger flood of answers. Positive answers to name
// queries spend only the asker's bucket: the shared one would let forged
// sources starve every real asker. The WINS server, asking from port 137,
// is always answered: its challenge unanswered, it gives our name away.
inline constexpr int kAnswersPerSourceBurst = 10;
inline constexpr int kAnswersPerSourcePerSecond = 5;
inline constexpr int kAnswersBurst = 100;
inline constexpr int kAnswersPerSecond = 50;
inline constexpr std::size_t kRateTableSize = 256;  // sources remembered
// Refused answers are counted and reported at most once in this interval.
inline constexpr std::chrono::seconds kLimitReportInterval{60};
// An answer to a forged source waits in the kernel for an ARP reply that
// never comes (three seconds), holding about 830 bytes of the socket's send
// buffer; this much room keeps 1,000 forged queries a second from filling it,
// so a real asker's answer still goes out.
inline constexpr int kNameServiceSendBuffer = 4 << 20;

// --- messenger datagrams ---------------------------------------------------------

// Datagram messages kept are paid from a bucket per source address and from
// one shared bucket, as answers are: their sender names can be forged at no
// cost, so a flood from one host keeps a few and leaves room for the others.
inline constexpr int kDatagramsPerSourceBurst = 10;
inline constexpr int kDatagramsPerSourcePerSecond = 1;
inline constexpr int kDatagramsBurst = 50;
inline constexpr int kDatagramsPerSecond = 10;
// Refused datagrams are counted and reported once a burst of them has been
// quiet this long, and at most once per kLimitReportInterval while it lasts.
inline constexpr std::chrono::seconds kDatagramBurstQuiet{1};

// --- message sessions ----------------------------------------------------------

// Sessions at once, and from one source address; beyond them a session
// request gets the negative response "insufficient resources".
inline constexpr std::size_t kMaxSessions = 64;
inline constexpr std::size_t kMaxSessionsPerSource = 8;
// Each frame must arrive whole within kFrameTime of the previous one (or of
// the connection), and the whole session must end within kSessionTime.
inline constexpr std::chrono::seconds kFrameTime{5};
inline constexpr std::chrono::seconds kSessionTime{30};
// Largest frame body accepted; a header announcing more ends the session.
inline constexpr std::uint32_t kMaxRequestFrame = 4096;
// Bytes of message text (one character each in the DOS code page).
inline constexpr std::size_t kMaxMessageText = 1600;
// Longest originator or destination string of a message, in bytes.
inline constexpr std::size_t kMaxMessageName = 64;
// Keep-alives and SMB requests one session may send.
inline constexpr int kMaxKeepAlives = 16;
inline constexpr int kMaxSmbRequests = 64;

}  // namespace vindrel::netbios
