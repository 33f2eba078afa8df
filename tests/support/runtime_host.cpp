// GoogleTest on the runtime's program thread, and the helpers of such tests.
#include "tests/support/runtime_host.h"
#include "runtime/process.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testhost {

namespace {

void (*g_childScenario)() = nullptr;

struct DialogSearch {
    DWORD pid;
    const std::string* caption;  // nullptr: every visible dialog of the process
    std::vector<HWND> found;
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
        (!s->caption || windowText(w) == *s->caption))
        s->found.push_back(w);
    return TRUE;
}

} // namespace

bool setChildScenario(void (*routine)())
{
    g_childScenario = routine;
    return true;
}

std::string windowText(HWND w)
{
    char buf[2048] = {};
    DWORD_PTR len = 0;
    SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, &len);
    return buf;
}

HWND findDialog(DWORD pid, const std::string& caption)
{
    DialogSearch s{pid, &caption, {}};
    EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&s));
    return s.found.empty() ? nullptr : s.found.front();
}

HWND waitDialog(DWORD pid, const std::string& caption, int ms)
{
    for (int waited = 0; waited <= ms; waited += 20) {
        if (HWND w = findDialog(pid, caption)) return w;
        Sleep(20);
    }
    return nullptr;
}

std::string boxText(HWND box) { return windowText(GetDlgItem(box, 0xFFFF)); }

bool hasButton(HWND dialog, int id) { return GetDlgItem(dialog, id) != nullptr; }

void postClick(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool waitGone(HWND w, int ms)
{
    for (int waited = 0; waited <= ms; waited += 20) {
        if (!IsWindow(w)) return true;
        Sleep(20);
    }
    return false;
}

BoxWatcher::BoxWatcher() : thread_([this] { run(); }) {}

BoxWatcher::~BoxWatcher()
{
    stop_ = true;
    thread_.join();
}

std::vector<BoxWatcher::Box> BoxWatcher::boxes()
{
    std::lock_guard lock(mutex_);
    return boxes_;
}

void BoxWatcher::run()
{
    std::vector<HWND> answered;
    while (!stop_) {
        DialogSearch s{GetCurrentProcessId(), nullptr, {}};
        EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&s));
        for (HWND box : s.found) {
            if (std::find(answered.begin(), answered.end(), box) != answered.end()) continue;
            HWND text = GetDlgItem(box, 0xFFFF);
            {
                std::lock_guard lock(mutex_);
                boxes_.push_back({windowText(box), text ? windowText(text) : std::string()});
            }
            answered.push_back(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(20);
    }
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> fileLines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::pair<std::string, std::string>> iniSection(const std::string& path, const std::string& section)
{
    std::vector<std::pair<std::string, std::string>> keys;
    bool inside = false;
    for (const std::string& line : fileLines(path)) {
        if (!line.empty() && line.front() == '[') {
            inside = line == "[" + section + "]";
        } else if (inside) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) keys.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        }
    }
    return keys;
}

bool fileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string storedName(const std::string& path)
{
    WIN32_FIND_DATAA data{};
    HANDLE h = FindFirstFileA(path.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return {};
    FindClose(h);
    return data.cFileName;
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

void removeFile(const std::string& path) { DeleteFileA(path.c_str()); }

std::string tempPath(const std::string& name)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + "qp-test-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::string freshFolder(const std::string& tag)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    std::string folder = std::string(temp) + "qp-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(GetTickCount());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

} // namespace testhost

namespace {

int g_testResult = 1;

void runTests() { g_testResult = RUN_ALL_TESTS(); }

void runChild() { testhost::g_childScenario(); }

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--child") == 0 && testhost::g_childScenario)
        return rt::processEntry(GetModuleHandleA(nullptr), runChild);
    testing::InitGoogleTest(&argc, argv);
    rt::processEntry(GetModuleHandleA(nullptr), runTests);
    return g_testResult;
}
