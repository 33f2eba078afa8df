// Process start, the program thread, the hand-off of requests, the one
// message loop with its variants (fast mode, draining the queue), and the
// end of the process.
#include "runtime/process.h"

#include <atomic>
#include <clocale>
#include <commctrl.h>
#include <ole2.h>
#include "runtime/core_internal.h"
#include "runtime/errors.h"
#include "runtime/handles.h"
#include "runtime/internal.h"

namespace rt {
namespace {

// Process-wide state. Written on the GUI thread during the start sequence
// before the program thread exists (CreateThread publishes it), except where
// an atomic says otherwise.
struct ProcessState {
    HINSTANCE instance = nullptr;
    std::atomic<DWORD> guiThreadId{0};
    OwnedHandle guiThreadHandle;  // duplicate of the GUI thread's handle
    // Made before the program thread runs; suspended, terminated and closed
    // only by the GUI thread.
    OwnedHandle programThread;
    std::atomic<DWORD> programThreadId{0};
    OwnedWindow requestWindow;  // made and destroyed on the GUI thread
    std::vector<std::string> params;
    int paramCount = -1;  // entries after the program path
    OwnedHandle requestDone;
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

// The runtime's one message loop and its variants. Each variant is a row of
// parameters; what the fast-mode codes 40981-40984 do in it is loopStep's.
enum class Loop {
    Main,          // every message until the quit message
    Drain,         // every message waiting now (request 40970, waits on the GUI thread)
    FastRequests,  // fast mode: only requests, until 40982
    FastDispatch,  // fast mode while the program waits: every message, until 40984
};

struct LoopParams {
    bool requestsOnly;  // takes only message 0x8001; others wait in the queue
    bool untilEmpty;    // returns when no message waits instead of blocking
    bool outermost;     // ends with the quit message; inner loops post it again for the loop outside
    bool fullDispatch;  // accelerators, dialog keys, tooltip relay, last message, message-processed
};

constexpr LoopParams kLoops[] = {
    /* Main */ {false, false, true, true},
    /* Drain */ {false, true, false, true},
    /* FastRequests */ {true, false, false, false},
    /* FastDispatch */ {false, false, false, true},
};

enum class Step {
    Run,             // a posted request: execute it
    Ignore,          // a fast-mode code with nothing to do here
    Leave,           // the loop ends
    LeaveAndRepost,  // the loop ends and the code goes on to the loop outside
    Dispatch,        // the fast-mode dispatch loop runs inside this one
};

Step loopStep(Loop loop, WPARAM code)
{
    switch (loop) {
    case Loop::FastRequests:
        switch (code) {
        case ReqFastLeave: return Step::Leave;
        case ReqFastDispatch: return Step::Dispatch;
        case ReqFastDispatchEnd:
        case ReqFastEnter: return Step::Ignore;
        default: return Step::Run;
        }
    case Loop::FastDispatch:
        switch (code) {
        case ReqFastDispatchEnd: return Step::Leave;
        case ReqFastLeave: return Step::LeaveAndRepost;  // leaving fast mode altogether
        case ReqFastDispatch:
        case ReqFastEnter: return Step::Ignore;
        default: return Step::Run;
        }
    case Loop::Main:
    case Loop::Drain: break;
    }
    return Step::Run;  // outside fast mode runRequest knows the codes
}

enum class Taken { Message, Quit, Empty };

Taken takeMessage(MSG& msg, const LoopParams& p)
{
    if (p.untilEmpty) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return Taken::Empty;
        return msg.message == WM_QUIT ? Taken::Quit : Taken::Message;
    }
    const UINT only = p.requestsOnly ? kRequestMessage : 0;
    const BOOL r = GetMessageA(&msg, nullptr, only, only);
    return r == 0 || r == -1 ? Taken::Quit : Taken::Message;
}

// Steps 3-6 of the loop: accelerators, dialog keys, tooltip relay,
// translate and dispatch, then the last message and message-processed.
void dispatchLoopMessage(MSG& msg)
{
    bool handled = false;
    if (HACCEL acc = detail::acceleratorTable(); acc && detail::mainHwnd())
        handled = TranslateAcceleratorA(detail::mainHwnd(), acc, &msg) != 0;
    if (!handled) {
        if (HWND dialog = detail::modelessDialog(); dialog && IsDialogMessageA(dialog, &msg))
            handled = true;
    }
    if (!handled) {
        if (HWND tip = detail::tooltipWindow(); tip && msg.message == WM_MOUSEMOVE)
            SendMessageA(tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    detail::recordLastMessage(msg.message, msg.hwnd, msg.wParam, msg.lParam);
    PulseEvent(detail::messageProcessedEvent());
}

struct LoopEnd {
    bool quit = false;  // ended by the quit message
    int code = 0;       // its wParam
};

LoopEnd runLoop(Loop loop)
{
    const LoopParams& p = kLoops[static_cast<int>(loop)];
    MSG msg;
    for (;;) {
        switch (takeMessage(msg, p)) {
        case Taken::Empty: return {};
        case Taken::Quit:
            if (!p.outermost) PostQuitMessage(static_cast<int>(msg.wParam));
            return {true, static_cast<int>(msg.wParam)};
        case Taken::Message: break;
        }
        if (msg.hwnd == nullptr && msg.message == kRequestMessage) {
            switch (loopStep(loop, msg.wParam)) {
            case Step::Run: runRequest(msg.wParam, reinterpret_cast<void*>(msg.lParam), true); break;
            case Step::Ignore: break;
            case Step::LeaveAndRepost:
                PostThreadMessageA(g.guiThreadId.load(), kRequestMessage, msg.wParam, 0);
                return {};
            case Step::Leave: return {};
            case Step::Dispatch:
                // The quit message is already posted again for the main loop.
                if (const LoopEnd inner = runLoop(Loop::FastDispatch); inner.quit) return inner;
                break;
            }
            continue;
        }
        if (p.fullDispatch)
            dispatchLoopMessage(msg);
        else
            DispatchMessageA(&msg);  // a 0x8001 sent to some window by mistake: handed on as usual
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
        if (posted) runLoop(Loop::FastRequests);
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
    if (posted) SetEvent(g.requestDone.get());
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
    g.requestWindow.reset(CreateWindowExA(0, kRequestClass, kRequestClass, 0, 0, 0, 0, 0, nullptr,
                                          nullptr, g.instance, nullptr));
    return static_cast<bool>(g.requestWindow);
}

void cleanUp()
{
    if (g.cleanedUp.exchange(true)) return;
    if (g.componentShutdown) g.componentShutdown();
    detail::cleanupWindowState();
    detail::cleanupEvents();
    g.requestDone.reset();
    g.requestWindow.reset();
    UnregisterClassA(kRequestClass, g.instance);
    if (g.oleInitialised) OleUninitialize();
}

void closeThreadHandles()
{
    g.programThread.reset();
    g.guiThreadHandle.reset();
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
    g.requestDone.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));

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
    g.programThread.reset(CreateThread(nullptr, 0, programThreadRoutine, nullptr, CREATE_SUSPENDED,
                                       &programId));
    if (!g.programThread) ExitProcess(1);
    g.programThreadId.store(programId);
    HANDLE guiThread = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &guiThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    g.guiThreadHandle.reset(guiThread);
    ResumeThread(g.programThread.get());

    // 9. The message loop.
    const int exitCode = runLoop(Loop::Main).code;
    // The program thread posted the quit message and is ending. A quit
    // from elsewhere must not hang the process on a program still waiting.
    if (!g.fastMode.load() && WaitForSingleObject(g.programThread.get(), 10000) == WAIT_TIMEOUT)
        TerminateThread(g.programThread.get(), 0);
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
    return SendMessageA(g.requestWindow.get(), kRequestMessage, code, reinterpret_cast<LPARAM>(block));
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
    if (wait) WaitForSingleObject(g.requestDone.get(), INFINITE);
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
    return g.programThread.get();
}

HWND requestWindow()
{
    return g.requestWindow.get();
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

void drainQueue()
{
    runLoop(Loop::Drain);
}

void endFromGuiThread()
{
    HANDLE thread = g.programThread.get();
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
            const OwnedHandle t(OpenThread(SYNCHRONIZE, FALSE, threadId));
            if (!t || WaitForSingleObject(t.get(), 0) == WAIT_OBJECT_0) return false;
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
    HANDLE t = g.programThread.get();
    if (t && GetCurrentThreadId() != g.programThreadId.load()) SuspendThread(t);
}

void resumeProgramThread()
{
    HANDLE t = g.programThread.get();
    if (t && GetCurrentThreadId() != g.programThreadId.load()) ResumeThread(t);
}

bool processEnding()
{
    return g.cleanedUp.load();
}

HANDLE requestDoneEvent()
{
    return g.requestDone.get();
}

char decimalSeparator()
{
    return g.decimalSeparator;
}

} // namespace detail
} // namespace rt
