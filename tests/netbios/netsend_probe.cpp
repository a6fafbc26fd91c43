// Sends one message with the messenger client and prints the status and the
// time it took: the sending side of the integration tests and the lab.
//   netsend_probe [--config FILE] [--from NAME] [--repeat N] NAME TEXT
// TEXT is UTF-8; "\n" in it stands for CR LF.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/netbios/cp850.h"
#include "platform/posix/netbios/messenger_client.h"

int main(int argc, char** argv)
{
    std::string config = vindrel::netbios::kDefaultSambaConfig;
    std::u16string from;
    bool has_from = false;
    int repeat = 1;
    int i = 1;
    for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        if (std::strcmp(argv[i], "--config") == 0) config = argv[i + 1];
        else if (std::strcmp(argv[i], "--from") == 0)
            from = vindrel::netbios::Utf8ToUtf16(argv[i + 1]), has_from = true;
        else if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::atoi(argv[i + 1]);
        else break;
    }
    if (argc - i != 2 || repeat < 1) {
        std::fprintf(stderr, "usage: %s [--config FILE] [--from NAME] [--repeat N] NAME TEXT\n",
                     argv[0]);
        return 2;
    }
    const std::u16string name = vindrel::netbios::Utf8ToUtf16(argv[i]);
    std::u16string text;
    for (const char16_t c : vindrel::netbios::Utf8ToUtf16(argv[i + 1])) {
        if (c == u'\n') text += u'\r';
        text += c;
    }
    vindrel::netbios::MessengerClient client(config);
    vindrel::NetStatus status = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < repeat; ++n)
        status = client.Send(nullptr, name.c_str(), has_from ? from.c_str() : nullptr,
                             reinterpret_cast<const unsigned char*>(text.data()),
                             text.size() * 2);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("status %d ms %.3f\n", static_cast<int>(status), took.count() / repeat);
    return 0;
}
