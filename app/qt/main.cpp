// The vindrel program: shows frmMain and runs until it is closed. Nothing is
// written at exit; the To text was stored at the last send.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/qt/main_window.h"
#include "app/qt/startup.h"
#include "platform/lan_names.h"
#include "platform/qt/settings_store_qt.h"

namespace {

bool IsSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// Whether Qt has somewhere to show the window. Without it QApplication
// aborts with a core dump and a message about its plugins; an ssh session
// gets one line that says what to do instead.
bool HasDisplay(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char* argv[])
{
    if (!HasDisplay(argc, argv)) {
        std::fputs("vindrel: no display (DISPLAY and WAYLAND_DISPLAY are unset): start it on a "
                   "desktop or under xvfb-run, or send with vindrel-send\n",
                   stderr);
        return 1;
    }
    vindrel::StartupPreload preload;
    QApplication app(argc, argv);
    preload.ConfigureApplication(app);
    vindrel::QtSettingsStore settings;
    vindrel::MainWindow frmMain(settings, vindrel::ProductionBindings());
    frmMain.CompleteNamesFrom(&vindrel::ListLanNames, vindrel::NameCachePath());
    frmMain.show();
    return app.exec();
}
