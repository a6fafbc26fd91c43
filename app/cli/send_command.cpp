// vindrel-send: options, the message from an argument or standard input,
// and the core's dispatch, with a console in place of the window's boxes.
#include "app/cli/send_command.h"

#include <cstddef>
#include <utility>

#include "core/decimal.h"
#include "core/dispatch.h"
#include "core/line_breaks.h"
#include "core/prompt_texts.h"
#include "platform/utf8.h"
#include "vindrel_version.h"

namespace vindrel::cli {
namespace {

constexpr std::u16string_view kProgram = u"vindrel-send";

constexpr std::u16string_view kHelp =
    u"Usage: vindrel-send [OPTIONS] TO [MESSAGE]\n"
    u"       vindrel-send --list-names [--json] [--cached]\n"
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
    u"      --list-names     print every messenger name that can be reached now on\n"
    u"                       this computer's LANs, one a line: the name, its\n"
    u"                       computer's name and address, separated by tabs.\n"
    u"                       Names that a WINS server holds for other subnets are\n"
    u"                       not listed: a WINS server gives no list\n"
    u"      --json           with --list-names: one JSON object a line, with\n"
    u"                       \"name\", \"computer\" and \"address\"\n"
    u"      --cached         with --list-names: the names the last listing found,\n"
    u"                       without asking the LAN (for completion)\n"
    u"  -h, --help           print this help and exit\n"
    u"      --version        print the version and exit\n"
    u"\n"
    u"A failed recipient is reported on standard error and the next one is served.\n"
    u"\n"
    u"Exit status:\n"
    u"  0  every recipient accepted the message (also when TO names none)\n"
    u"  1  at least one recipient failed or was refused, or \"*\" did not reach\n"
    u"     every computer that answered (it says how many it did and did not);\n"
    u"     with --list-names, some computers were not asked for their names, or\n"
    u"     there is no cache yet\n"
    u"  2  a usage error, unreadable input, or a message over 127 characters;\n"
    u"     nothing was sent\n";

struct Options {
    bool help = false;
    bool version = false;
    bool verbose = false;
    bool stop_on_error = false;
    bool list_names = false;
    bool json = false;
    bool cached = false;
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
        else if (arg == u"--list-names") options.list_names = true;
        else if (arg == u"--json") options.json = true;
        else if (arg == u"--cached") options.cached = true;
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
    if ((options.json || options.cached) && !options.list_names)
        return std::u16string(u"--json and --cached go with --list-names");
    if (options.list_names) {
        if (!options.operands.empty()) return std::u16string(u"--list-names takes no recipients");
        return std::nullopt;
    }
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
    if (outcome.Delivered()) return u"delivered";
    if (outcome.over_length) return u"refused";
    if (outcome.sent.CutShort())
        return u"reached " + Decimal(static_cast<long long>(outcome.sent.everyone->reached)) +
               u", not reached " + Decimal(static_cast<long long>(outcome.sent.everyone->not_reached));
    return Decimal(StatusNumber(outcome.sent));
}

// The dispatch's events on a console: the over-length notice and each
// recipient the message did not reach on standard error, the latter without
// the window's question, answered Yes, or No with --stop-on-error; with -v a
// line per recipient on standard output.
class ConsoleReport final : public DispatchObserver {
public:
    ConsoleReport(Console& console, const Options& options) : console_(console), options_(options) {}

    void MessageTooLong(std::u16string_view notice) override
    {
        console_.Err(AsLines(notice));
        too_long = true;
    }
    void Served(const RecipientOutcome& outcome) override
    {
        failed = failed || !outcome.Delivered();
        if (options_.verbose) console_.Out(outcome.name + u' ' + VerboseResult(outcome) + u'\n');
    }
    bool GoOn(const RecipientOutcome& undelivered) override
    {
        console_.Err(AsLines(UndeliveredText(undelivered)));
        return !options_.stop_on_error;
    }

    bool too_long = false;
    bool failed = false;

private:
    Console& console_;
    const Options& options_;
};

int Send(const Options& options, std::u16string_view message, Console& console, const Bindings& bindings)
{
    ConsoleReport report(console, options);
    // The window's rule and notice: the typed text alone is measured.
    Dispatch(options.operands[0], message, bindings, report);
    if (report.too_long) return kExitUsage;
    return report.failed ? kExitFailed : kExitAccepted;
}

// A JSON string: quotes, backslashes and control characters escaped.
std::u16string JsonString(std::u16string_view text)
{
    std::u16string out = u"\"";
    for (const char16_t c : text) {
        if (c == u'"' || c == u'\\') {
            out += u'\\';
            out += c;
        } else if (c < 0x20) {
            constexpr char16_t kHex[] = u"0123456789abcdef";
            out += u"\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out + u'"';
}

int ListNames(const Options& options, Console& console, const NameSources& sources)
{
    LanNames listed;
    if (options.cached) {
        auto cached = sources.cached ? sources.cached() : std::nullopt;
        if (!cached) {
            console.Err(std::u16string(kProgram) +
                        u": no names cached yet; 'vindrel-send --list-names' finds them\n");
            return kExitFailed;
        }
        listed.names = std::move(*cached);
    } else if (sources.list) {
        listed = sources.list();
    }
    for (const LanName& name : listed.names) {
        if (options.json)
            console.Out(u"{\"name\":" + JsonString(name.name) + u",\"computer\":" +
                        JsonString(name.computer) + u",\"address\":\"" + AddressText(name.address) +
                        u"\"}\n");
        else
            console.Out(NameLine(name) + u'\n');
    }
    if (listed.hosts_missed == 0) return kExitAccepted;
    console.Err(std::u16string(kProgram) + u": " + Decimal(static_cast<long long>(listed.hosts_missed)) +
                u" more computers answered but were not asked for their names (too many)\n");
    return kExitFailed;
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
                   const Bindings& bindings, const NameSources& names)
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
    if (options.list_names) return ListNames(options, console, names);

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
    return Send(options, WithCrLf(message), console, bindings);
}

}  // namespace vindrel::cli
