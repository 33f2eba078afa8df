// System helpers.
#include "runtime/system.h"

#include <cstring>
#include <vector>
#include <windows.h>
#include <shellapi.h>
#include "runtime/process.h"
#include "runtime/windows.h"

namespace rt {

namespace {

std::string fullPath(const std::string& path)
{
    std::vector<char> buf(MAX_PATH + 32);
    for (;;) {
        const DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
        if (n == 0) return path;
        if (n < buf.size()) return std::string(buf.data(), n);
        buf.resize(n + 1);
    }
}

} // namespace

std::string programPath()
{
    std::vector<char> buf(MAX_PATH + 32);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size() - 1) return fullPath(std::string(buf.data(), n));
        buf.resize(buf.size() * 2);  // cut off: try again with more room
    }
}

std::string programDirectory()
{
    const std::string path = programPath();
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string parameter(int n)
{
    return n == 0 ? programPath() : param(n);  // param raises 208 beyond the count
}

std::string currentDirectory(const std::string& path)
{
    if (path.empty()) {
        const DWORD n = GetCurrentDirectoryA(0, nullptr);
        std::string dir(n, '\0');
        dir.resize(GetCurrentDirectoryA(n, dir.data()));
        return dir;
    }
    // "X:" alone names the current directory of drive X.
    std::string dir = fullPath(std::string(1, path[0]) + ":");
    if (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
    return dir;
}

std::string osVersion()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExA(&info);
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion);
}

bool setClipboardText(const std::string& text)
{
    // Zeroed, so the bytes after the terminator are no leftovers (Wine hands
    // the whole block to X clients).
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT, text.size() + 4);
    if (!memory) return false;
    if (char* p = static_cast<char*>(GlobalLock(memory))) {
        std::memcpy(p, text.c_str(), text.size() + 1);
        GlobalUnlock(memory);
    }
    HWND owner = static_cast<HWND>(hwndOf(mainWindow()));
    if (!owner) owner = requestWindow();
    // Clipboard managers and remote-desktop clients hold the clipboard for a
    // moment now and then.
    constexpr DWORD kTryMs = 2000;
    const DWORD start = GetTickCount();
    bool open = false;
    while (!(open = OpenClipboard(owner)) && GetTickCount() - start < kTryMs) Sleep(20);
    if (!open) {
        GlobalFree(memory);
        return false;
    }
    // Emptying makes the window the owner and drops other formats, so that no
    // older Unicode text stands beside the new text.
    EmptyClipboard();
    const bool stored = SetClipboardData(CF_TEXT, memory) != nullptr;
    if (!stored) GlobalFree(memory);
    CloseClipboard();
    return stored;
}

std::intptr_t shellExecute(const std::string& file, const std::string& verb, int showMode)
{
    return reinterpret_cast<std::intptr_t>(ShellExecuteA(nullptr, verb.empty() ? nullptr : verb.c_str(),
                                                         file.c_str(), nullptr, nullptr, showMode));
}

void sleepMs(int ms)
{
    if (ms < 0) ms = 0;
    if (onGuiThread() || !requestWindow()) {
        Sleep(static_cast<DWORD>(ms));
    } else {
        int block = ms;
        sendRequest(ReqSleep, &block);
    }
    Sleep(0);
}

} // namespace rt
