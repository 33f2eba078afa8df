// The runtime's window procedures: the main window ("FENSTER"), the
// "DIALOG" class and the "LDIALOG" dialog. They run on the GUI thread and
// turn window messages into the event variables the program reads after
// its wait.
#include <windows.h>
#include <commctrl.h>
#include <cstdlib>
#include "runtime/core_internal.h"
#include "runtime/errors.h"
#include "runtime/events.h"
#include "runtime/internal.h"

namespace rt::detail {
namespace {

Handle handleOf(HWND w)
{
    return static_cast<Handle>(reinterpret_cast<std::intptr_t>(w));
}

bool classIs(HWND w, const char* name)
{
    char buf[64] = {};
    GetClassNameA(w, buf, sizeof(buf));
    return lstrcmpiA(buf, name) == 0;
}

// Move and size loop: the program is held while the user drags, so it never
// sees a window half moved. One loop at a time (the GUI thread is inside it).
bool g_programHeld = false;
SIZE g_sizeAtLoopStart{};

SIZE windowSize(HWND w)
{
    RECT rc{};
    GetWindowRect(w, &rc);
    return {rc.right - rc.left, rc.bottom - rc.top};
}

void enterMoveSize(HWND w)
{
    g_sizeAtLoopStart = windowSize(w);
    if (!g_programHeld) {
        suspendProgramThread();
        g_programHeld = true;
    }
}

void exitMoveSize(HWND w, bool dialogClass)
{
    if (g_programHeld) {
        resumeProgramThread();
        g_programHeld = false;
    }
    const SIZE now = windowSize(w);
    if (now.cx != g_sizeAtLoopStart.cx || now.cy != g_sizeAtLoopStart.cy) {
        ev.eventKind = EvSize;
        if (dialogClass) ev.lastMessage = 160;
        // Set, not pulsed: the program may be held until just now.
        setEventArrived();
    } else if (ev.painted.load()) {
        ev.menuItem = 0;
        ev.keyCode = 0;
        ev.mouseX = 0;
        ev.mouseY = 0;
        setEventArrived();
    }
}

// The dialog manager asks for the default button when Return is pressed in
// a window it routes keys for.
bool returnKeyQuery(HWND w, UINT message)
{
    if (message != DM_GETDEFID || !(GetKeyState(VK_RETURN) & 0x8000)) return false;
    HWND focus = GetFocus();
    if (focus && focus != w) {
        if (HWND next = GetWindow(focus, GW_HWNDNEXT)) SetFocus(next);
    }
    ev.eventKind = EvReturn;
    pulseEventArrived();
    return true;
}

// The runtime moves a scroll bar's thumb itself and reports the end of
// scrolling as a command event.
void scroll(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND target = reinterpret_cast<HWND>(lParam);
    int bar = SB_CTL;
    if (!target) {
        target = w;
        bar = message == WM_HSCROLL ? SB_HORZ : SB_VERT;
    }
    int minPos = 0, maxPos = 0;
    GetScrollRange(target, bar, &minPos, &maxPos);
    int pos = GetScrollPos(target, bar);
    const int page = std::abs(maxPos - minPos) / 10;
    switch (LOWORD(wParam)) {
    case SB_LINEUP:
        if (pos != 0) --pos;
        break;
    case SB_LINEDOWN:
        if (pos < maxPos) ++pos;
        break;
    case SB_PAGEUP: pos = pos - page < minPos ? minPos : pos - page; break;
    case SB_PAGEDOWN: pos = pos + page > maxPos ? maxPos : pos + page; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: pos = static_cast<short>(HIWORD(wParam)); break;
    case SB_TOP: pos = minPos; break;
    case SB_BOTTOM: pos = maxPos; break;
    case SB_ENDSCROLL:
        ev.eventKind = EvCommand;
        pulseEventArrived();
        return;
    default: return;
    }
    SetScrollPos(target, bar, pos, TRUE);
}

// WM_COMMAND of the main window; returns true when it is consumed.
bool command(WPARAM wParam, LPARAM lParam)
{
    const bool dialogMode = mainDialogMode();
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    if (messageMode() != 0 || !dialogMode) {
        ev.menuItem = -id;
        ev.commandId = id;
    }
    if (control) {
        switch (code) {
        case 0:  // clicked
            ev.clickedControl = handleOf(control);
            ev.focusRecord = handleOf(control);
            ev.eventKind = EvCommand;
            SetFocus(control);
            pulseEventArrived();
            return true;
        case 1:  // selection changed
        case 9:  // selection ended with OK
        case 10:  // selection ended with cancel
            ev.focusRecord = handleOf(control);
            if (dialogMode) ev.eventKind = EvSelect;
            pulseEventArrived();
            return true;
        case 2:  // double-click
            ev.eventKind = EvDoubleClick;
            pulseEventArrived();
            return true;
        case 0x100:  // focus received
        case 0x300:  // text changed
            ev.focusRecord = handleOf(control);
            [[fallthrough]];
        default:
            if (messageMode() != 0 || !dialogMode) pulseEventArrived();
            return false;
        }
    }
    if (dialogMode && code == 0 && (id & 0xFF) == 2) {
        // Cancel: from the menu, or Escape through the dialog manager.
        ev.focusRecord = 0;
        ev.eventKind = EvClose;
        ev.menuItem = -2;
    } else {
        ev.menuItem = static_cast<short>(id);
    }
    pulseEventArrived();
    return true;
}

void notify(HWND w, const NMHDR* header)
{
    const int code = static_cast<int>(header->code);
    if (code == -1249) return;
    const Handle sender = handleOf(header->hwndFrom);
    if ((code >= -552 && code <= -550) || code >= -10) {
        deliverNotification(code, sender, w);
        return;
    }
    // Without a visual-style manifest every other notification is reported.
    ev.notificationCode = code;
    ev.notificationSender = sender;
    ev.notificationFlag = 1;
    pulseEventArrived();
}

void mouseDown(HWND w, int button, LPARAM lParam)
{
    SetFocus(w);
    ev.mouseButton = button;
    ev.lastPressedButton = button;
    ev.mouseX = static_cast<short>(LOWORD(lParam));
    ev.mouseY = static_cast<short>(HIWORD(lParam));
    pulseEventArrived();
}

void childButtonPress(WPARAM wParam)
{
    const UINT what = LOWORD(wParam);
    if (what != WM_LBUTTONDOWN && what != WM_RBUTTONDOWN) return;
    ev.lastPressedButton = what == WM_LBUTTONDOWN ? 1 : 2;
    if (mainDialogMode()) {
        pulseEventArrived();
        return;
    }
    POINT pt{};
    GetCursorPos(&pt);
    HWND under = WindowFromPoint(pt);
    if (under && (classIs(under, "EDIT") || classIs(under, "SCROLLBAR"))) return;
    pulseEventArrived();
}

LRESULT mainDefault(HWND w, UINT m, WPARAM wParam, LPARAM lParam)
{
    return mainDialogMode() ? DefDlgProcA(w, m, wParam, lParam)
                            : DefWindowProcA(w, m, wParam, lParam);
}

} // namespace

LRESULT CALLBACK mainWindowProc(HWND w, UINT m, WPARAM wParam, LPARAM lParam)
{
    recordLastMessage(m, w, wParam, lParam);
    if (takeUserMessage(w, m, wParam, lParam)) return m;

    switch (m) {
    case WM_COMMAND:
        if (command(wParam, lParam)) return 0;
        break;
    case WM_TIMER:
        if (wParam == 1) {
            ev.timerFlag = 1;
            pulseEventArrived();
            return 0;
        }
        break;
    case WM_LBUTTONDOWN: mouseDown(w, 1, lParam); return 0;
    case WM_RBUTTONDOWN: mouseDown(w, 2, lParam); return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP: ev.mouseButton = 0; return 0;
    case WM_MBUTTONDOWN:
        SetFocus(w);
        pulseEventArrived();
        return 0;
    case WM_PARENTNOTIFY: childButtonPress(wParam); break;
    case WM_HSCROLL:
    case WM_VSCROLL: scroll(w, m, wParam, lParam); return 0;
    case WM_HELP: {
        const auto* info = reinterpret_cast<const HELPINFO*>(lParam);
        ev.focusRecord = info ? -handleOf(static_cast<HWND>(info->hItemHandle)) : 0;
        ev.eventKind = EvHelp;
        pulseEventArrived();
        return TRUE;
    }
    case WM_ENTERSIZEMOVE: enterMoveSize(w); break;
    case WM_EXITSIZEMOVE: exitMoveSize(w, false); break;
    case WM_ERASEBKGND:
        if (HBRUSH brush = backgroundBrush()) {
            RECT rc;
            GetClientRect(w, &rc);
            FillRect(reinterpret_cast<HDC>(wParam), &rc, brush);
            return 1;
        }
        break;
    case WM_PAINT: {
        const LRESULT r = mainDefault(w, m, wParam, lParam);
        ev.painted = true;
        setEventArrived();
        return r;
    }
    case WM_SIZE:
        if (wParam <= SIZE_MAXIMIZED) {
            ev.eventKind = EvSize;
            pulseEventArrived();
        }
        break;
    case WM_ACTIVATE:
        if (mainDialogMode()) {
            if (LOWORD(wParam) != WA_INACTIVE)
                setModelessDialog(w);
            else if (modelessDialog() == w)
                setModelessDialog(nullptr);
        }
        break;
    case WM_SETFOCUS: ev.focusRecord = handleOf(w); break;
    case WM_CLOSE:
        if (mainDialogMode()) {
            SetFocus(w);
            ev.eventKind = EvClose;
            ev.menuItem = -2;
            pulseEventArrived();
            return 0;
        }
        break;
    case WM_DESTROY:
        if (w == mainHwnd()) {
            releaseMainDrawingObjects();
            forgetTimer();
            forgetMainWindow(w);
            if (!processEnding()) endFromGuiThread();
        }
        break;
    case WM_NOTIFY:
        if (lParam) notify(w, reinterpret_cast<const NMHDR*>(lParam));
        break;
    default:
        if (returnKeyQuery(w, m)) return 0;
        break;
    }
    return mainDefault(w, m, wParam, lParam);
}

LRESULT CALLBACK dialogWindowProc(HWND w, UINT m, WPARAM wParam, LPARAM lParam)
{
    recordLastMessage(m, w, wParam, lParam);
    if (takeUserMessage(w, m, wParam, lParam)) return m;
    switch (m) {
    case WM_ENTERSIZEMOVE: enterMoveSize(w); break;
    case WM_EXITSIZEMOVE: exitMoveSize(w, true); break;
    default:
        if (returnKeyQuery(w, m)) return 0;
        break;
    }
    return DefWindowProcA(w, m, wParam, lParam);
}

INT_PTR CALLBACK ldialogProc(HWND w, UINT m, WPARAM wParam, LPARAM lParam)
{
    recordLastMessage(m, w, wParam, lParam);
    if (takeUserMessage(w, m, wParam, lParam)) {
        SetWindowLongPtrA(w, DWLP_MSGRESULT, static_cast<LONG_PTR>(m));
        return TRUE;
    }
    switch (m) {
    case WM_INITDIALOG: return TRUE;
    case WM_ENTERSIZEMOVE: enterMoveSize(w); return FALSE;
    case WM_EXITSIZEMOVE: exitMoveSize(w, false); return FALSE;
    case WM_ACTIVATE:
        // Tab and the other dialog keys work in the active runtime dialog.
        if (LOWORD(wParam) != WA_INACTIVE)
            setModelessDialog(w);
        else if (modelessDialog() == w)
            setModelessDialog(nullptr);
        return FALSE;
    case WM_DESTROY:
        if (modelessDialog() == w) setModelessDialog(nullptr);
        return FALSE;
    default:
        if (returnKeyQuery(w, m)) {
            SetWindowLongPtrA(w, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        return FALSE;
    }
}

} // namespace rt::detail
