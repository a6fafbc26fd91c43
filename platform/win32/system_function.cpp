// Finding system functions by name.
#include "platform/win32/system_function.h"

namespace vindrel::win32 {

FARPROC FindSystemFunction(const wchar_t* library, const char* function, DWORD* error)
{
    // The module stays loaded for the life of the process: the address is
    // kept and reused.
    const HMODULE module = LoadLibraryW(library);
    if (module == nullptr) {
        *error = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    const FARPROC address = GetProcAddress(module, function);
    if (address == nullptr) {
        *error = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    *error = ERROR_SUCCESS;
    return address;
}

}  // namespace vindrel::win32
