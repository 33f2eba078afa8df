// Runs GoogleTest on the runtime's program thread, as the application's own
// code runs, so that tests can create controls, call Windows functions by
// name and show message boxes. Also: a watcher that answers this process's
// message boxes and records them, and helpers for INI and shortcut files.
#pragma once
#include <windows.h>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testhost {

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
    std::mutex mutex_;
    std::vector<Box> boxes_;
    std::thread thread_;
};

// Lines of a file as bytes, CR LF or LF separated.
std::vector<std::string> fileLines(const std::string& path);
// "key=value" lines of one section of an INI file, in file order.
std::vector<std::pair<std::string, std::string>> iniSection(const std::string& path, const std::string& section);
bool fileExists(const std::string& path);
// Name of the file as the file system stores it (letter case), or "".
std::string storedName(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
void removeFile(const std::string& path);
// A fresh empty folder below the Windows temp folder, without trailing "\".
std::string freshFolder(const std::string& tag);

} // namespace testhost
