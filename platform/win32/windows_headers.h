// <windows.h> for this program's Windows files, with the lean set of
// declarations the build asks for (WIN32_LEAN_AND_MEAN, NOMINMAX).
#pragma once

#include <windows.h>
