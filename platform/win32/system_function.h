// Late binding of system functions by library file name and function name,
// the way the program declares the two system calls it makes.
#pragma once

#include "platform/win32/windows_headers.h"

namespace vindrel::win32 {

// The address of `function` in the system folder's `library` (a file name,
// loaded if it is not yet), or null with `*error` set to ERROR_MOD_NOT_FOUND
// or ERROR_PROC_NOT_FOUND. The system folder is searched first, for `library`
// and for the libraries it imports in turn: a library of one of those names
// beside the program or in the current folder is never loaded.
FARPROC FindSystemFunction(const wchar_t* library, const char* function, DWORD* error);

// True when `function` is Wine's own: the program runs on Wine (ntdll.dll
// exports wine_get_version) and the function lies in one of Wine's builtin
// libraries, not in a Windows library put in its place. False on Windows.
bool IsWineBuiltin(FARPROC function);

// One system function, looked up at the first call to Get(); the answer,
// found or not, is kept for every later call.
template <typename Fn>
class LateBound {
public:
    LateBound(const wchar_t* library, const char* function) : library_(library), function_(function) {}

    // Null when the library or the function cannot be found; Error() says which.
    Fn Get()
    {
        if (!resolved_) {
            // Through void(*)(): FARPROC's own type says nothing about the
            // real signature, which `Fn` states.
            const auto plain =
                reinterpret_cast<void (*)()>(FindSystemFunction(library_, function_, &error_));
            address_ = reinterpret_cast<Fn>(plain);
            resolved_ = true;
        }
        return address_;
    }

    DWORD Error() const { return error_; }

private:
    const wchar_t* library_;
    const char* function_;
    bool resolved_ = false;
    Fn address_ = nullptr;
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace vindrel::win32
