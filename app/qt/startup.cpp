// Start-up shared by the program and its start-up benchmark.
#include "app/qt/startup.h"

#include <QApplication>
#include <QIcon>

#include "vindrel_version.h"

// The images are compiled into this static library, whose resource
// registration the linker would otherwise drop. Outside any namespace, as
// the macro requires.
static void InitIconResources()
{
    Q_INIT_RESOURCE(vindrel);
}

namespace vindrel {

void ConfigureApplication(QApplication& app)
{
    InitIconResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vindrel-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/vindrel-32.png"), QSize(32, 32));
    app.setWindowIcon(icon);
    QCoreApplication::setApplicationName(QStringLiteral("vindrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VINDREL_VERSION_TEXT));
    // Lets the desktop match the window to vindrel.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vindrel"));
}

}  // namespace vindrel
