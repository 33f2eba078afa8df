// GoogleTest hosted by the runtime: the tests run on the program thread, as
// the application's own code does, so they can create controls, call
// Windows functions by name and show message boxes. Link a test program with
// `qptest_runtime_host` (it brings main) and use the helpers below.
//
// A program may also register a child scenario: started with
// "--child ARGS...", it runs that routine on the program thread instead of
// the tests, so a test can start the same program as a child process and
// watch what the runtime does there (boxes, reports, exit codes).
#pragma once
#include <windows.h>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testhost {

// The routine run for "--child"; returns true so that it can initialise a
// namespace-scope constant.
bool setChildScenario(void (*routine)());

// -- windows of a process ---------------------------------------------------
std::string windowText(HWND w);
// A visible dialog (#32770) of the process with exactly this caption.
HWND findDialog(DWORD pid, const std::string& caption);
HWND waitDialog(DWORD pid, const std::string& caption, int ms);
// The text of a message box (its static 65535).
std::string boxText(HWND box);
bool hasButton(HWND dialog, int id);
// Queues a click on the button after everything already posted.
void postClick(HWND dialog, int id);
bool waitGone(HWND w, int ms);

// Answers every message box of this process with OK and records its caption
// and text, so that a box the test does not expect fails the test instead of
// hanging it.
class BoxWatcher {
public:
    struct Box { std::string caption, text; };
    BoxWatcher();
    ~BoxWatcher();
    std::vector<Box> boxes();

private:
    void run();
    std::atomic<bool> stop_{false};
    std::mutex mutex_;  // boxes_ is filled by the watcher thread, read by the test
    std::vector<Box> boxes_;
    std::thread thread_;
};

// -- files ------------------------------------------------------------------
std::string readFile(const std::string& path);
// Lines of a file as bytes, CR LF or LF separated.
std::vector<std::string> fileLines(const std::string& path);
// "key=value" lines of one section of an INI file, in file order.
std::vector<std::pair<std::string, std::string>> iniSection(const std::string& path, const std::string& section);
bool fileExists(const std::string& path);
// Name of the file as the file system stores it (letter case), or "".
std::string storedName(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
void removeFile(const std::string& path);
// A path in the Windows temp folder named after this process and `name`.
std::string tempPath(const std::string& name);
// A fresh empty folder below the Windows temp folder, without trailing "\".
std::string freshFolder(const std::string& tag);

} // namespace testhost
