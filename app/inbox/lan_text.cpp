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

QString Escape(char16_t c)
{
    return QStringLiteral("<U+%1>").arg(static_cast<int>(c), 4, 16, QLatin1Char('0')).toUpper();
}

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

QString VisibleControls(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (RewritesAround(c.unicode())) {
            out += Escape(c.unicode());
        } else {
            out += c;
        }
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
