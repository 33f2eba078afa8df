// Event variables, the user-message registry, the notification queue, the
// two waits and the timer.
#include "runtime/events.h"

#include <algorithm>
#include <deque>
#include <vector>
#include "runtime/core_internal.h"
#include "runtime/errors.h"
#include "runtime/handles.h"
#include "runtime/internal.h"
#include "runtime/process.h"

namespace rt {
namespace detail {
EventVars ev;
}

namespace {
using detail::ev;

// Made in the start sequence before the program thread runs, closed in the
// clean-up after it has gone.
OwnedHandle g_messageProcessed;  // auto reset, pulsed by the message loop
OwnedHandle g_eventArrived;      // auto reset, set or pulsed by window procedures
OwnedHandle g_programWaiting;    // manual reset, set during the input wait

// The runtime's critical section: guards the registry and the queue, which
// the program thread changes while window procedures read them.
struct Lock {
    Lock();
    ~Lock();
};
CRITICAL_SECTION g_section;
std::atomic<bool> g_sectionReady{false};
Lock::Lock()
{
    if (g_sectionReady.load()) EnterCriticalSection(&g_section);
}
Lock::~Lock()
{
    if (g_sectionReady.load()) LeaveCriticalSection(&g_section);
}

std::vector<std::uint32_t> g_registry;
std::atomic<bool> g_registryNotEmpty{false};

struct QueuedNotification {
    Handle sender;
    int code;
    Handle window;
};
constexpr std::size_t kMaxQueued = 2;  // six entries of three
std::deque<QueuedNotification> g_queue;
std::atomic<bool> g_queueing{false};

std::atomic<bool> g_timerRunning{false};
std::atomic<Handle> g_timerWindow{0};

Handle handleOf(HWND w)
{
    return static_cast<Handle>(reinterpret_cast<std::intptr_t>(w));
}

HWND hwnd(Handle h)
{
    return static_cast<HWND>(hwndOf(h));
}

void clearForWait(bool inputWait)
{
    ev.menuItem = 0;
    ev.clickedControl = 0;
    ev.eventKind = 0;
    ev.keyCode = 0;
    ev.userMessage = 0;
    ev.mouseX = 0;
    ev.mouseY = 0;
    ev.notificationFlag = 0;
    if (inputWait) {
        ev.mouseButton = 0;
        ev.userWParam = 0;
        ev.userLParam = 0;
    }
}

void finishWait()
{
    const Handle focus = handleOf(GetFocus());
    if (ev.eventKind.load() != EvHelp) ev.focusRecord = focus;
    ev.focusRecord2 = focus;
}

} // namespace

namespace detail {

HANDLE messageProcessedEvent()
{
    return g_messageProcessed.get();
}

HANDLE eventArrivedEvent()
{
    return g_eventArrived.get();
}

HANDLE programWaitingEvent()
{
    return g_programWaiting.get();
}

void pulseEventArrived()
{
    if (g_eventArrived) PulseEvent(g_eventArrived.get());
}

void setEventArrived()
{
    if (g_eventArrived) SetEvent(g_eventArrived.get());
}

bool initEvents()
{
    g_eventArrived.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    g_messageProcessed.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    g_programWaiting.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    InitializeCriticalSection(&g_section);
    g_sectionReady = true;
    return g_eventArrived && g_messageProcessed && g_programWaiting;
}

void cleanupEvents()
{
    g_eventArrived.reset();
    g_messageProcessed.reset();
    g_programWaiting.reset();
    if (g_sectionReady.exchange(false)) DeleteCriticalSection(&g_section);
}

void recordLastMessage(UINT message, HWND window, WPARAM wParam, LPARAM lParam)
{
    ev.lastMessage = message;
    ev.lastWindow = handleOf(window);
    ev.lastWParam = static_cast<std::uint32_t>(wParam);
    ev.lastLParam = static_cast<std::uint32_t>(lParam);
}

bool takeUserMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!g_registryNotEmpty.load()) return false;
    bool found;
    {
        Lock lock;
        found = std::find(g_registry.begin(), g_registry.end(), message) != g_registry.end();
    }
    if (!found) return false;
    ev.userMessage = message;
    ev.userWParam = static_cast<std::uint32_t>(wParam);
    ev.userLParam = static_cast<std::uint32_t>(lParam);
    recordLastMessage(message, window, wParam, lParam);
    pulseEventArrived();
    return true;
}

void deliverNotification(int code, Handle sender, HWND window)
{
    ev.notificationCode = code;
    ev.notificationSender = sender;
    ev.notificationFlag = 1;
    bool waiting = false;
    {
        // Under the lock, so that a program entering its wait either sees
        // the queued entry or is already marked as waiting.
        Lock lock;
        waiting = g_programWaiting && WaitForSingleObject(g_programWaiting.get(), 0) == WAIT_OBJECT_0;
        if (!waiting && g_queueing.load() && g_queue.size() < kMaxQueued)
            g_queue.push_back({sender, code, handleOf(window)});
    }
    if (waiting) setEventArrived();
}

void forgetTimer()
{
    g_timerRunning = false;
    g_timerWindow = 0;
}

} // namespace detail

void registerUserMessages(std::initializer_list<std::uint32_t> numbers)
{
    Lock lock;
    for (std::uint32_t n : numbers) {
        if (n == 0)
            g_registry.clear();
        else if (std::find(g_registry.begin(), g_registry.end(), n) == g_registry.end())
            g_registry.push_back(n);
    }
    g_registryNotEmpty = !g_registry.empty();
}

void waitNextEvent()
{
    clearForWait(false);
    {
        Lock lock;
        g_queue.clear();
    }
    if (onGuiThread()) {
        detail::drainQueue();
    } else {
        if (fastMode()) postRequest(ReqFastDispatch, nullptr, false);
        WaitForSingleObject(g_messageProcessed.get(), INFINITE);
        if (fastMode()) postRequest(ReqFastDispatchEnd, nullptr, false);
    }
    finishWait();
}

std::uint32_t waitInputEvent()
{
    clearForWait(true);
    g_queueing = true;
    bool taken = false;
    const bool gui = onGuiThread();
    {
        Lock lock;
        if (!g_queue.empty()) {
            const QueuedNotification n = g_queue.front();
            g_queue.pop_front();
            ev.notificationFlag = 1;
            ev.notificationCode = n.code;
            ev.notificationSender = n.sender;
            ev.lastWindow = n.window;
            taken = true;
        } else if (!gui && g_programWaiting) {
            SetEvent(g_programWaiting.get());
        }
    }
    if (!taken) {
        if (gui) {
            detail::drainQueue();
        } else {
            if (fastMode()) postRequest(ReqFastDispatch, nullptr, false);
            WaitForSingleObject(g_eventArrived.get(), INFINITE);
            ResetEvent(g_programWaiting.get());
            if (fastMode()) postRequest(ReqFastDispatchEnd, nullptr, false);
        }
    }
    finishWait();
    return ev.lastMessage.load();
}

int eventKind() { return ev.eventKind.load(); }
Handle clickedControl() { return ev.clickedControl.load(); }
int menuItem() { return ev.menuItem.load(); }
int commandId() { return ev.commandId.load(); }
std::uint32_t userMessage() { return ev.userMessage.load(); }
std::uint32_t userWParam() { return ev.userWParam.load(); }
std::uint32_t userLParam() { return ev.userLParam.load(); }
int keyCode() { return ev.keyCode.load(); }
int mouseButton() { return ev.mouseButton.load(); }
int lastPressedButton() { return ev.lastPressedButton.load(); }
int mouseX() { return ev.mouseX.load(); }
int mouseY() { return ev.mouseY.load(); }
std::uint32_t lastMessage() { return ev.lastMessage.load(); }
Handle lastMessageWindow() { return ev.lastWindow.load(); }
std::uint32_t lastWParam() { return ev.lastWParam.load(); }
std::uint32_t lastLParam() { return ev.lastLParam.load(); }
int takeTimerFlag() { return ev.timerFlag.exchange(0); }
int takeNotificationFlag() { return ev.notificationFlag.exchange(0); }
int notificationCode() { return ev.notificationCode.load(); }
Handle notificationSender() { return ev.notificationSender.load(); }

bool hasFocus(Handle window)
{
    if (window == 0) return false;
    return ev.focusRecord.load() == window || handleOf(GetFocus()) == window;
}

void setFocus(Handle window)
{
    ev.focusRecord = window;
    detail::runOnGui([window] { SetFocus(hwnd(window)); });
}

void startTimer(int milliseconds)
{
    const Handle main = mainWindow();
    if (main == 0) {
        raiseWarning(237);
        return;
    }
    const UINT interval = static_cast<UINT>(milliseconds < 0 ? 0 : milliseconds);
    // Timers belong to the thread that owns their window.
    detail::runOnGui([main, interval] {
        if (g_timerRunning.load()) KillTimer(hwnd(g_timerWindow.load()), 1);
        SetTimer(hwnd(main), 1, interval, nullptr);
        g_timerWindow = main;
        g_timerRunning = true;
    });
}

void stopTimer()
{
    if (!g_timerRunning.load()) {
        raiseWarning(250, std::string("KILLTIMER"));
        return;
    }
    detail::runOnGui([] {
        KillTimer(hwnd(g_timerWindow.load()), 1);
        detail::forgetTimer();
    });
}

} // namespace rt
