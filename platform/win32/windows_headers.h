// <windows.h> for this program's Windows files. The network send header
// comes first: it names constants (ERROR_INVALID_PARAMETER) that winerror.h
// defines as macros, which would otherwise rewrite its declarations.
#pragma once

#include "platform/netmsg.h"

#include <windows.h>
