// What every front end hands the core: this platform's network send and
// login-name lookup.
#pragma once

#include "core/bindings.h"

namespace vindrel {

Bindings ProductionBindings();

}  // namespace vindrel
