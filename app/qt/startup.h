// Start-up shared by the program and its start-up benchmark.
#pragma once

#include <thread>
#include <vector>

#include "app/common/production.h"

class QApplication;

namespace vindrel {

// The start's work that needs no display, done on a thread of its own that
// is begun before QApplication, so that it runs while Qt connects to the
// display: loading the system's font configuration (which the first caption
// measured would otherwise load on the main thread, most of the time frmMain
// took beyond a bare window) and decoding the icon images.
class StartupPreload {
public:
    StartupPreload();
    ~StartupPreload();
    StartupPreload(const StartupPreload&) = delete;
    StartupPreload& operator=(const StartupPreload&) = delete;

    // Waits for the thread, then names the program to the desktop and gives
    // its windows the icon. Called before the first font is used, so the
    // main thread never loads the font configuration alongside the thread.
    void ConfigureApplication(QApplication& app);

    // An icon image as 8-bit RGBA rows; empty if it could not be decoded.
    struct Image {
        int width = 0;
        int height = 0;
        std::vector<unsigned char> rgba;
    };

private:
    void Wait();

    std::thread thread_;
    std::vector<Image> icon_images_;
};

}  // namespace vindrel
