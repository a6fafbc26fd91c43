// Test-only netapi32.dll, put into the Wine prefix's system folder with Wine
// told to load it rather than its own. Each NetMessageBufferSend call appends
// one line to the file named by VINDREL_NETLOG:
//   call <n> server=<-|hex> msgname=<hex> from=<-|hex> length=<n> bytes=<hex> busy=<0|1>
// (UTF-16 code units and buffer bytes in hex; busy: the hourglass was the
// thread's cursor during the call) and answers the n-th entry of
// VINDREL_NETSTATUSES, "status[:delay_ms],...", 0 when the list runs out.
// With VINDREL_REFUSE_THREADS naming a file, the first call also makes every
// later thread start of the program fail, as when the system has no room for
// another thread, and each refusal appends a line to that file.
// Built once more without the function, as a library that lacks it.
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef VINDREL_DOUBLE_WITHOUT_SEND
namespace {

int g_calls = 0;

std::string Hex(const unsigned char* bytes, DWORD count)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (DWORD i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string HexString(LPCWSTR text)
{
    if (text == nullptr) return "-";
    return Hex(reinterpret_cast<const unsigned char*>(text), static_cast<DWORD>(lstrlenW(text) * 2));
}

std::string Environment(const char* name)
{
    char value[4096];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// The entry for call `index` (from 0): its status and how long to take.
void Scripted(int index, DWORD* status, DWORD* delay)
{
    *status = 0;
    *delay = 0;
    const std::string list = Environment("VINDREL_NETSTATUSES");
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = list.find(',', start);
        if (start == std::string::npos) return;
        ++start;
    }
    if (start >= list.size()) return;
    const std::string entry = list.substr(start, list.find(',', start) - start);
    *status = static_cast<DWORD>(std::strtol(entry.c_str(), nullptr, 10));
    const auto colon = entry.find(':');
    if (colon != std::string::npos) *delay = static_cast<DWORD>(std::strtoul(entry.c_str() + colon + 1, nullptr, 10));
}

void Append(const std::string& path, const std::string& line)
{
    if (path.empty()) return;
    if (FILE* log = std::fopen(path.c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), log);
        std::fclose(log);
    }
}

// What _beginthreadex answers when the system cannot start a thread.
uintptr_t __cdecl RefuseThread(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*)
{
    Append(Environment("VINDREL_REFUSE_THREADS"), "refused\n");
    errno = EAGAIN;
    return 0;
}

// Points the program's import of msvcrt.dll's _beginthreadex, which the
// threads library starts every thread with, at RefuseThread.
void RefuseThreadStarts()
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name;
         ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), "msvcrt.dll") != 0) continue;
        auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(by_name->Name), "_beginthreadex") != 0) continue;
            DWORD was = 0;
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &was);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(&RefuseThread);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, was, &was);
        }
    }
}

}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI NetMessageBufferSend(LPCWSTR servername, LPCWSTR msgname,
                                                                   LPCWSTR fromname, LPBYTE buf,
                                                                   DWORD buflen)
{
    const int index = g_calls++;
    if (index == 0 && !Environment("VINDREL_REFUSE_THREADS").empty()) RefuseThreadStarts();
    DWORD status, delay;
    Scripted(index, &status, &delay);
    const bool busy = GetCursor() == LoadCursorW(nullptr, MAKEINTRESOURCEW(32514));  // IDC_WAIT

    std::string line = "call " + std::to_string(index + 1) + " server=" + HexString(servername) +
                       " msgname=" + HexString(msgname) + " from=" + HexString(fromname) +
                       " length=" + std::to_string(buflen) + " bytes=" + Hex(buf, buflen) +
                       " busy=" + (busy ? "1" : "0") + "\n";
    Append(Environment("VINDREL_NETLOG"), line);
    // Time for the test to look at the window while the send "blocks".
    if (delay > 0) Sleep(delay);
    return status;
}
#endif

// Something to export when the send is left out, so the library still links.
extern "C" __declspec(dllexport) DWORD WINAPI NetApiBufferFree(LPVOID)
{
    return 0;
}
