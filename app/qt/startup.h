// Start-up shared by the program and its start-up benchmark.
#pragma once

#include "core/dispatch.h"

class QApplication;

namespace vindrel {

// Names the program to the desktop and gives its windows the icon.
void ConfigureApplication(QApplication& app);

// The real network send and the login name of the user running the program.
Bindings ProductionBindings();

}  // namespace vindrel
