// Test-only DLL planted beside a program under the name of a system library
// (dnsapi.dll, comctl32.dll) with Wine told to prefer a native copy: should
// the program load it, its DllMain creates the file VINDREL_PLANTED_LOG names.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    wchar_t mark[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"VINDREL_PLANTED_LOG", mark, MAX_PATH);
    if (reason == DLL_PROCESS_ATTACH && n > 0 && n < MAX_PATH)
        CloseHandle(CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return TRUE;
}
