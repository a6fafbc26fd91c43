// QSettings escapes whatever the INI syntax would misread (quotes, ";",
// "=", "%", leading spaces, non-ASCII), so any string comes back as written.
#include "platform/qt/settings_store_qt.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryFile>
#include <QVariant>
#include <filesystem>
#include <system_error>

#include "platform/qt/qt_text.h"

// The store of an application is $XDG_CONFIG_HOME/<application>.ini
// (~/.config by default).
namespace vindrel {
namespace {

// The system's own words for opening `file` to write, without creating it.
QString OpenMessage(const QString& file)
{
    QFile probe(file);
    if (probe.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly)) return {};
    return probe.errorString();
}

// QSettings only says "access error"; this finds the step of the write that
// fails and asks the system why. Empty when every step works now.
QString WriteFault(const QString& file)
{
    const QFileInfo info(file);
    const QString folder = info.absolutePath();
    // The deepest folder on the way that exists, and the first below it that
    // does not.
    QString existing = folder;
    QString missing;
    while (!QFileInfo::exists(existing)) {
        missing = existing;
        existing = QFileInfo(existing).path();
    }
    if (!QFileInfo(existing).isDir()) {
        return QStringLiteral("%1 is a file, not a folder (%2)").arg(existing, OpenMessage(file));
    }
    if (!missing.isEmpty()) {
        std::error_code error;
        std::filesystem::create_directory(QFile::encodeName(missing).toStdString(), error);
        if (error) {
            return QStringLiteral("the folder %1 cannot be made (%2)")
                .arg(missing, QString::fromLocal8Bit(error.message()));
        }
    }
    if (info.isDir()) {
        return QStringLiteral("it is a folder, not a file (%1)").arg(OpenMessage(file));
    }
    if (info.exists()) {
        const QString message = OpenMessage(file);
        if (!message.isEmpty()) return message;
    }
    // QSettings writes a new file beside the old one and renames it.
    QSaveFile probe(file);
    if (!probe.open(QIODevice::WriteOnly)) return probe.errorString();
    probe.cancelWriting();
    return {};
}

// Whether `file` on disk holds `value` under `key`. QSettings answers from a
// cache shared by the whole process, which keeps what it failed to write, so
// a copy under a name of its own is read instead. When no copy can be made
// the file is taken at QSettings' word.
bool Holds(const QString& file, const QString& key, const QString& value)
{
    QFile stored(file);
    if (!stored.open(QIODevice::ReadOnly)) return false;
    QTemporaryFile copy;
    if (!copy.open() || copy.write(stored.readAll()) < 0 || !copy.flush()) return true;
    const QSettings read_back(copy.fileName(), QSettings::IniFormat);
    return read_back.status() == QSettings::NoError && read_back.contains(key) &&
           read_back.value(key).toString() == value;
}

}  // namespace

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
    const QString path = ToQString(section) + u'/' + ToQString(key);
    settings.setValue(path, ToQString(value));
    settings.sync();
    const QString file = settings.fileName();
    if (settings.status() == QSettings::NoError && Holds(file, path, ToQString(value))) {
        return std::nullopt;
    }
    QString fault = WriteFault(file);
    if (fault.isEmpty()) {
        fault = settings.status() == QSettings::FormatError
                    ? QStringLiteral("its contents could not be read as settings")
                    : QStringLiteral("it does not hold the new value afterwards");
    }
    return FromQString(QStringLiteral("%1 could not be written: %2.").arg(file, fault));
}

}  // namespace vindrel
