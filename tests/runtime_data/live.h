// Helpers of the tests that run against the running runtime: windows of a
// given process found by caption, message-box texts and buttons, bounded
// waits, and child processes of this program that run one report scenario.
#pragma once
#include <windows.h>
#include <string>

namespace live {

constexpr const char* kReportCaption = "Zeilennummer nicht verfügbar.";

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

std::string readFile(const std::string& path);
std::string tempPath(const std::string& name);

// Child scenarios: this program started with "--child SCENARIO LOG MARKER".
void runChildScenario();

} // namespace live
