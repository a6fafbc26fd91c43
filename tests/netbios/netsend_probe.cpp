// Sends one message with the messenger client and prints the status and the
// time it took: the sending side of the integration tests and the lab.
//   netsend_probe [--config FILE] [--from NAME] [--repeat N] [--concurrency N]
//                 [--delivery-ms N] [--send-ms N] [--everyone-ms N] [--max-hosts N]
//                 NAME TEXT
//   netsend_probe --exported 1 NAME TEXT
// TEXT is UTF-8; "\n" in it stands for CR LF. --exported goes through the
// program's own SendNetMessage with its defaults instead. For "*" a second
// line tells what the wildcard query met.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "netbios/client/messenger_client.h"
#include "platform/netmsg.h"
#include "platform/network.h"
#include "platform/utf8.h"

int main(int argc, char** argv)
{
    std::string config = vindrel::netbios::kDefaultSambaConfig;
    std::u16string from;
    int repeat = 1;
    bool exported = false;
    vindrel::netbios::ClientLimits limits;
    int i = 1;
    for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        if (std::strcmp(argv[i], "--config") == 0) config = argv[i + 1];
        else if (std::strcmp(argv[i], "--from") == 0)
            from = vindrel::Utf8ToUtf16(argv[i + 1]);
        else if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--exported") == 0) exported = std::atoi(argv[i + 1]) != 0;
        else if (std::strcmp(argv[i], "--concurrency") == 0) limits.concurrency = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--delivery-ms") == 0)
            limits.delivery = std::chrono::milliseconds(std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--send-ms") == 0)
            limits.send = std::chrono::milliseconds(std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--everyone-ms") == 0)
            limits.everyone = std::chrono::milliseconds(std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--max-hosts") == 0)
            limits.hosts_memory = std::strtoul(argv[i + 1], nullptr, 10) * vindrel::netbios::kHostCost;
        else break;
    }
    if (argc - i != 2 || repeat < 1) {
        std::fprintf(stderr,
                     "usage: %s [--config FILE] [--from NAME] [--repeat N] [--exported 1] "
                     "[--concurrency N] [--delivery-ms N] [--send-ms N] [--everyone-ms N] "
                     "[--max-hosts N] NAME TEXT\n",
                     argv[0]);
        return 2;
    }
    const std::u16string name = vindrel::Utf8ToUtf16(argv[i]);
    std::u16string text;
    for (const char16_t c : vindrel::Utf8ToUtf16(argv[i + 1])) {
        if (c == u'\n') text += u'\r';
        text += c;
    }
    const auto network = vindrel::net::MakeSystemNetwork();
    vindrel::netbios::MessengerClient client(*network, config, limits);
    vindrel::NetStatus status = 0;
    const auto start = std::chrono::steady_clock::now();
    if (exported && text.size() > vindrel::kMaxSendChars) {
        std::fprintf(stderr, "the program's send carries at most 127 characters\n");
        return 2;
    }
    for (int n = 0; n < repeat; ++n)
        status = exported ? vindrel::SendNetMessage(name, text)
                          : vindrel::StatusNumber(client.Send(name, text, from));
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("status %d ms %.3f\n", static_cast<int>(status), took.count() / repeat);
    if (name == u"*" && !exported) {
        const auto& r = client.last_everyone();
        std::printf("hosts %zu refused %zu over-limit %zu same-name %zu delivered %zu not-tried %zu\n",
                    r.hosts, r.refused_answers, r.over_limit, r.same_name, r.delivered, r.not_tried());
    }
    return 0;
}
