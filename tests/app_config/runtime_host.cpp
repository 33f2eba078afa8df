// GoogleTest on the runtime's program thread, and test helpers.
#include "tests/app_config/runtime_host.h"
#include "runtime/process.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <sstream>

namespace testhost {

namespace {

struct FindBoxes {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK collectBox(HWND hwnd, LPARAM lParam)
{
    auto* f = reinterpret_cast<FindBoxes*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == f->pid && std::string(cls) == "#32770" && IsWindowVisible(hwnd)) f->found.push_back(hwnd);
    return TRUE;
}

std::string windowText(HWND h)
{
    char buf[2048] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

} // namespace

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
        FindBoxes f{GetCurrentProcessId(), {}};
        EnumWindows(collectBox, reinterpret_cast<LPARAM>(&f));
        for (HWND box : f.found) {
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

std::atomic<int> testResult{1};

void programThread()
{
    testResult = RUN_ALL_TESTS();
    rt::endProgram();
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    rt::processEntry(GetModuleHandleA(nullptr), programThread);
    return testResult;
}
