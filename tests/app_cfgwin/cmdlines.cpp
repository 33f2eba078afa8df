// Prints the command line of every process as Windows keeps it (the
// process parameters in its PEB), one line per process in UTF-8:
//   pid <tab> executable <tab> command line
// A process whose memory cannot be read (another bitness, no access) gets
// "?" as its command line.
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <string>

namespace {

using QueryInformation = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

std::string utf8(const std::wstring& w)
{
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

template <typename T>
bool readRemote(HANDLE process, const void* at, T& out)
{
    SIZE_T got = 0;
    return ReadProcessMemory(process, at, &out, sizeof out, &got) && got == sizeof out;
}

bool commandLineOf(DWORD pid, QueryInformation query, std::wstring& line)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) return false;
    bool ok = false;
    PROCESS_BASIC_INFORMATION basic{};
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) == 0 && basic.PebBaseAddress &&
        readRemote(process, basic.PebBaseAddress, peb) && peb.ProcessParameters &&
        readRemote(process, peb.ProcessParameters, parameters)) {
        std::wstring text(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
        SIZE_T got = 0;
        ok = text.empty() || (ReadProcessMemory(process, parameters.CommandLine.Buffer, text.data(),
                                                parameters.CommandLine.Length, &got) &&
                              got == parameters.CommandLine.Length);
        if (ok) line = text;
    }
    CloseHandle(process);
    return ok;
}

} // namespace

int main()
{
    const auto query = reinterpret_cast<QueryInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    if (!query) return 2;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 3;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        std::wstring line;
        const bool known = commandLineOf(entry.th32ProcessID, query, line);
        std::printf("%lu\t%s\t%s\n", static_cast<unsigned long>(entry.th32ProcessID), utf8(entry.szExeFile).c_str(),
                    known ? utf8(line).c_str() : "?");
    }
    CloseHandle(snapshot);
    return 0;
}
