// InitCommonControlsEx from the system folder's COMCTL32.DLL, loaded by full
// path at the window's first call.
//
// COMCTL32.DLL is not one of the known DLLs that the system always maps from
// its own folder, so importing it would have the loader take a copy from
// beside the program first and run its code at start-up. The window's call
// goes through the import's address slot; this definition of the slot is
// found before the import library's, so the program imports nothing from
// COMCTL32.DLL (a manifest could bind it too, but only to version 6, whose
// themed controls would change how the window looks).
#include "platform/win32/windows_headers.h"

#include <commctrl.h>

#include "platform/win32/system_function.h"

namespace {

using InitCommonControlsExFn = decltype(&::InitCommonControlsEx);

vindrel::win32::LateBound<InitCommonControlsExFn> g_system(L"comctl32.dll", "InitCommonControlsEx");

BOOL WINAPI InitCommonControlsFromSystem(const INITCOMMONCONTROLSEX* controls)
{
    const InitCommonControlsExFn init = g_system.Get();
    return init != nullptr && init(controls);
}

}  // namespace

// The slot's name as the import library spells it for each machine.
#if defined(_WIN64)
#define VINDREL_COMMON_CONTROLS_SLOT "__imp_InitCommonControlsEx"
#else
#define VINDREL_COMMON_CONTROLS_SLOT "__imp__InitCommonControlsEx@4"
#endif
extern "C" {
InitCommonControlsExFn vindrel_common_controls_slot __asm__(VINDREL_COMMON_CONTROLS_SLOT) =
    &InitCommonControlsFromSystem;
}
