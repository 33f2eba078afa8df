// State and helpers shared by the runtime's process, window and event
// modules (process.cpp, windows.cpp, window_procs.cpp, events.cpp): the
// request blocks, the event variables and the pieces of the message loop.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <windows.h>
#include "runtime/windows.h"

namespace rt::detail {

// --- Request blocks. The program thread fills one, hands it over by pointer
// and reads the result after the hand-off returned.

struct MainWindowBlock {  // 40961
    int x = 0, y = 0, width = 0, height = 0;
    HWND result = nullptr;
};

struct CreateWindowBlock {  // 40962
    bool explicitId = false;  // false: running control identifier, own instance
    DWORD style = 0;
    DWORD exStyle = 0;
    const char* className = "";
    const char* text = "";
    int x = 0, y = 0, width = 0, height = 0;
    HWND parent = nullptr;
    INT_PTR idOrMenu = 0;
    HINSTANCE instance = nullptr;
    HWND result = nullptr;
};

struct DialogBlock {  // 40964 (LDIALOG), 40965 (named template)
    const char* templateName = "LDIALOG";
    HWND parent = nullptr;
    LPARAM param = 0;
    HWND result = nullptr;
};

struct DialogWindowBlock {  // 40972
    const char* title = "";
    int x = 0, y = 0, width = 0, height = 0;
    HWND owner = nullptr;
    HWND result = nullptr;
};

struct DestroyBlock {  // 40967
    HWND window = nullptr;
    BOOL result = FALSE;
};

struct SendMessageBlock {  // 40979
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;
};

struct TooltipBlock {  // 40987
    HWND owner = nullptr;
    HWND control = nullptr;
    const char* text = "";
    HWND result = nullptr;
};

// Runtime-internal request: runs a task on the GUI thread (synchronous).
constexpr WPARAM kReqGuiTask = 40999;
struct TaskBlock {
    const std::function<void()>* task = nullptr;
};
// Runs `task` on the GUI thread and returns when it is done; directly when
// called there or before the runtime has started.
void runOnGui(const std::function<void()>& task);

// --- Event variables (events.cpp). Written on the GUI thread, read by the
// program thread after a wait; atomics give the interlocked publication.
struct EventVars {
    std::atomic<std::uint32_t> lastMessage{0}, lastWParam{0}, lastLParam{0};
    std::atomic<Handle> lastWindow{0};
    std::atomic<std::uint32_t> userMessage{0}, userWParam{0}, userLParam{0};
    std::atomic<int> eventKind{0};
    std::atomic<Handle> clickedControl{0};
    std::atomic<int> menuItem{0};
    std::atomic<int> commandId{0};
    std::atomic<int> keyCode{0};
    std::atomic<int> mouseButton{0}, lastPressedButton{0};
    std::atomic<int> mouseX{0}, mouseY{0};
    std::atomic<int> timerFlag{0};
    std::atomic<int> notificationFlag{0}, notificationCode{0};
    std::atomic<Handle> notificationSender{0};
    std::atomic<Handle> focusRecord{0}, focusRecord2{0};
    std::atomic<bool> painted{false};
};
extern EventVars ev;

// Events of the window state; created in initEvents().
HANDLE messageProcessedEvent();
HANDLE eventArrivedEvent();
void pulseEventArrived();
void setEventArrived();

bool initEvents();
void cleanupEvents();

// Records a message as the last message (message loop and window procedures).
void recordLastMessage(UINT message, HWND window, WPARAM wParam, LPARAM lParam);
// The user-message registry: true when the message is registered; then the
// user message variables are set and event-arrived is pulsed.
bool takeUserMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A control notification (WM_NOTIFY): delivered at once while the program
// waits for an input event, else queued (at most two).
void deliverNotification(int code, Handle sender, HWND window);
// Clears the timer state when the timer's window goes away.
void forgetTimer();

// --- Window state (windows.cpp).
bool initWindowState();
void cleanupWindowState();
// Executes a window request on the GUI thread; false when `code` is none.
bool runWindowRequest(WPARAM code, void* block);
HACCEL acceleratorTable();
HWND modelessDialog();
void setModelessDialog(HWND dialog);
HWND tooltipWindow();
HWND mainHwnd();
bool mainDialogMode();
// Colour the main window's background is erased with; CLR_INVALID = none.
COLORREF backgroundColour();
// Brush of the background colour (created on the GUI thread), or null.
HBRUSH backgroundBrush();
void releaseMainDrawingObjects();
// The main window is gone: it stops being the main or modeless window.
void forgetMainWindow(HWND window);

// --- Window procedures (window_procs.cpp).
LRESULT CALLBACK mainWindowProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK dialogWindowProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ldialogProc(HWND, UINT, WPARAM, LPARAM);

// --- Process (process.cpp).
// The message loop's drain variant: removes and dispatches every waiting
// message, requests included (request 40970, and the waits when called on
// the GUI thread).
void drainQueue();
// Ends the process from the GUI thread: terminates the program thread,
// leaves fast mode, cleans up and exits with code 0.
[[noreturn]] void endFromGuiThread();
// True once the clean-up has begun (window procedures then stop reacting
// to the main window's destruction).
bool processEnding();
// Posts a thread message until the target thread has a queue that takes
// it; false only when the thread does not exist any more.
bool postUntilAccepted(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace rt::detail
