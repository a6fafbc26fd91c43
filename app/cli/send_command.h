// vindrel-send apart from its process: its arguments and standard input in,
// the core's dispatch through the given bindings, its output and exit status
// out. Each platform's main hands it the arguments as UTF-16 and its streams.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/bindings.h"
#include "platform/lan_names.h"

namespace vindrel::cli {

inline constexpr int kExitAccepted = 0;  // every non-blank recipient accepted the text
inline constexpr int kExitFailed = 1;    // at least one failed or was refused
inline constexpr int kExitUsage = 2;     // bad arguments or input, or over-length: nothing sent

// The process's standard streams as the command uses them.
class Console {
public:
    virtual ~Console() = default;

    // Reads all of standard input as text into `text`. Nothing when it was
    // read, else why it could not be, in plain words.
    virtual std::optional<std::u16string> ReadInput(std::u16string& text) = 0;

    // Standard output and standard error. Lines end in "\n"; the console
    // writes a line end the way its system does.
    virtual void Out(std::u16string_view text) = 0;
    virtual void Err(std::u16string_view text) = 0;
};

// Where --list-names finds the names: the LAN now (which also refreshes
// the cache), or with --cached the cache alone (none: there is none).
struct NameSources {
    std::function<LanNames()> list;
    std::function<std::optional<std::vector<LanName>>()> cached;
};

// Runs the command on `args` (without the program's own name) and returns
// its exit status.
int RunSendCommand(const std::vector<std::u16string>& args, Console& console,
                   const Bindings& bindings, const NameSources& names = {});

// UTF-8 bytes as UTF-16, or nothing when they are not valid UTF-8: a text
// that would lose characters to replacement marks is refused, not sent.
std::optional<std::u16string> StrictUtf8ToUtf16(std::string_view bytes);

}  // namespace vindrel::cli
