// Test-only DLL planted beside a program under the name of a system library
// (dnsapi.dll, comctl32.dll) with Wine told to prefer a native copy: should
// the program load it, its DllMain appends the name it was loaded under to
// the file named by VINDREL_PLANTED_LOG. It exports nothing the program uses.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t log[MAX_PATH], name[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"VINDREL_PLANTED_LOG", log, MAX_PATH);
    const DWORD size = GetModuleFileNameW(module, name, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || size == 0 || size >= MAX_PATH) return TRUE;
    const HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return TRUE;
    DWORD written = 0;
    WriteFile(file, name, size * sizeof(wchar_t), &written, nullptr);
    WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
    return TRUE;
}
