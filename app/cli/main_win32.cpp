// vindrel-send on Windows: the wide command line, UTF-16 on a console and
// UTF-8 through pipes and files, the production bindings (NetApi32.dll).
#include "platform/win32/windows_headers.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "app/cli/send_command.h"
#include "app/common/production.h"
#include "platform/utf8.h"
#include "platform/win32/wide.h"

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
    return vindrel::cli::RunSendCommand(args, console, vindrel::ProductionBindings());
}
