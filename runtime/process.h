// Process start, the two threads and the hand-off between them.
//
// The runtime owns the process: the start thread becomes the GUI thread,
// which owns every window and runs the message loop; the application's main
// routine runs on the program thread and hands all window work to the GUI
// thread through requests (message 0x8001).
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include <windows.h>

namespace rt {

using MainRoutine = void (*)();

// Message number of a request (WM_APP + 1) and the request codes.
constexpr UINT kRequestMessage = 0x8001;
enum Request : WPARAM {
    ReqCreateMainWindow = 40961,
    ReqCreateWindow = 40962,
    ReqPeekMessage = 40963,
    ReqCreateLDialog = 40964,
    ReqCreateNamedDialog = 40965,
    ReqDestroyWindow = 40967,
    ReqDrainQueue = 40970,
    ReqForeignCall = 40971,
    ReqCreateDialogWindow = 40972,
    ReqInputBox = 40976,
    ReqSleep = 40977,
    ReqInputWaiting = 40978,
    ReqSendMessage = 40979,
    ReqFastEnter = 40981,
    ReqFastLeave = 40982,
    ReqFastDispatch = 40983,
    ReqFastDispatchEnd = 40984,
    ReqTooltip = 40987,
};

// Process entry: runs the start sequence, the message loop and the clean-up;
// returns the exit code. `main` runs on the program thread.
int processEntry(HINSTANCE instance, MainRoutine main);

// Hooks the FTP component fills: created in the start sequence on the GUI
// thread, shut down first in the clean-up.
void setComponentHooks(void (*startup)(), void (*shutdown)());

// Hand-off from the program thread. Synchronous: sent to the request window.
// Posted: thread message to the GUI thread, then a wait on request-done
// (`wait` false only for the fast-mode codes).
LRESULT sendRequest(WPARAM code, void* block);
void postRequest(WPARAM code, void* block, bool wait = true);

// Ends the program from the program thread (or the error report); never
// returns. Posts the quit message and ends the calling thread.
[[noreturn]] void endProgram();

// Command-line parameters: count after the program path; parameter n
// (0 = program path as split from the command line).
int paramCount();
std::string param(int n);
// Splits a command line by the runtime's rules (blank separated, double
// quotes without escapes). Exposed for tests.
std::vector<std::string> splitCommandLine(const std::string& line);

HINSTANCE instance();
DWORD guiThreadId();
bool onGuiThread();
HANDLE programThread();
HWND requestWindow();

// Fast mode (switch "fastmode").
bool fastMode();
void setFastMode(bool on);
} // namespace rt
