// Calls the program's own network send binding and prints each status, so a
// test can run it beside a test-only netapi32.dll, or with none at all.
//   send_probe <name> <text>...   one send per text, to <name>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/netmsg.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: send_probe <name> <text>...\n");
        return 2;
    }
    // ASCII arguments are enough for the probe; widen them byte by byte.
    auto widen = [](const char* text) { return std::u16string(text, text + std::strlen(text)); };
    const std::u16string name = widen(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const std::u16string text = widen(argv[i]);
        const vindrel::NetStatus status = vindrel::SendNetMessage(name, text);
        std::printf("status %ld\n", static_cast<long>(status));
    }
    return 0;
}
