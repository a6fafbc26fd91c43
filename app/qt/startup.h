// Start-up shared by the program and its start-up benchmark.
#pragma once

#include <thread>

#include "app/common/production.h"

class QApplication;

namespace vindrel {

// Loads the system's font configuration on a thread of its own, to be made
// before QApplication: the configuration is then read while Qt connects to
// the display, instead of on the main thread when frmMain first measures a
// caption, where it was most of the time frmMain took beyond a bare window.
class FontConfigPreload {
public:
    FontConfigPreload();
    ~FontConfigPreload();
    FontConfigPreload(const FontConfigPreload&) = delete;
    FontConfigPreload& operator=(const FontConfigPreload&) = delete;

    // Returns once the configuration is loaded. Called before the first
    // font is used, so the main thread never loads it a second time
    // alongside the preload.
    void Wait();

private:
    std::thread thread_;
};

// Names the program to the desktop and gives its windows the icon.
void ConfigureApplication(QApplication& app);

}  // namespace vindrel
