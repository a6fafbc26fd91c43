// GetTickCount64 for the C++ threads library on Windows XP.
//
// The threads library (winpthreads, which std::thread and std::mutex stand
// on) imports GetTickCount64, which Windows has only since Vista; an import
// the system lacks keeps the whole program from starting. This definition of
// the import's address slot is found before the system library's, so the
// program imports no such function: it asks for the system's own at run
// time, and on XP extends the 32-bit tick count, which wraps every 49.7 days.
#include "platform/win32/windows_headers.h"

#include <atomic>

namespace {

// Written out: XP's headers, which the build compiles against, lack it.
using TickCount64Fn = ULONGLONG(WINAPI*)();

// Looked up before main, with no guard of its own: the guard of a local
// static would take a lock from the very library that calls this.
const TickCount64Fn g_system = reinterpret_cast<TickCount64Fn>(
    reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount64")));

ULONGLONG WINAPI TickCount64()
{
    if (g_system != nullptr) return g_system();
    // The last count handed out: its high half counts the wraps seen.
    static std::atomic<ULONGLONG> last{0};
    ULONGLONG previous = last.load();
    for (;;) {
        const DWORD now = GetTickCount();
        ULONGLONG high = previous & ~ULONGLONG{0xFFFFFFFF};
        if (now < static_cast<DWORD>(previous)) high += ULONGLONG{1} << 32;
        const ULONGLONG next = high | now;
        if (last.compare_exchange_weak(previous, next)) return next;
    }
}

}  // namespace

// The slot's name as the import library spells it for each machine.
#if defined(_WIN64)
#define VINDREL_TICK_COUNT_SLOT "__imp_GetTickCount64"
#else
#define VINDREL_TICK_COUNT_SLOT "__imp__GetTickCount64@0"
#endif
extern "C" {
TickCount64Fn vindrel_tick_count_slot __asm__(VINDREL_TICK_COUNT_SLOT) = &TickCount64;
}
