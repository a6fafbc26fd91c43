// Calls the program's own network send binding and prints each status and the
// time it took, so a test can run it with a test-only netapi32.dll, or with
// none at all.
//   send_probe <name> <text>...   one send per text, to <name>
// Prints "status <n>" and then "took <ms>" for each send.
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/netmsg.h"

// The wide entry point: names and texts arrive as the UTF-16 the send takes.
int wmain(int argc, wchar_t** argv)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    if (argc < 3) {
        std::fprintf(stderr, "usage: send_probe <name> <text>...\n");
        return 2;
    }
    auto utf16 = [](const wchar_t* text) {
        return std::u16string(reinterpret_cast<const char16_t*>(text), std::wcslen(text));
    };
    const std::u16string name = utf16(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const std::u16string text = utf16(argv[i]);
        const auto start = std::chrono::steady_clock::now();
        const vindrel::NetStatus status = vindrel::SendNetMessage(name, text);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        std::printf("status %ld\ntook %.3f\n", static_cast<long>(status), took.count());
        std::fflush(stdout);
    }
    return 0;
}
