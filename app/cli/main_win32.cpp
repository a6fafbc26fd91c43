// vindrel-send on Windows: the wide command line, UTF-16 on a console and
// UTF-8 through pipes and files, the production bindings (NetApi32.dll, or
// the messenger client), and with -v a word when Wine's stub is passed by.
#include "platform/win32/windows_headers.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "app/cli/send_command.h"
#include "app/common/production.h"
#include "platform/utf8.h"
#include "platform/win32/wide.h"
#include "transport/send_route.h"

namespace {

bool IsConsole(HANDLE handle)
{
    DWORD mode;
    return GetConsoleMode(handle, &mode) != 0;
}

class Win32Console : public vindrel::cli::Console {
public:
    std::optional<std::u16string> ReadInput(std::u16string& text) override
    {
        const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        if (in == INVALID_HANDLE_VALUE || in == nullptr) return u"there is no standard input";
        return IsConsole(in) ? ReadConsoleText(in, text) : ReadBytes(in, text);
    }

    void Out(std::u16string_view text) override { Write(GetStdHandle(STD_OUTPUT_HANDLE), text); }
    void Err(std::u16string_view text) override { Write(GetStdHandle(STD_ERROR_HANDLE), text); }

private:
    // Typed text arrives as UTF-16 whatever the console's code page; Ctrl+Z
    // at the start of a line ends it, as it ends a typed file.
    static std::optional<std::u16string> ReadConsoleText(HANDLE in, std::u16string& text)
    {
        wchar_t buffer[1024];
        for (;;) {
            DWORD got = 0;
            if (!ReadConsoleW(in, buffer, 1024, &got, nullptr)) return u"cannot read the console";
            if (got == 0) break;
            const std::u16string piece = vindrel::win32::Utf16(std::wstring_view(buffer, got));
            const bool at_line_start = text.empty() || text.back() == u'\n';
            if (at_line_start && piece[0] == u'\x1a') break;
            text += piece;
        }
        return std::nullopt;
    }

    static std::optional<std::u16string> ReadBytes(HANDLE in, std::u16string& text)
    {
        std::string bytes;
        char buffer[4096];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr)) {
                // The writing end of a pipe closed: that is its end of file.
                if (GetLastError() == ERROR_BROKEN_PIPE) break;
                return u"cannot read standard input";
            }
            if (got == 0) break;
            bytes.append(buffer, got);
        }
        auto decoded = vindrel::cli::StrictUtf8ToUtf16(bytes);
        if (!decoded) return u"standard input is not UTF-8 text";
        text = std::move(*decoded);
        return std::nullopt;
    }

    static void Write(HANDLE out, std::u16string_view text)
    {
        if (out == INVALID_HANDLE_VALUE || out == nullptr) return;
        std::u16string lines;
        for (const char16_t c : text) {
            if (c == u'\n') lines += u'\r';
            lines += c;
        }
        DWORD written = 0;
        if (IsConsole(out)) {
            WriteConsoleW(out, vindrel::win32::Wide(lines.c_str()), static_cast<DWORD>(lines.size()),
                          &written, nullptr);
        } else {
            const std::string bytes = vindrel::Utf16ToUtf8(lines);
            WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        }
    }
};

// Whether -v is among the options, read as the command reads them: before the
// first operand, and not after "--".
bool AsksVerbose(const std::vector<std::u16string>& args)
{
    for (const std::u16string& arg : args) {
        if (arg == u"--" || arg.size() < 2 || arg[0] != u'-') return false;
        if (arg == u"--verbose" || (arg[1] != u'-' && arg.find(u'v') != std::u16string::npos)) return true;
    }
    return false;
}

// The send, saying once before the first recipient when Wine's stub is passed
// by: the lines -v prints do not show which way a message went.
vindrel::Bindings SayingWhenOnWine(vindrel::Bindings bindings, vindrel::cli::Console& console)
{
    bindings.send = [send = std::move(bindings.send), &console, said = false](std::u16string_view name,
                                                                            std::u16string_view text) mutable {
        if (!said && vindrel::win32::SystemSendIsWineStub())
            console.Err(u"vindrel-send: on Wine, whose NetMessageBufferSend is a stub: sending with "
                        u"vindrel's own messenger client\n");
        said = true;
        return send(name, text);
    };
    return bindings;
}

}  // namespace

int main()
{
    // The C runtime's argv went through the ANSI code page and may have lost
    // characters; the wide command line has them all.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) return vindrel::cli::kExitUsage;
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) args.push_back(vindrel::win32::Utf16(argv[i]));
    LocalFree(argv);

    Win32Console console;
    vindrel::Bindings bindings = vindrel::ProductionBindings();
    if (AsksVerbose(args)) bindings = SayingWhenOnWine(std::move(bindings), console);
    vindrel::cli::NameSources names;
    names.list = &vindrel::ListLanNames;
    return vindrel::cli::RunSendCommand(args, console, bindings, names);
}
