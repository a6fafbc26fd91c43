// Showing text from the LAN.
#include "app/inbox/lan_text.h"

#include <QStringList>

namespace vindrel {
namespace {

constexpr QChar kFirstStrongIsolate(0x2068);
constexpr QChar kPopIsolate(0x2069);

bool OpensIsolate(char16_t c)
{
    return c >= 0x2066 && c <= 0x2068;
}

QString Escape(char32_t c)
{
    return QStringLiteral("<U+%1>").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
}

constexpr int kTabColumns = 8;

// One line in an isolate that nothing inside can break out of.
QString IsolatedLine(const QString& line)
{
    QString out = kFirstStrongIsolate;
    int open = 0;
    for (const QChar c : line) {
        if (OpensIsolate(c.unicode())) {
            ++open;
        } else if (c == kPopIsolate) {
            if (open == 0) {
                out += Escape(c.unicode());
                continue;
            }
            --open;
        }
        out += c;
    }
    // A closer ends the innermost isolate: close the sender's before ours.
    out += QString(open + 1, kPopIsolate);
    return out;
}

}  // namespace

bool RewritesAround(char32_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 ||
           c == 0x2029 || c == 0xFEFF;
}

bool Invisible(char32_t c)
{
    if (c == u'\n' || c == u'\t') return false;
    return RewritesAround(c) || c < 0x20 || (c >= 0x7F && c <= 0x9F) ||
           QChar::category(c) == QChar::Other_Format;
}

QString VisibleControls(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                          text[i + 1].isLowSurrogate();
        if (pair) c = QChar::surrogateToUcs4(text[i], text[i + 1]);
        if (Invisible(c)) {
            out += Escape(c);
        } else {
            out += text.mid(i, pair ? 2 : 1);
        }
        if (pair) ++i;
    }
    return out;
}

QString ShownText(const QString& text)
{
    const QString visible = VisibleControls(text);
    if (!visible.contains(QLatin1Char('\t'))) return visible;
    QString out;
    out.reserve(visible.size() + kTabColumns);
    qsizetype column = 0;
    for (const QChar c : visible) {
        if (c == QLatin1Char('\t')) {
            const qsizetype spaces = kTabColumns - column % kTabColumns;
            out += QString(spaces, QLatin1Char(' '));
            column += spaces;
            continue;
        }
        out += c;
        column = c == QLatin1Char('\n') ? 0 : column + 1;
    }
    return out;
}

QString IsolatedName(const QString& name)
{
    return kFirstStrongIsolate + VisibleControls(name) + kPopIsolate;
}

QString IsolatedText(const QString& text)
{
    // U+2029 ends a paragraph as a line break does; U+2028 does not, so an
    // isolate spans it.
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n')))
        lines += line.split(QChar::ParagraphSeparator);
    for (QString& line : lines) line = IsolatedLine(line);
    return lines.join(QLatin1Char('\n'));
}

QString FirstLine(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\n' || c == 0x2028 || c == 0x2029) return text.left(i);
    }
    return text;
}

}  // namespace vindrel
