// Start-up shared by the program and its start-up benchmark.
#include "app/qt/startup.h"

#include <fontconfig/fontconfig.h>

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <system_error>

#include "vindrel_version.h"

// The images are compiled into this static library, whose resource
// registration the linker would otherwise drop. Outside any namespace, as
// the macro requires.
static void InitIconResources()
{
    Q_INIT_RESOURCE(vindrel);
}

namespace vindrel {

FontConfigPreload::FontConfigPreload()
{
    try {
        // Qt loads the same configuration through the same call; whichever
        // comes second finds it loaded.
        thread_ = std::thread([] { FcInit(); });
    } catch (const std::system_error&) {
        // Without a thread Qt loads it when first needed, as it would anyway.
    }
}

FontConfigPreload::~FontConfigPreload()
{
    Wait();
}

void FontConfigPreload::Wait()
{
    if (thread_.joinable()) thread_.join();
}

void ConfigureApplication(QApplication& app)
{
    InitIconResources();
    // Read as PNG outright: a reader left to guess the format loads every
    // image plugin there is to ask it, which costs start-up time and memory.
    QIcon icon;
    for (const QString& file : {QStringLiteral(":/icons/vindrel-16.png"),
                                QStringLiteral(":/icons/vindrel-32.png")}) {
        QImageReader reader(file, "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    app.setWindowIcon(icon);
    QCoreApplication::setApplicationName(QStringLiteral("vindrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VINDREL_VERSION_TEXT));
    // Lets the desktop match the window to vindrel.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vindrel"));
}

}  // namespace vindrel
