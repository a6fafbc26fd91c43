// QSettings escapes whatever the INI syntax would misread (quotes, ";",
// "=", "%", leading spaces, non-ASCII), so any string comes back as written.
#include "platform/qt/settings_store_qt.h"

#include <QSettings>
#include <QVariant>

#include "platform/qt/qt_text.h"

// The store of an application is $XDG_CONFIG_HOME/<application>.ini
// (~/.config by default).
namespace vindrel {

std::u16string QtSettingsStore::Read(std::u16string_view application, std::u16string_view section,
                                     std::u16string_view key, std::u16string_view default_value)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, ToQString(application));
    settings.beginGroup(ToQString(section));
    // An entry written empty exists and reads back empty; only a missing one
    // takes the default.
    if (!settings.contains(ToQString(key))) return std::u16string(default_value);
    return FromQString(settings.value(ToQString(key)).toString());
}

std::optional<std::u16string> QtSettingsStore::Write(std::u16string_view application,
                                                     std::u16string_view section,
                                                     std::u16string_view key,
                                                     std::u16string_view value)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, ToQString(application));
    settings.beginGroup(ToQString(section));
    settings.setValue(ToQString(key), ToQString(value));
    settings.endGroup();
    settings.sync();
    if (settings.status() == QSettings::NoError) return std::nullopt;
    return FromQString(settings.fileName() + QStringLiteral(" could not be written."));
}

}  // namespace vindrel
