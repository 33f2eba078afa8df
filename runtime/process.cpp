// Process start, the program thread, the hand-off of requests, the message
// loop with its fast-mode variant, and the end of the process.
#include "runtime/process.h"

#include <atomic>
#include <clocale>
#include <commctrl.h>
#include <ole2.h>
#include "runtime/core_internal.h"
#include "runtime/errors.h"
#include "runtime/internal.h"

namespace rt {
namespace {

// Process-wide state. Written on the GUI thread during the start sequence
// before the program thread exists (CreateThread publishes it), except where
// an atomic says otherwise.
struct ProcessState {
    HINSTANCE instance = nullptr;
    std::atomic<DWORD> guiThreadId{0};
    HANDLE guiThreadHandle = nullptr;  // duplicate of the GUI thread's handle
    std::atomic<HANDLE> programThread{nullptr};
    std::atomic<DWORD> programThreadId{0};
    HWND requestWindow = nullptr;
    std::vector<std::string> params;
    int paramCount = -1;  // entries after the program path
    HANDLE requestDone = nullptr;
    MainRoutine main = nullptr;
    void (*componentStartup)() = nullptr;
    void (*componentShutdown)() = nullptr;
    char decimalSeparator = '.';
    std::atomic<bool> fastMode{false};
    std::atomic<bool> cleanedUp{false};
    bool oleInitialised = false;
};
ProcessState g;

constexpr char kRequestClass[] = "CW";

void runRequest(WPARAM code, void* block, bool posted);

LRESULT CALLBACK requestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRequestMessage) {
        runRequest(wParam, reinterpret_cast<void*>(lParam), false);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// After a foreign call or a sleep the GUI thread, in fast mode, goes on
// dispatching ordinary messages.
void keepDispatchingInFastMode()
{
    if (g.fastMode.load())
        PostThreadMessageA(g.guiThreadId.load(), kRequestMessage, ReqFastDispatch, 0);
}

// Fast mode: the GUI thread takes only requests until 40982; 40983 opens a
// full dispatch loop that runs until 40984. Returns false when a quit message
// arrived (it is posted again for the outer loop).
bool fullDispatchUntilEnd()
{
    MSG msg;
    for (;;) {
        const BOOL r = GetMessageA(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        if (msg.hwnd == nullptr && msg.message == kRequestMessage) {
            if (msg.wParam == ReqFastDispatchEnd) return true;
            if (msg.wParam == ReqFastLeave) {
                // Leaving fast mode altogether: let the request loop see it.
                PostThreadMessageA(g.guiThreadId.load(), kRequestMessage, ReqFastLeave, 0);
                return true;
            }
            if (msg.wParam == ReqFastDispatch || msg.wParam == ReqFastEnter) continue;
            runRequest(msg.wParam, reinterpret_cast<void*>(msg.lParam), true);
            continue;
        }
        detail::dispatchLoopMessage(msg);
    }
}

void fastModeLoop()
{
    MSG msg;
    for (;;) {
        // The end of program leaves fast mode before it posts the quit
        // message; a quit message seen here all the same ends fast mode too.
        const BOOL r = GetMessageA(&msg, nullptr, kRequestMessage, kRequestMessage);
        if (r == 0 || r == -1) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (msg.hwnd != nullptr) {
            // A 0x8001 sent to some window by mistake: hand it on as usual.
            DispatchMessageA(&msg);
            continue;
        }
        switch (msg.wParam) {
        case ReqFastLeave: return;
        case ReqFastDispatch:
            if (!fullDispatchUntilEnd()) return;
            break;
        case ReqFastDispatchEnd:
        case ReqFastEnter: break;
        default: runRequest(msg.wParam, reinterpret_cast<void*>(msg.lParam), true);
        }
    }
}

void peekRequest(void* block)
{
    MSG msg;
    const BOOL waiting = PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    if (waiting) detail::recordLastMessage(msg.message, msg.hwnd, msg.wParam, msg.lParam);
    if (block) *static_cast<int*>(block) = waiting ? 1 : 0;
}

void runRequest(WPARAM code, void* block, bool posted)
{
    switch (code) {
    case ReqFastEnter:
        if (posted) fastModeLoop();
        return;  // no request-done
    case ReqFastLeave:
    case ReqFastDispatch:
    case ReqFastDispatchEnd:
        return;  // outside fast mode nothing to do, and nobody waits
    case ReqPeekMessage: peekRequest(block); break;
    case ReqDrainQueue: detail::drainQueue(); break;
    case ReqForeignCall:
        detail::runForeignCallRequest(block);
        keepDispatchingInFastMode();
        break;
    case ReqInputBox: detail::runInputBoxRequest(block); break;
    case ReqSleep:
        Sleep(static_cast<DWORD>(block ? *static_cast<int*>(block) : 0));
        keepDispatchingInFastMode();
        break;
    case ReqInputWaiting:
        Sleep(0);
        if (block)
            *static_cast<int*>(block) =
                HIWORD(GetQueueStatus(QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON)) != 0 ? 1 : 0;
        break;
    case detail::kReqGuiTask:
        if (auto* t = static_cast<detail::TaskBlock*>(block); t && t->task) (*t->task)();
        break;
    case ReqSendMessage:
        if (auto* b = static_cast<detail::SendMessageBlock*>(block))
            b->result = SendMessageA(b->window, b->message, b->wParam, b->lParam);
        break;
    default: detail::runWindowRequest(code, block); break;
    }
    if (posted) SetEvent(g.requestDone);
}

// Steps 1-6 of the message loop; returns the quit message's wParam.
int messageLoop()
{
    MSG msg;
    for (;;) {
        const BOOL r = GetMessageA(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) break;
        if (msg.hwnd == nullptr && msg.message == kRequestMessage) {
            runRequest(msg.wParam, reinterpret_cast<void*>(msg.lParam), true);
            continue;
        }
        detail::dispatchLoopMessage(msg);
    }
    return static_cast<int>(msg.wParam);
}

DWORD WINAPI programThreadRoutine(LPVOID)
{
    // The GUI thread must take thread messages before the program hands
    // anything over; attaching the input shares focus and key state.
    detail::postUntilAccepted(g.guiThreadId.load(), 0, 0, 0);
    AttachThreadInput(GetCurrentThreadId(), g.guiThreadId.load(), TRUE);
    g.main();
    endProgram();
}

bool registerRequestWindow()
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = requestWindowProc;
    wc.hInstance = g.instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    wc.lpszClassName = kRequestClass;
    if (!RegisterClassA(&wc)) return false;
    g.requestWindow = CreateWindowExA(0, kRequestClass, kRequestClass, 0, 0, 0, 0, 0, nullptr,
                                      nullptr, g.instance, nullptr);
    return g.requestWindow != nullptr;
}

void cleanUp()
{
    if (g.cleanedUp.exchange(true)) return;
    if (g.componentShutdown) g.componentShutdown();
    detail::cleanupWindowState();
    detail::cleanupEvents();
    CloseHandle(g.requestDone);
    g.requestDone = nullptr;
    if (g.requestWindow) DestroyWindow(g.requestWindow);
    UnregisterClassA(kRequestClass, g.instance);
    if (g.oleInitialised) OleUninitialize();
}

void closeThreadHandles()
{
    if (HANDLE t = g.programThread.exchange(nullptr)) CloseHandle(t);
    if (g.guiThreadHandle) CloseHandle(g.guiThreadHandle);
    g.guiThreadHandle = nullptr;
}

} // namespace

std::vector<std::string> splitCommandLine(const std::string& line)
{
    std::vector<std::string> out;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        while (i < n && line[i] == ' ') ++i;
        if (i >= n) break;
        if (line[i] == '"') {
            const std::size_t start = i + 1;
            const std::size_t close = line.find('"', start);
            if (close == std::string::npos) {
                out.push_back(line.substr(start));
                i = n;
            } else {
                out.push_back(line.substr(start, close - start));
                i = close + 1;
            }
        } else {
            std::size_t end = line.find(' ', i);
            if (end == std::string::npos) end = n;
            out.push_back(line.substr(i, end - i));
            i = end + 1;
        }
    }
    return out;
}

int processEntry(HINSTANCE instance, MainRoutine main)
{
    g.instance = instance;
    g.main = main;

    // 1. The start thread is the GUI thread.
    g.guiThreadId.store(GetCurrentThreadId());
    g.requestDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);

    // 2. OLE.
    g.oleInitialised = SUCCEEDED(OleInitialize(nullptr));

    // 3. Parameters.
    g.params = splitCommandLine(GetCommandLineA());
    g.paramCount = static_cast<int>(g.params.size()) - 1;

    // 4. Request window.
    if (!registerRequestWindow()) ExitProcess(1);

    // 5. Number formatting follows the "English" locale.
    std::setlocale(LC_ALL, "English");
    if (const lconv* lc = std::localeconv(); lc && lc->decimal_point && lc->decimal_point[0])
        g.decimalSeparator = lc->decimal_point[0];

    // 6. Window state, events, classes, common controls.
    if (!detail::initEvents() || !detail::initWindowState()) ExitProcess(1);
    INITCOMMONCONTROLSEX icc{sizeof(icc), 0x11C};
    InitCommonControlsEx(&icc);

    // 7. The FTP component lives on the GUI thread.
    if (g.componentStartup) g.componentStartup();

    // 8. The program thread.
    DWORD programId = 0;
    HANDLE thread = CreateThread(nullptr, 0, programThreadRoutine, nullptr, CREATE_SUSPENDED,
                                 &programId);
    if (!thread) ExitProcess(1);
    g.programThreadId.store(programId);
    g.programThread.store(thread);
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                    &g.guiThreadHandle, 0, FALSE, DUPLICATE_SAME_ACCESS);
    ResumeThread(thread);

    // 9. The message loop.
    const int exitCode = messageLoop();
    // The program thread posted the quit message and is ending. A quit
    // from elsewhere must not hang the process on a program still waiting.
    if (!g.fastMode.load() && WaitForSingleObject(thread, 10000) == WAIT_TIMEOUT)
        TerminateThread(thread, 0);
    closeThreadHandles();
    cleanUp();
    return exitCode;
}

void setComponentHooks(void (*startup)(), void (*shutdown)())
{
    g.componentStartup = startup;
    g.componentShutdown = shutdown;
}

LRESULT sendRequest(WPARAM code, void* block)
{
    return SendMessageA(g.requestWindow, kRequestMessage, code, reinterpret_cast<LPARAM>(block));
}

void postRequest(WPARAM code, void* block, bool wait)
{
    if (onGuiThread()) {
        // The GUI thread cannot wait for itself; it runs the request here.
        if (code == ReqFastEnter || code == ReqFastLeave || code == ReqFastDispatch ||
            code == ReqFastDispatchEnd)
            return;
        runRequest(code, block, false);
        return;
    }
    detail::postUntilAccepted(g.guiThreadId.load(), kRequestMessage, code,
                              reinterpret_cast<LPARAM>(block));
    if (wait) WaitForSingleObject(g.requestDone, INFINITE);
}

void endProgram()
{
    if (g.guiThreadId.load() == 0) ExitProcess(0);  // no runtime started
    if (onGuiThread()) detail::endFromGuiThread();
    if (g.fastMode.exchange(false)) {
        PostThreadMessageA(g.guiThreadId.load(), kRequestMessage, ReqFastDispatchEnd, 0);
        PostThreadMessageA(g.guiThreadId.load(), kRequestMessage, ReqFastLeave, 0);
    }
    detail::postUntilAccepted(g.guiThreadId.load(), WM_QUIT, 0, 0);
    ExitThread(0);
}

int paramCount()
{
    return g.paramCount < 0 ? 0 : g.paramCount;
}

std::string param(int n)
{
    if (n < 0 || n >= static_cast<int>(g.params.size())) {
        raiseError(208);
        return std::string();
    }
    return g.params[static_cast<std::size_t>(n)];
}

HINSTANCE instance()
{
    return g.instance ? g.instance : GetModuleHandleA(nullptr);
}

DWORD guiThreadId()
{
    return g.guiThreadId.load();
}

bool onGuiThread()
{
    return GetCurrentThreadId() == g.guiThreadId.load();
}

HANDLE programThread()
{
    return g.programThread.load();
}

HWND requestWindow()
{
    return g.requestWindow;
}

bool fastMode()
{
    return g.fastMode.load();
}

void setFastMode(bool on)
{
    if (g.fastMode.exchange(on) == on) return;
    if (on) {
        postRequest(ReqFastEnter, nullptr, false);
    } else {
        postRequest(ReqFastDispatchEnd, nullptr, false);
        postRequest(ReqFastLeave, nullptr, false);
    }
}

namespace detail {

void dispatchLoopMessage(MSG& msg)
{
    bool handled = false;
    if (HACCEL acc = acceleratorTable(); acc && mainHwnd())
        handled = TranslateAcceleratorA(mainHwnd(), acc, &msg) != 0;
    if (!handled) {
        if (HWND dialog = modelessDialog(); dialog && IsDialogMessageA(dialog, &msg)) handled = true;
    }
    if (!handled) {
        if (HWND tip = tooltipWindow(); tip && msg.message == WM_MOUSEMOVE)
            SendMessageA(tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    recordLastMessage(msg.message, msg.hwnd, msg.wParam, msg.lParam);
    PulseEvent(messageProcessedEvent());
}

void drainQueue()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (msg.hwnd == nullptr && msg.message == kRequestMessage) {
            runRequest(msg.wParam, reinterpret_cast<void*>(msg.lParam), true);
            continue;
        }
        dispatchLoopMessage(msg);
    }
}

void endFromGuiThread()
{
    HANDLE thread = g.programThread.load();
    if (thread && GetCurrentThreadId() != g.programThreadId.load()) {
        TerminateThread(thread, 0);
        WaitForSingleObject(thread, 5000);
    }
    g.fastMode.store(false);
    closeThreadHandles();
    cleanUp();
    ExitProcess(0);
}

bool postUntilAccepted(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    for (unsigned attempt = 0;; ++attempt) {
        if (PostThreadMessageA(threadId, message, wParam, lParam)) return true;
        // Posting fails both while the thread has no queue yet and when it
        // is gone; only the second ends the retries.
        if (attempt % 64 == 63) {
            HANDLE t = OpenThread(SYNCHRONIZE, FALSE, threadId);
            if (!t) return false;
            const bool gone = WaitForSingleObject(t, 0) == WAIT_OBJECT_0;
            CloseHandle(t);
            if (gone) return false;
        }
        Sleep(0);
    }
}

void runOnGui(const std::function<void()>& task)
{
    if (onGuiThread() || !g.requestWindow) {
        task();
        return;
    }
    TaskBlock block{&task};
    sendRequest(kReqGuiTask, &block);
}

void suspendProgramThread()
{
    HANDLE t = g.programThread.load();
    if (t && GetCurrentThreadId() != g.programThreadId.load()) SuspendThread(t);
}

void resumeProgramThread()
{
    HANDLE t = g.programThread.load();
    if (t && GetCurrentThreadId() != g.programThreadId.load()) ResumeThread(t);
}

bool processEnding()
{
    return g.cleanedUp.load();
}

HANDLE requestDoneEvent()
{
    return g.requestDone;
}

char decimalSeparator()
{
    return g.decimalSeparator;
}

} // namespace detail
} // namespace rt
