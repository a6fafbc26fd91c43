// The vindrel program: shows frmMain and runs until it is closed. Nothing is
// written at exit; the To text was stored at the last send.
#include <QApplication>

#include "app/qt/main_window.h"
#include "app/qt/startup.h"
#include "platform/lan_names.h"
#include "platform/qt/settings_store_qt.h"

int main(int argc, char* argv[])
{
    vindrel::StartupPreload preload;
    QApplication app(argc, argv);
    preload.ConfigureApplication(app);
    vindrel::QtSettingsStore settings;
    vindrel::MainWindow frmMain(settings, vindrel::ProductionBindings());
    frmMain.CompleteNamesFrom(&vindrel::ListLanNames, vindrel::NameCachePath());
    frmMain.show();
    return app.exec();
}
