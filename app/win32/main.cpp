// Start-up on Windows: frmMain with the registry store and the real system
// bindings, then its message loop until it is closed.
#include "platform/win32/windows_headers.h"

#include "app/common/production.h"
#include "app/win32/main_window.h"
#include "platform/win32/registry_settings.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    vindrel::win32::RegistrySettings settings;
    vindrel::win32::MainWindow window(instance, settings, vindrel::ProductionBindings());
    if (!window.Create(show)) return 1;
    return window.RunMessageLoop();
}
