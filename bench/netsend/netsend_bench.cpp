// Times the messenger client in one process: per delivered recipient and per
// unknown name, or one "*" send on a crowded LAN with its memory. Run it
// inside the lab's client namespace (run_bench.py does).
//   netsend_bench --config FILE --rounds N RECIPIENT UNKNOWN
//   netsend_bench --config FILE --everyone CONCURRENCY EVERYONE_MS INTERVAL_MS
//   netsend_bench --config FILE --list-names
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "netbios/client/messenger_client.h"
#include "platform/network.h"
#include "platform/utf8.h"

namespace {

struct Timing {
    double median_ms = 0, mean_ms = 0, max_ms = 0;
    double cpu_ms = 0;  // this process's own user and system time, per call
    int failures = 0;
};

double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

Timing Measure(vindrel::netbios::MessengerClient& client, const std::u16string& name,
               vindrel::NetStatus expected, int rounds)
{
    const std::u16string text = u"benchmark message\r\nSent by bench";
    std::vector<double> ms;
    Timing t;
    const double cpu_start = CpuMs();
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto status = vindrel::StatusNumber(client.Send(name, text));
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                               start)
                         .count());
        if (status != expected) ++t.failures;
    }
    t.cpu_ms = (CpuMs() - cpu_start) / rounds;
    std::sort(ms.begin(), ms.end());
    t.median_ms = ms[ms.size() / 2];
    t.max_ms = ms.back();
    for (double v : ms) t.mean_ms += v / ms.size();
    return t;
}

}  // namespace

// The process's peak resident memory. From /proc, since getrusage's figure
// survives exec and would show the launcher's (ip netns exec) peak instead.
long PeakRssKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// One "*" send: status, time, what the wildcard query met, and the peak
// resident memory before and after (the process is idle before).
int Everyone(const char* config, int concurrency, int everyone_ms, int interval_ms)
{
    vindrel::netbios::ClientLimits limits;
    limits.concurrency = concurrency;
    limits.everyone = std::chrono::milliseconds(everyone_ms);
    limits.broadcast_interval = std::chrono::milliseconds(interval_ms);
    const auto network = vindrel::net::MakeSystemNetwork();
    vindrel::netbios::MessengerClient client(*network, config, limits);
    const long idle_kb = PeakRssKb();
    const auto start = std::chrono::steady_clock::now();
    const auto status = vindrel::StatusNumber(client.Send(u"*", u"to everyone\r\nSent by bench"));
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const auto& r = client.last_everyone();
    std::printf("everyone %d %.1f %zu %zu %zu %zu %zu %ld %ld %zu\n", static_cast<int>(status), ms,
                r.hosts, r.refused_answers, r.over_limit, r.same_name, r.delivered, idle_kb,
                PeakRssKb(), r.not_tried());
    return 0;
}

// One listing of the LAN's names: how many, time, hosts found, memory.
int ListNames(const char* config)
{
    const auto network = vindrel::net::MakeSystemNetwork();
    vindrel::netbios::MessengerClient client(*network, config);
    const long idle_kb = PeakRssKb();
    const auto start = std::chrono::steady_clock::now();
    const vindrel::LanNames listed = client.ListNames();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("names %zu %.1f %zu %zu %ld %ld\n", listed.names.size(), ms,
                client.last_everyone().hosts, listed.hosts_missed, idle_kb, PeakRssKb());
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--config") == 0 &&
        std::strcmp(argv[3], "--list-names") == 0)
        return ListNames(argv[2]);
    if (argc == 7 && std::strcmp(argv[1], "--config") == 0 &&
        std::strcmp(argv[3], "--everyone") == 0)
        return Everyone(argv[2], std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    if (argc != 7 || std::strcmp(argv[1], "--config") != 0 || std::strcmp(argv[3], "--rounds") != 0) {
        std::fprintf(stderr,
                     "usage: %s --config FILE --rounds N RECIPIENT UNKNOWN\n"
                     "       %s --config FILE --everyone CONCURRENCY EVERYONE_MS INTERVAL_MS\n"
                     "       %s --config FILE --list-names\n",
                     argv[0], argv[0], argv[0]);
        return 2;
    }
    const int rounds = std::max(1, std::atoi(argv[4]));
    const auto network = vindrel::net::MakeSystemNetwork();
    vindrel::netbios::MessengerClient client(*network, argv[2]);
    const Timing delivered =
        Measure(client, vindrel::Utf8ToUtf16(argv[5]), vindrel::net_status::kSuccess, rounds);
    const Timing unknown =
        Measure(client, vindrel::Utf8ToUtf16(argv[6]), vindrel::net_status::kNameNotFound, rounds);
    // One line per case, for the runner: case median mean max cpu failures.
    for (const auto& [label, t] : {std::pair{"delivered", delivered}, std::pair{"unknown", unknown}})
        std::printf("%s %.3f %.3f %.3f %.3f %d\n", label, t.median_ms, t.mean_ms, t.max_ms,
                    t.cpu_ms, t.failures);
    return delivered.failures + unknown.failures == 0 ? 0 : 1;
}
