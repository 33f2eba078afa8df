// Runs the tests on the program thread of a running runtime, or, started
// with "--child", one report scenario as a program of its own.
#include <gtest/gtest.h>
#include <cstring>
#include <fstream>
#include <sstream>
#include "live.h"
#include "runtime/process.h"

namespace live {

std::string windowText(HWND w)
{
    char buf[1024] = {};
    DWORD_PTR len = 0;
    SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                        2000, &len);
    return buf;
}

namespace {

struct DialogSearch {
    DWORD pid;
    const std::string* caption;
    HWND found;
};

// A named callback: the standard calling convention of 32-bit builds does
// not take lambdas.
BOOL CALLBACK matchDialog(HWND w, LPARAM p)
{
    auto* s = reinterpret_cast<DialogSearch*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    char cls[64] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (owner == s->pid && std::strcmp(cls, "#32770") == 0 && IsWindowVisible(w) &&
        windowText(w) == *s->caption) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND findDialog(DWORD pid, const std::string& caption)
{
    DialogSearch s{pid, &caption, nullptr};
    EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND waitDialog(DWORD pid, const std::string& caption, int ms)
{
    for (int waited = 0; waited <= ms; waited += 20) {
        if (HWND w = findDialog(pid, caption)) return w;
        Sleep(20);
    }
    return nullptr;
}

std::string boxText(HWND box)
{
    return windowText(GetDlgItem(box, 0xFFFF));
}

bool hasButton(HWND dialog, int id)
{
    return GetDlgItem(dialog, id) != nullptr;
}

void postClick(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool waitGone(HWND w, int ms)
{
    for (int waited = 0; waited <= ms; waited += 20) {
        if (!IsWindow(w)) return true;
        Sleep(20);
    }
    return false;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string tempPath(const std::string& name)
{
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    return std::string(tmp) + "rtdata-live-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

} // namespace live

namespace {

int g_testResult = 1;

void runTests()
{
    g_testResult = RUN_ALL_TESTS();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--child") == 0)
        return rt::processEntry(GetModuleHandleA(nullptr), [] { live::runChildScenario(); });
    ::testing::InitGoogleTest(&argc, argv);
    rt::processEntry(GetModuleHandleA(nullptr), runTests);
    return g_testResult;
}
