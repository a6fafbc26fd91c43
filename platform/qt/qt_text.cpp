// Both sides are UTF-16 code units, so the conversion copies them unchanged.
#include "platform/qt/qt_text.h"

namespace vindrel {

QString ToQString(std::u16string_view text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQString(const QString& text)
{
    return text.toStdU16String();
}

}  // namespace vindrel
