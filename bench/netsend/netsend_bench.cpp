// Times the messenger client in one process: per delivered recipient and per
// unknown name. Run it inside the lab's client namespace (run_bench.py does).
//   netsend_bench --config FILE --rounds N RECIPIENT UNKNOWN
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/netbios/cp850.h"
#include "platform/posix/netbios/messenger_client.h"

namespace {

struct Timing {
    double median_ms = 0, mean_ms = 0, max_ms = 0;
    int failures = 0;
};

Timing Measure(vindrel::netbios::MessengerClient& client, const std::u16string& name,
               vindrel::NetStatus expected, int rounds)
{
    const std::u16string text = u"benchmark message\r\nSent by bench";
    std::vector<double> ms;
    Timing t;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto status = client.Send(nullptr, name.c_str(), nullptr,
                                        reinterpret_cast<const unsigned char*>(text.data()),
                                        text.size() * 2);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                               start)
                         .count());
        if (status != expected) ++t.failures;
    }
    std::sort(ms.begin(), ms.end());
    t.median_ms = ms[ms.size() / 2];
    t.max_ms = ms.back();
    for (double v : ms) t.mean_ms += v / ms.size();
    return t;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 7 || std::strcmp(argv[1], "--config") != 0 || std::strcmp(argv[3], "--rounds") != 0) {
        std::fprintf(stderr, "usage: %s --config FILE --rounds N RECIPIENT UNKNOWN\n", argv[0]);
        return 2;
    }
    const int rounds = std::max(1, std::atoi(argv[4]));
    vindrel::netbios::MessengerClient client(argv[2]);
    const Timing delivered =
        Measure(client, vindrel::netbios::Utf8ToUtf16(argv[5]), vindrel::NERR_Success, rounds);
    const Timing unknown =
        Measure(client, vindrel::netbios::Utf8ToUtf16(argv[6]), vindrel::NERR_NameNotFound, rounds);
    // One line per case, for the runner: case median mean max failures.
    std::printf("delivered %.3f %.3f %.3f %d\n", delivered.median_ms, delivered.mean_ms,
                delivered.max_ms, delivered.failures);
    std::printf("unknown %.3f %.3f %.3f %d\n", unknown.median_ms, unknown.mean_ms, unknown.max_ms,
                unknown.failures);
    return delivered.failures + unknown.failures == 0 ? 0 : 1;
}
