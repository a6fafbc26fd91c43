// vindrel-send on POSIX systems: UTF-8 arguments and streams, the production
// bindings (the NetBIOS messenger client), and nothing of a window system.
#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/send_command.h"
#include "app/common/production.h"
#include "platform/lan_names.h"
#include "platform/utf8.h"

namespace {

class PosixConsole : public vindrel::cli::Console {
public:
    std::optional<std::u16string> ReadInput(std::u16string& text) override
    {
        std::string bytes;
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                return u"cannot read standard input: " + vindrel::Utf8ToUtf16(std::strerror(errno));
            }
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        auto decoded = vindrel::cli::StrictUtf8ToUtf16(bytes);
        if (!decoded) return u"standard input is not UTF-8 text";
        text = std::move(*decoded);
        return std::nullopt;
    }

    void Out(std::u16string_view text) override { Write(stdout, text); }
    void Err(std::u16string_view text) override { Write(stderr, text); }

private:
    static void Write(std::FILE* stream, std::u16string_view text)
    {
        const std::string bytes = vindrel::Utf16ToUtf8(text);
        std::fwrite(bytes.data(), 1, bytes.size(), stream);
        std::fflush(stream);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    // A reader of -v output that goes away must not stop the deliveries
    // still to come: a failed write is only a lost line.
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) {
        auto arg = vindrel::cli::StrictUtf8ToUtf16(argv[i]);
        if (!arg) {
            std::fprintf(stderr, "vindrel-send: argument %d is not UTF-8 text; nothing was sent.\n", i);
            return vindrel::cli::kExitUsage;
        }
        args.push_back(std::move(*arg));
    }
    PosixConsole console;
    const std::string cache = vindrel::NameCachePath();
    vindrel::cli::NameSources names;
    names.list = [&cache] {
        vindrel::LanNames listed = vindrel::ListLanNames();
        vindrel::WriteNameCache(cache, listed.names);  // completion only: a cache not kept is no loss
        return listed;
    };
    names.cached = [&cache] { return vindrel::ReadNameCache(cache); };
    return vindrel::cli::RunSendCommand(args, console, vindrel::ProductionBindings(), names);
}
