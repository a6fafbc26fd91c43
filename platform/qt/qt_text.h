// Conversions between the core's UTF-16 strings and QString.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace vindrel {

QString ToQString(std::u16string_view text);
std::u16string FromQString(const QString& text);

}  // namespace vindrel
