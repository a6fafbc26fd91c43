// vindrel-inbox --list.
#include "app/inbox/list_command.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "app/inbox/lan_text.h"
#include "app/inbox/read_state.h"
#include "app/inbox/record_time.h"
#include "receive/refusal_notice.h"
#include "receive/spool_dir.h"

namespace vindrel {
namespace {

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A JSON string on one line whatever the text: besides what JSON requires,
// the characters that end a line for some readers (U+2028, U+2029) or
// reorder a terminal's line are escaped too.
QByteArray JsonString(const QString& text)
{
    QByteArray out = "\"";
    qsizetype plain = 0;  // start of the run not yet written
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        const bool quote = u == u'"' || u == u'\\';
        if (!quote && u >= 0x20 && !(u >= 0x7F && u <= 0x9F) && !RewritesAround(u)) continue;
        out += text.mid(plain, i - plain).toUtf8();
        plain = i + 1;
        if (quote) {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u == u'\n') {
            out += "\\n";
        } else {
            out += "\\u" + QByteArray::number(static_cast<int>(u), 16).rightJustified(4, '0');
        }
    }
    return out + text.mid(plain).toUtf8() + '"';
}

void PrintPlain(const spool::Record& record, bool first, std::FILE* out)
{
    const QString heading = IsoTime(record.received_ms, TimeBase::kLocal) +
                            QStringLiteral(" from ") + VisibleControls(FromUtf8(record.from)) +
                            QStringLiteral(" to ") + VisibleControls(FromUtf8(record.to));
    QByteArray block = (first ? "" : "\n") + heading.toUtf8() + "\n";
    for (const QString& line : VisibleControls(FromUtf8(record.text)).split(QLatin1Char('\n')))
        block += "  " + line.toUtf8() + "\n";
    std::fwrite(block.constData(), 1, static_cast<std::size_t>(block.size()), out);
}

void PrintJson(const spool::Record& record, bool read, std::FILE* out)
{
    const QByteArray line =
        "{\"received\":" + JsonString(IsoTime(record.received_ms, TimeBase::kUtc, true)) +
        ",\"from\":" + JsonString(FromUtf8(record.from)) +
        ",\"to\":" + JsonString(FromUtf8(record.to)) +
        ",\"text\":" + JsonString(FromUtf8(record.text)) +
        ",\"read\":" + (read ? "true" : "false") +
        ",\"datagram\":" + (record.datagram ? "true" : "false") + "}\n";
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), out);
}

}  // namespace

int ListMessages(const std::string& spool, const QString& state_file, ListFormat format,
                 std::FILE* out, std::FILE* err)
{
    struct stat st{};
    if (stat(spool.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(err, "vindrel-inbox: no spool at %s\n", spool.c_str());
        return 1;
    }
    const std::optional<std::vector<std::string>> names = spool::ListRecordNames(spool);
    if (!names) {
        std::fprintf(err, "vindrel-inbox: cannot list the spool %s\n", spool.c_str());
        return 1;
    }
    const ReadState state(state_file);
    bool first = true;
    for (const std::string& name : *names) {
        spool::Record record;
        // Deleted is gone for good for this user, here as in the history.
        if (state.IsDeleted(QString::fromStdString(name))) continue;
        if (spool::ReadRecord(spool, name, record) != spool::RecordError::kNone) continue;
        if (format == ListFormat::kJson) {
            PrintJson(record, state.IsRead(QString::fromStdString(name)), out);
        } else {
            PrintPlain(record, first, out);
        }
        first = false;
    }
    const std::uint64_t refused = spool::RefusedCount(spool);
    const std::uint64_t replaced = spool::ReplacedCount(spool);
    if (refused || replaced)
        std::fprintf(err, "%s\n", spool::RefusalNotice(refused, replaced).c_str());
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(err, "vindrel-inbox: cannot write the list: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

}  // namespace vindrel
