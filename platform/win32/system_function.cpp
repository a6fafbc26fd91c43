// Finding system functions by name.
#include "platform/win32/system_function.h"

#include <cstring>
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

bool IsWineBuiltin(FARPROC function)
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (function == nullptr || ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr)
        return false;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(function), &module))
        return false;
    // Wine writes this mark after the DOS header of its own libraries, in
    // the file and in the image it maps; the headers' page is always mapped.
    static constexpr char kBuiltinMark[] = "Wine builtin DLL";
    return std::memcmp(reinterpret_cast<const char*>(module) + 0x40, kBuiltinMark, sizeof kBuiltinMark - 1) == 0;
}

}  // namespace vindrel::win32
