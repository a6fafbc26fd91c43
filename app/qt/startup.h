// Start-up shared by the program and its start-up benchmark.
#pragma once

#include "app/common/production.h"

class QApplication;

namespace vindrel {

// Names the program to the desktop and gives its windows the icon.
void ConfigureApplication(QApplication& app);

}  // namespace vindrel
