// vindrel-send: options, the message from an argument or standard input,
// the window's length check and the core's dispatch, with a console in place
// of the window's message boxes.
#include "app/cli/send_command.h"

#include <cstddef>
#include <utility>

#include "core/decimal.h"
#include "core/dispatch.h"
#include "core/line_breaks.h"
#include "core/prompt_texts.h"
#include "core/send_action.h"
#include "platform/utf8.h"
#include "vindrel_version.h"

namespace vindrel::cli {
namespace {

constexpr std::u16string_view kProgram = u"vindrel-send";

constexpr std::u16string_view kHelp =
    u"Usage: vindrel-send [OPTIONS] TO [MESSAGE]\n"
    u"Sends MESSAGE as a pop-up message to every recipient in TO, one copy each,\n"
    u"signed with a line naming the sender.\n"
    u"\n"
    u"TO is one or more login names or computer names separated by \";\", or \"*\"\n"
    u"for everyone. Without MESSAGE, or when it is \"-\", the message is all of\n"
    u"standard input, less one trailing line break. A message has at most 127\n"
    u"characters; a line break counts as two.\n"
    u"\n"
    u"Options:\n"
    u"  -v, --verbose        one line per recipient on standard output: the name,\n"
    u"                       then \"delivered\", the failed send's status number,\n"
    u"                       or \"refused\" when the text with its sender line is\n"
    u"                       too long to send\n"
    u"      --stop-on-error  stop at the first recipient that fails\n"
    u"  -h, --help           print this help and exit\n"
    u"      --version        print the version and exit\n"
    u"\n"
    u"A failed recipient is reported on standard error and the next one is served.\n"
    u"\n"
    u"Exit status:\n"
    u"  0  every recipient accepted the message (also when TO names none)\n"
    u"  1  at least one recipient failed or was refused\n"
    u"  2  a usage error, unreadable input, or a message over 127 characters;\n"
    u"     nothing was sent\n";

struct Options {
    bool help = false;
    bool version = false;
    bool verbose = false;
    bool stop_on_error = false;
    std::vector<std::u16string> operands;  // TO, then MESSAGE
};

// Options come before the operands (or end at "--"), so a message that
// starts with "-" is sent as typed once TO is given. Returns the problem
// with the arguments, if any.
std::optional<std::u16string> ParseArguments(const std::vector<std::u16string>& args, Options& options)
{
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::u16string& arg = args[i];
        if (arg == u"--") {
            ++i;
            break;
        }
        if (arg.size() < 2 || arg[0] != u'-') break;  // an operand, "-" included
        if (arg == u"--help") options.help = true;
        else if (arg == u"--version") options.version = true;
        else if (arg == u"--verbose") options.verbose = true;
        else if (arg == u"--stop-on-error") options.stop_on_error = true;
        else if (arg[1] == u'-') return u"unknown option '" + arg + u"'";
        else {
            for (std::size_t k = 1; k < arg.size(); ++k) {
                if (arg[k] == u'h') options.help = true;
                else if (arg[k] == u'v') options.verbose = true;
                else return u"unknown option '-" + std::u16string(1, arg[k]) + u"'";
            }
        }
    }
    options.operands.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    if (options.help || options.version) return std::nullopt;
    if (options.operands.empty()) return std::u16string(u"no recipients given");
    if (options.operands.size() > 2)
        return u"too many arguments: the message is one argument (quote it), or standard input";
    return std::nullopt;
}

// Standard input usually ends in the line break that closes its last line;
// that one is not part of the message.
void DropTrailingLineBreak(std::u16string& text)
{
    if (text.ends_with(u"\r\n")) text.resize(text.size() - 2);
    else if (text.ends_with(u'\n')) text.pop_back();
}

// The core's texts have CR LF inside; the console takes "\n".
std::u16string AsLines(std::u16string_view text)
{
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
        out += text[i];
    }
    out += u'\n';
    return out;
}

// The -v line's word for an outcome.
std::u16string VerboseResult(const RecipientOutcome& outcome)
{
    switch (outcome.result) {
    case RecipientOutcome::Result::kDelivered:
        return u"delivered";
    case RecipientOutcome::Result::kFailed:
        return Decimal(outcome.status);
    case RecipientOutcome::Result::kTooLong:
        break;
    }
    return u"refused";
}

// The window's seams for one run on a console: each recipient the message
// did not reach is told on standard error, without the window's question,
// and answered Yes, or No with --stop-on-error. There is no text box to
// read, no cursor to turn and no event queue to pump.
class ConsoleUi : public UiServices {
public:
    ConsoleUi(Console& console, bool stop_on_error) : console_(console), stop_on_error_(stop_on_error)
    {
    }

    std::u16string ToText() override { return {}; }
    std::u16string MessageText() override { return {}; }
    void ShowOk(std::u16string_view text) override { console_.Err(AsLines(text)); }
    bool AskToContinue(const RecipientOutcome& undelivered) override
    {
        console_.Err(AsLines(UndeliveredText(undelivered)));
        return !stop_on_error_;
    }
    void SetBusyCursor(bool) override {}
    bool PumpEvents() override { return true; }

private:
    Console& console_;
    bool stop_on_error_;
};

int Send(const Options& options, std::u16string message, Console& console, const Bindings& bindings)
{
    bool failed = false;
    const auto report = [&](const RecipientOutcome& outcome) {
        failed = failed || !outcome.Delivered();
        if (options.verbose) console.Out(outcome.name + u' ' + VerboseResult(outcome) + u'\n');
    };
    ConsoleUi ui(console, options.stop_on_error);
    SendMessages(CutRecipients(options.operands[0]), std::move(message), ui, bindings, report);
    return failed ? kExitFailed : kExitAccepted;
}

}  // namespace

std::optional<std::u16string> StrictUtf8ToUtf16(std::string_view bytes)
{
    std::u16string text = Utf8ToUtf16(bytes);
    // Only valid UTF-8 comes back unchanged: every malformed sequence turned
    // into U+FFFD, whose bytes differ from the ones it replaced.
    if (Utf16ToUtf8(text) != bytes) return std::nullopt;
    return text;
}

int RunSendCommand(const std::vector<std::u16string>& args, Console& console,
                   const Bindings& bindings)
{
    Options options;
    if (const auto problem = ParseArguments(args, options)) {
        console.Err(std::u16string(kProgram) + u": " + *problem + u"\nTry '" + std::u16string(kProgram) +
                    u" --help' for more information.\n");
        return kExitUsage;
    }
    if (options.help) {
        console.Out(kHelp);
        return kExitAccepted;
    }
    if (options.version) {
        console.Out(std::u16string(kProgram) + u" " VINDREL_SEND_VERSION u"\n");
        return kExitAccepted;
    }

    std::u16string message;
    if (options.operands.size() < 2 || options.operands[1] == u"-") {
        if (const auto problem = console.ReadInput(message)) {
            console.Err(std::u16string(kProgram) + u": " + *problem + u"; nothing was sent.\n");
            return kExitUsage;
        }
        DropTrailingLineBreak(message);
    } else {
        message = options.operands[1];
    }
    message = WithCrLf(message);

    // The window's rule and notice: the typed text alone is measured.
    if (const auto notice = LengthNotice(message)) {
        console.Err(AsLines(*notice));
        return kExitUsage;
    }
    return Send(options, std::move(message), console, bindings);
}

}  // namespace vindrel::cli
