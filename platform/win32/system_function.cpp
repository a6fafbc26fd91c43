// Finding system functions by name.
#include "platform/win32/system_function.h"

#include <cwchar>

namespace vindrel::win32 {
namespace {

// `library` in the system folder, or an empty string when the path would not
// fit. A bare name would be searched for in the program's folder (and on old
// systems the current folder) before the system's.
void SystemPath(const wchar_t* library, wchar_t (&path)[MAX_PATH])
{
    path[0] = L'\0';
    const UINT folder = GetSystemDirectoryW(path, MAX_PATH);
    const std::size_t name = std::wcslen(library);
    if (folder == 0 || folder + 1 + name >= MAX_PATH) {
        path[0] = L'\0';
        return;
    }
    path[folder] = L'\\';
    std::wmemcpy(path + folder + 1, library, name + 1);
}

}  // namespace

FARPROC FindSystemFunction(const wchar_t* library, const char* function, DWORD* error)
{
    wchar_t path[MAX_PATH];
    SystemPath(library, path);
    // The module stays loaded for the life of the process: the address is
    // kept and reused. The altered search path has the libraries it imports
    // looked for in its own folder first, not beside the program.
    const HMODULE module =
        path[0] != L'\0' ? LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr;
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
