// rtcore_probe: a program on the runtime whose main routine runs one
// scenario (named by the first parameter) against real windows under Wine
// and checks the outcome with plain Win32 calls. Prints "FAIL ..." lines for
// failed checks and ends with "ALL OK" and exit code 0 when all held.
#include <windows.h>
#include <commctrl.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include "runtime/core_internal.h"
#include "runtime/internal.h"
#include "runtime/runtime.h"

namespace {

int g_failures = 0;

void check(bool ok, const char* what, int line)
{
    if (ok) return;
    std::printf("FAIL line %d: %s\n", line, what);
    std::fflush(stdout);
    ++g_failures;
}
#define CHECK(cond) check((cond), #cond, __LINE__)

HWND H(rt::Handle h)
{
    return static_cast<HWND>(rt::hwndOf(h));
}

std::string classOf(rt::Handle h)
{
    char buf[128] = {};
    GetClassNameA(H(h), buf, sizeof(buf));
    return buf;
}

DWORD styleOf(rt::Handle h)
{
    return static_cast<DWORD>(GetWindowLongA(H(h), GWL_STYLE));
}

DWORD exStyleOf(rt::Handle h)
{
    return static_cast<DWORD>(GetWindowLongA(H(h), GWL_EXSTYLE));
}

// Styles as passed to CreateWindowEx, seen by a CBT hook on the GUI thread
// (some classes change their style bits afterwards, e.g. list boxes drop
// the scroll bar bits while they have nothing to scroll).
struct Created {
    DWORD style;
    DWORD exStyle;
};
std::mutex g_createdMutex;
std::map<HWND, Created> g_created;

LRESULT CALLBACK creationHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* cs = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        std::lock_guard lock(g_createdMutex);
        g_created[reinterpret_cast<HWND>(wParam)] = {static_cast<DWORD>(cs->style), cs->dwExStyle};
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void watchCreation()
{
    SetWindowsHookExA(WH_CBT, creationHook, nullptr, rt::guiThreadId());
}

Created created(rt::Handle h)
{
    std::lock_guard lock(g_createdMutex);
    const auto it = g_created.find(H(h));
    return it == g_created.end() ? Created{0xFFFFFFFF, 0xFFFFFFFF} : it->second;
}

// Ends the process at once with a failure that no check could report.
[[noreturn]] void fail(const std::string& what, int code = 1)
{
    std::printf("FAIL %s\n", what.c_str());
    std::fflush(stdout);
    ExitProcess(code);
}

rt::detail::CreateWindowBlock windowBlock(const char* cls, const char* text, DWORD style,
                                          HWND parent = nullptr)
{
    rt::detail::CreateWindowBlock b;
    b.className = cls;
    b.text = text;
    b.style = style;
    b.parent = parent;
    return b;
}

[[noreturn]] void finish()
{
    std::printf(g_failures ? "%d check(s) failed\n" : "ALL OK\n", g_failures);
    std::fflush(stdout);
    if (g_failures) ExitProcess(1);
    rt::endProgram();
}

rt::Handle control(const char* type, rt::Handle parent, const char* text, int x, int y, int w, int h)
{
    return rt::create(type, {rt::Value(parent), rt::Value(text), rt::Value(x), rt::Value(y),
                             rt::Value(w), rt::Value(h)});
}

// Runs `action` on a helper thread each time the program thread blocks in
// the wait for an input event, until the object goes out of scope.
class WhileWaiting {
public:
    explicit WhileWaiting(std::function<void()> action) : action_(std::move(action))
    {
        thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
    }
    ~WhileWaiting()
    {
        stop_ = true;
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }

private:
    static DWORD WINAPI run(LPVOID p)
    {
        auto* self = static_cast<WhileWaiting*>(p);
        while (!self->stop_) {
            if (WaitForSingleObject(rt::detail::programWaitingEvent(), 50) != WAIT_OBJECT_0) continue;
            if (self->stop_) break;
            self->action_();
            Sleep(30);  // pacing: the program leaves its wait before the next round
        }
        return 0;
    }
    std::function<void()> action_;
    std::atomic<bool> stop_{false};
    HANDLE thread_;
};

// Waits for input events until `done` holds after one (at most `rounds`).
bool waitInputUntil(const std::function<bool()>& done, int rounds = 200)
{
    for (int i = 0; i < rounds; ++i) {
        rt::waitInputEvent();
        if (done()) return true;
    }
    return false;
}

// Input made by `action` each time the program waits, until `done` holds.
bool inputUntil(std::function<void()> action, const std::function<bool()>& done)
{
    WhileWaiting input(std::move(action));
    return waitInputUntil(done);
}

void click(rt::Handle button) { SendMessageA(H(button), BM_CLICK, 0, 0); }
bool commandEvent() { return rt::eventKind() == rt::EvCommand; }

// Runs `f` on a fresh thread and waits for it (input from "another thread").
DWORD WINAPI runFunction(LPVOID p)
{
    (*static_cast<std::function<void()>*>(p))();
    return 0;
}

void onOtherThread(std::function<void()> f)
{
    HANDLE t = CreateThread(nullptr, 0, runFunction, &f, 0, nullptr);
    WaitForSingleObject(t, 10000);
    CloseHandle(t);
}

// --- Scenarios ---------------------------------------------------------

// Hand-off: posted and sent requests run on the GUI thread; a posted one
// returns only after request-done. The parameters arrive split.
void handoff()
{
    // A posted request first of all: it must not be lost.
    rt::detail::CreateWindowBlock posted = windowBlock("STATIC", "posted", WS_POPUP);
    rt::postRequest(rt::ReqCreateWindow, &posted);
    CHECK(posted.result != nullptr);
    CHECK(GetWindowThreadProcessId(posted.result, nullptr) == rt::guiThreadId());
    CHECK(rt::guiThreadId() != GetCurrentThreadId());

    rt::detail::CreateWindowBlock sent = windowBlock("BUTTON", "sent", WS_CHILD, posted.result);
    rt::sendRequest(rt::ReqCreateWindow, &sent);
    CHECK(sent.result != nullptr);
    CHECK(GetWindowThreadProcessId(sent.result, nullptr) == rt::guiThreadId());
    CHECK(GetParent(sent.result) == posted.result);
    // Children created without an identifier take consecutive running ones.
    rt::detail::CreateWindowBlock next = sent;
    next.result = nullptr;
    rt::sendRequest(rt::ReqCreateWindow, &next);
    CHECK(GetDlgCtrlID(sent.result) >= 100);
    CHECK(GetDlgCtrlID(next.result) == GetDlgCtrlID(sent.result) + 1);

    // The posted form waits for the GUI thread to finish (request-done).
    int ms = 300;
    const DWORD t0 = GetTickCount();
    rt::postRequest(rt::ReqSleep, &ms);
    CHECK(GetTickCount() - t0 >= 250);

    rt::detail::DestroyBlock d{sent.result, FALSE};
    rt::sendRequest(rt::ReqDestroyWindow, &d);
    CHECK(d.result != FALSE);
    CHECK(!IsWindow(sent.result));

    // A wait called on the GUI thread drains the queue instead of blocking.
    rt::detail::runOnGui([] {
        rt::waitNextEvent();
        rt::waitInputEvent();
    });

    // Command line: rtcore_probe handoff "a b" c
    CHECK(rt::paramCount() == 3);
    CHECK(rt::param(1) == "handoff");
    CHECK(rt::param(2) == "a b");
    CHECK(rt::param(3) == "c");
    finish();
}

// The program ends with fast mode still on: the process must end with 0.
void fastEnd()
{
    rt::setFastMode(true);
    CHECK(rt::fastMode());
    rt::detail::CreateWindowBlock sent = windowBlock("STATIC", "", WS_POPUP);
    rt::sendRequest(rt::ReqCreateWindow, &sent);
    CHECK(sent.result != nullptr);
    rt::detail::CreateWindowBlock posted = windowBlock("STATIC", "", WS_POPUP);
    rt::postRequest(rt::ReqCreateWindow, &posted);
    CHECK(posted.result != nullptr);

    // In fast mode ordinary messages flow only while the program waits.
    rt::setWindowPosition(10, 10, 300, 200);
    const rt::Handle button = control("button", rt::mainWindow(), "Fast", 10, 10, 80, 24);
    CHECK(inputUntil([button] { click(button); }, commandEvent));
    CHECK(rt::clickedControl() == button);
    finish();  // fast mode is still on
}

void endAtOnce()
{
    rt::endProgram();
}

void returnFromMain() {}

// Windows and controls created through the runtime, checked with Win32.
void windows()
{
    watchCreation();
    rt::setErrorLevel(-1);  // reports are checked through the last report
    rt::setWindowPosition(20, 20, 500, 400);
    const rt::Handle main = rt::mainWindow();
    CHECK(main != 0);
    CHECK(classOf(main) == "FENSTER");
    CHECK(created(main).style == 0x14CF2000 && created(main).exStyle == 0x100);
    CHECK(rt::getText(main) == "Marlowrun-Fenster");
    CHECK(GetMenu(H(main)) != nullptr);
    CHECK(GetWindowThreadProcessId(H(main), nullptr) == rt::guiThreadId());
    const std::string title = "rtcore windows " + std::to_string(GetCurrentProcessId());
    rt::setWindowTitle(title);
    CHECK(rt::getText(main) == title);
    CHECK(rt::findWindow("RTCORE WINDOWS " + std::to_string(GetCurrentProcessId())) == main);
    CHECK(rt::findWindow("no such window title prefix 93781") == 0);

    // Negative position: warning 223, the window still moves.
    rt::setWindowPosition(-5, 30, 520, 410);
    CHECK(rt::lastReportNumber() == 223);
    RECT rc{};
    GetWindowRect(H(main), &rc);
    CHECK(rc.left == -5 && rc.top == 30 && rc.right - rc.left == 520);

    // Typed controls: class, style, extended style, parent, text.
    struct Row {
        const char* type;
        const char* text;
        int height;
        const char* cls;
        DWORD style;
        DWORD exStyle;
    };
    const Row rows[] = {
        {"button", "Knopf", 24, "Button", 0x50010000, 0},
        {"defbutton", "Standard", 24, "Button", 0x50010001, 0},
        {"checkbox", "Haken", 20, "Button", 0x50010003, 0},
        {"radiobutton", "Radio", 20, "Button", 0x50010009, 0},
        {"text", "Beschriftung", 18, "Static", 0x50000000, 0},
        {"groupbox", "Gruppe", 60, "Button", 0x50020007, 0},
        {"edit", "Eingabe", 22, "Edit", 0x50010080, 0x200},
        {"edit", "geheim", -22, "Edit", 0x500100A0, 0x200},
        {"multiedit", "mehr", 60, "Edit", 0x50311144, 0x200},
        {"multiedit", "mehr", -60, "Edit", 0x50211144, 0x200},
        {"listbox", "", 60, "ListBox", 0x503101C1, 0x200},
        {"listbox", "3", 60, "ListBox", 0x503101CB, 0x200},
        {"sortedlistbox", "", 60, "ListBox", 0x50B101C3, 0x200},
        {"choicebox", "", 120, "ComboBox", 0x54210703, 0},
        {"choicebox", "2", 120, "ComboBox", 0x54210602, 0},
        {"choicebox", "0", 120, "ComboBox", 0x54210603, 0},
        {"hscroll", "", 16, "ScrollBar", 0x50010000, 0},
        {"vscroll", "", 60, "ScrollBar", 0x50010001, 0},
    };
    for (const Row& r : rows) {
        const rt::Handle h = control(r.type, main, r.text, 10, 10, 100, r.height);
        const std::string what = std::string(r.type) + " '" + r.text + "'";
        check(h != 0, (what + " created").c_str(), __LINE__);
        check(lstrcmpiA(classOf(h).c_str(), r.cls) == 0, (what + " class " + classOf(h)).c_str(), __LINE__);
        char buf[160];
        std::snprintf(buf, sizeof(buf), "%s style %08lX/%08lX want %08lX/%08lX", what.c_str(),
                      static_cast<unsigned long>(created(h).style), static_cast<unsigned long>(created(h).exStyle),
                      static_cast<unsigned long>(r.style), static_cast<unsigned long>(r.exStyle));
        check(created(h).style == r.style && created(h).exStyle == r.exStyle, buf, __LINE__);
        check(GetParent(H(h)) == H(main), (what + " parent").c_str(), __LINE__);
        RECT cr{};
        GetWindowRect(H(h), &cr);
        if (std::strcmp(r.cls, "ComboBox") != 0)
            check(cr.bottom - cr.top == (r.height < 0 ? -r.height : r.height), (what + " height").c_str(), __LINE__);
        const bool plainText = !std::strcmp(r.cls, "Button") || !std::strcmp(r.cls, "Static") ||
                               (r.height > 0 && !std::strcmp(r.type, "edit"));
        if (plainText)
            check(rt::getText(h) == r.text, (what + " text").c_str(), __LINE__);
    }

    // Empty control: empty text. Password edit keeps its text readable here.
    const rt::Handle empty = control("edit", main, "", 10, 10, 100, 20);
    CHECK(rt::getText(empty).empty());
    const rt::Handle secret = control("edit", main, "abc", 10, 40, 100, -20);
    CHECK(SendMessageA(H(secret), EM_GETPASSWORDCHAR, 0, 0) != 0);

    // Fonts: a handle set as current font goes onto every new control; 0
    // leaves the system font.
    const rt::Handle font = rt::create("font", {rt::Value("Tahoma"), rt::Value(13), rt::Value(0),
                                                rt::Value(1), rt::Value(0), rt::Value(0)});
    CHECK(font != 0);
    LOGFONTA lf{};
    CHECK(GetObjectA(reinterpret_cast<HFONT>(rt::hwndOf(font)), sizeof(lf), &lf) != 0);
    CHECK(lf.lfWeight == 700 && lf.lfHeight == 13 && !std::strcmp(lf.lfFaceName, "Tahoma"));
    rt::setCurrentFont(font);
    const rt::Handle withFont = control("button", main, "Fett", 10, 70, 80, 24);
    CHECK(SendMessageA(H(withFont), WM_GETFONT, 0, 0) == reinterpret_cast<LRESULT>(rt::hwndOf(font)));
    rt::setCurrentFont(0);
    const rt::Handle noFont = control("button", main, "Normal", 10, 100, 80, 24);
    CHECK(SendMessageA(H(noFont), WM_GETFONT, 0, 0) == 0);

    // Explicit class, style, identifier and extended style.
    const rt::Handle lv = rt::createControl("SysListView32", "", 0x50000001 /* report */, 200, 10,
                                            200, 100, main, 4711, 0x200);
    CHECK(lv != 0);
    CHECK(GetDlgCtrlID(H(lv)) == 4711);
    CHECK((exStyleOf(lv) & 0x200) == 0x200);

    // Argument and name errors.
    CHECK(rt::create("button", {rt::Value(main), rt::Value("x"), rt::Value(1)}) == 0);
    CHECK(rt::lastReportNumber() == 212);
    CHECK(rt::create("Wolke", {}) == 0);
    CHECK(rt::lastReportNumber() == 101);
    CHECK(rt::lastReportArgument() == "WOLKE");
    rt::registerCreateProc("Zaehler", [](const std::vector<rt::Value>& a) {
        return static_cast<std::int32_t>(a.size() * 10 + a[0].i);
    });
    CHECK(rt::create("ZAEHLER", {rt::Value(3), rt::Value(4)}) == 23);

    // String list into an edit: lines joined with CR LF, none at the end.
    rt::stringListClear();
    const rt::Handle multi = control("multiedit", main, "", 10, 130, 150, 80);
    CHECK(rt::stringListMoveTo(multi) == 0);  // nothing in use yet
    rt::stringListAdd("eins");
    rt::stringListAdd("zwei");
    rt::stringListAdd("drei");
    CHECK(rt::stringListMoveTo(multi) == 3);
    CHECK(rt::getText(multi) == "eins\r\nzwei\r\ndrei");
    const rt::Handle list = control("listbox", main, "", 170, 130, 100, 80);
    CHECK(rt::stringListMoveTo(list) == 3);
    CHECK(rt::listCount(list) == 3);
    CHECK(rt::listItemText(list, 2) == "drei");
    const rt::Handle combo = control("choicebox", main, "2", 280, 130, 100, 120);
    CHECK(rt::stringListMoveTo(combo) == 3);
    CHECK(rt::listItemText(combo, 0) == "eins");  // unsorted with flags 2
    rt::stringListMoveTo(lv);
    CHECK(rt::listCount(lv) == 3);
    const rt::Handle button = control("button", main, "x", 0, 0, 10, 10);
    CHECK(rt::stringListMoveTo(button) == 0);
    CHECK(rt::lastReportNumber() == 280);

    // List operations on the three list classes.
    const rt::Handle sortedCombo = control("choicebox", main, "", 10, 220, 100, 120);
    CHECK(rt::listAdd(sortedCombo, "b") == 0);
    CHECK(rt::listAdd(sortedCombo, "a") == 0);  // sorted: goes first
    CHECK(rt::listSelect(sortedCombo, -1, "b") == 1);
    CHECK(rt::listSelection(sortedCombo) == 1);
    CHECK(rt::listDelete(sortedCombo, 0) == 1);
    CHECK(rt::listItemText(sortedCombo, 0) == "b");
    CHECK(rt::listItemText(sortedCombo, 5).empty());
    CHECK(rt::listSelect(list, -1, "zw") == 1);
    CHECK(rt::listSelection(list) == 1);
    const rt::Handle multiList = control("listbox", main, "2", 120, 220, 100, 80);
    rt::listAdd(multiList, "rot");
    rt::listAdd(multiList, "gruen");
    rt::listAdd(multiList, "blau");
    CHECK(rt::listSelect(multiList, -1, "gr") == 1);
    CHECK(SendMessageA(H(multiList), LB_GETSEL, 1, 0) > 0);
    rt::setSwitch("listdel", rt::Value(";"));
    LVCOLUMNA col{};
    col.mask = LVCF_WIDTH;
    col.cx = 60;
    SendMessageA(H(lv), LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&col));
    SendMessageA(H(lv), LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&col));
    const int row = rt::listAdd(lv, "links;rechts");
    CHECK(row == 3);
    CHECK(rt::listItemText(lv, 3) == "links");
    char sub[32] = {};
    LVITEMA item{};
    item.iSubItem = 1;
    item.pszText = sub;
    item.cchTextMax = sizeof(sub);
    SendMessageA(H(lv), LVM_GETITEMTEXTA, 3, reinterpret_cast<LPARAM>(&item));
    CHECK(std::string(sub) == "rechts");
    CHECK(rt::listSelect(lv, -1, "zwei") == 1);
    CHECK(rt::listSelection(lv) == 1);
    CHECK(rt::listDelete(lv, 0) != 0);
    CHECK(rt::listCount(lv) == 3);
    CHECK(rt::listCount(button) == -1);
    CHECK(rt::lastReportNumber() == 280);

    // Enable, show, destroy.
    rt::setFocus(button);
    CHECK(rt::hasFocus(button));
    rt::enable(button, false);
    CHECK(!IsWindowEnabled(H(button)));
    rt::enable(button, true);
    CHECK(IsWindowEnabled(H(button)));
    rt::show(button, SW_HIDE);
    CHECK(!IsWindowVisible(H(button)));
    CHECK(rt::show(button, SW_SHOW) == 0);  // was hidden
    CHECK(rt::destroy(button) != 0);
    CHECK(!IsWindow(H(button)));

    // A "window" is a "DIALOG" window with the main-window style, owned by
    // its parent; "dialog" is the LDIALOG template; "icon" a static icon.
    const rt::Handle win = control("window", main, "Nebenfenster", 100, 100, 200, 150);
    CHECK(classOf(win) == "DIALOG");
    CHECK(GetWindow(H(win), GW_OWNER) == H(main));
    CHECK(rt::getText(win) == "Nebenfenster");
    CHECK(GetWindowThreadProcessId(H(win), nullptr) == rt::guiThreadId());
    const rt::Handle dlg = control("dialog", main, "Dialog", 120, 120, 220, 160);
    CHECK(dlg != 0);
    CHECK(classOf(dlg) == "#32770");
    CHECK(rt::getText(dlg) == "Dialog");
    const rt::Handle icon = rt::create("icon", {rt::Value(main), rt::Value("MARLOW"), rt::Value(300),
                                                rt::Value(250)});
    CHECK(icon != 0);
    CHECK((styleOf(icon) & 0x3) == 0x3);
    CHECK(SendMessageA(H(icon), STM_GETICON, 0, 0) != 0);

    // Tooltips: one window for the process, one tool per request.
    const rt::Handle tipTarget = control("button", main, "Tipp", 10, 300, 80, 24);
    const rt::Handle tip = rt::create("tooltip", {rt::Value(main), rt::Value(tipTarget), rt::Value("Hilfe")});
    CHECK(tip != 0);
    CHECK(lstrcmpiA(classOf(tip).c_str(), "tooltips_class32") == 0);
    const rt::Handle tip2 = rt::create("tooltip", {rt::Value(main), rt::Value(withFont), rt::Value("Fett")});
    CHECK(tip2 == tip);
    CHECK(SendMessageA(H(tip), TTM_GETTOOLCOUNT, 0, 0) == 2);
    CHECK(SendMessageA(H(tip), TTM_GETMAXTIPWIDTH, 0, 0) == 300);

    // Colours: 15-bit unless "truecolor" is on.
    rt::setSwitch("truecolor", rt::Value(0));
    const std::pair<std::uint32_t, COLORREF> colours[] = {
        {31, RGB(255, 0, 0)}, {31u << 5, RGB(0, 255, 0)},   {0x7FFF, RGB(255, 255, 255)},
        {1, RGB(8, 0, 0)},    {16u << 10, RGB(0, 0, 131)}};
    for (const auto& [in, out] : colours)
        check(rt::convertColour(in) == out, ("15-bit colour " + std::to_string(in)).c_str(), __LINE__);
    rt::setSwitch("truecolor", rt::Value(1));
    CHECK(rt::convertColour(0x123456) == 0x123456);
    CHECK(rt::screenWidth() == GetSystemMetrics(SM_CXSCREEN));
    finish();
}

// Main-window style flags: 0 still has a caption and the menu; 0x10 drops
// the menu; 0x40 makes a pop-up without caption and edge.
void style(int flags)
{
    watchCreation();
    rt::setWindowStyle(flags);
    rt::setWindowPosition(10, 10, 200, 100);
    const rt::Handle main = rt::mainWindow();
    CHECK(main != 0);
    const DWORD s = styleOf(main);
    if (flags & 0x40) {
        CHECK((s & WS_POPUP) != 0);
        CHECK((s & WS_CAPTION) != WS_CAPTION);
        CHECK((created(main).exStyle & 0x100) == 0);
    } else {
        CHECK((s & WS_CAPTION) == WS_CAPTION);
        CHECK((exStyleOf(main) & 0x100) == 0x100);
    }
    CHECK((GetMenu(H(main)) != nullptr) == !(flags & 0x10));
    CHECK(((s & WS_MINIMIZEBOX) != 0) == ((flags & 2) != 0));
    CHECK(((s & WS_SYSMENU) != 0) == ((flags & 8) != 0));
    CHECK(((s & WS_THICKFRAME) != 0) == ((flags & 4) != 0));
    CHECK(((exStyleOf(main) & WS_EX_TOOLWINDOW) != 0) == ((flags & 0x400) != 0));
    // The style as created: 0x2000 plus the flag bits.
    DWORD want = (flags & 1) ? 0x12000 : 0x2000;
    if (flags & 2) want |= 0x20000;
    if (flags & 4) want |= 0x40000;
    if (flags & 8) want |= 0x80000;
    if (flags & 0x40) want = (want | 0x80000000) & ~0x00C00000u;
    CHECK(created(main).style == want);
    if (flags & 0x200) {
        // Close goes to the program: event kind 2, the window stays.
        WhileWaiting closer([main] { PostMessageA(H(main), WM_CLOSE, 0, 0); });
        CHECK(waitInputUntil([] { return rt::eventKind() == rt::EvClose; }));
        CHECK(rt::menuItem() == -2);
        CHECK(IsWindow(H(main)));
        // Cancel (Escape through the dialog manager) is a close as well; a
        // selection change is event kind 1 in dialog mode.
        SendMessageA(H(main), WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        CHECK(rt::eventKind() == rt::EvClose && rt::menuItem() == -2);
        const rt::Handle list = control("listbox", main, "", 5, 5, 80, 60);
        SendMessageA(H(main), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(H(list)), LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(H(list)));
        CHECK(rt::eventKind() == rt::EvSelect);
    }
    finish();
}

// Event waits with real input delivered by other threads.
void events()
{
    rt::setErrorLevel(0);  // warnings silent; checked through the last report
    rt::setWindowPosition(30, 30, 400, 300);
    const rt::Handle main = rt::mainWindow();
    const rt::Handle button = control("button", main, "Klick", 20, 20, 100, 30);
    const int id = GetDlgCtrlID(H(button));

    // A click: event kind 255, the clicked control, its negated identifier.
    CHECK(inputUntil([button] { click(button); }, commandEvent));
    CHECK(rt::clickedControl() == button);
    CHECK(rt::menuItem() == -id);
    CHECK(rt::commandId() == id);
    CHECK(rt::hasFocus(button));

    // Registry: 0 empties it, so 0,16,273 after another number leaves
    // exactly 16 and 273; a registered message is consumed (the procedure
    // returns its number) and a registered close keeps the window.
    rt::registerUserMessages({WM_USER + 5});
    rt::registerUserMessages({0, WM_CLOSE, WM_COMMAND});
    CHECK(SendMessageA(H(main), WM_USER + 5, 0, 0) == 0);
    CHECK(SendMessageA(H(main), WM_CLOSE, 7, 9) == WM_CLOSE);
    CHECK(IsWindow(H(main)));
    CHECK(rt::userMessage() == WM_CLOSE);
    CHECK(rt::userWParam() == 7 && rt::userLParam() == 9);
    CHECK(SendMessageA(H(main), WM_COMMAND, MAKEWPARAM(77, 0), 0) == WM_COMMAND);
    CHECK(inputUntil([main] { PostMessageA(H(main), WM_CLOSE, 0, 0); },
                     [] { return rt::userMessage() == WM_CLOSE; }));
    CHECK(IsWindow(H(main)));
    CHECK(rt::eventKind() == 0);
    // A click now arrives as the registered command message.
    CHECK(inputUntil([button] { click(button); }, [] { return rt::userMessage() == WM_COMMAND; }));
    CHECK(rt::eventKind() == 0);
    CHECK(LOWORD(rt::userWParam()) == id);
    rt::registerUserMessages({0, WM_CLOSE});

    // The wait for the next event returns after an unrelated message, with
    // the user message cleared.
    SendMessageA(H(main), WM_CLOSE, 0, 0);
    CHECK(rt::userMessage() == WM_CLOSE);
    {
        std::atomic<bool> stop{false};
        HWND w = H(main);
        std::function<void()> move = [&stop, w] {
            for (int i = 0; i < 500 && !stop; ++i) {
                PostMessageA(w, WM_MOUSEMOVE, 0, MAKELPARAM(5 + i % 7, 5));
                Sleep(20);
            }
        };
        HANDLE t = CreateThread(nullptr, 0, runFunction, &move, 0, nullptr);
        rt::waitNextEvent();
        stop = true;
        WaitForSingleObject(t, 5000);
        CloseHandle(t);
    }
    CHECK(rt::userMessage() == 0);
    rt::registerUserMessages({0});

    // Timer: started twice it runs once, with the second interval.
    rt::startTimer(5000);
    rt::startTimer(40);
    const DWORD t0 = GetTickCount();
    CHECK(waitInputUntil([] { return rt::takeTimerFlag() == 1; }, 2000));
    CHECK(GetTickCount() - t0 < 2500);
    int ticks = 0;
    const DWORD t1 = GetTickCount();
    while (GetTickCount() - t1 < 800) {
        rt::waitInputEvent();
        ticks += rt::takeTimerFlag();
    }
    CHECK(ticks >= 4);
    CHECK(ticks <= 800 / 40 + 2);
    CHECK(rt::takeTimerFlag() == 0);
    rt::stopTimer();
    CHECK(rt::lastReportNumber() != 250);
    rt::stopTimer();
    CHECK(rt::lastReportNumber() == 250);
    CHECK(rt::lastReportArgument() == "KILLTIMER");

    // Notifications while the program does not wait are queued, two at
    // most; each later input wait takes the oldest at once.
    const rt::Handle other = control("text", main, "n", 20, 60, 50, 20);
    const rt::Handle third = control("text", main, "m", 20, 90, 50, 20);
    onOtherThread([&] {
        for (rt::Handle sender : {button, other, third}) {
            NMHDR nm{H(sender), 1, static_cast<UINT>(NM_CLICK)};
            SendMessageA(H(main), WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&nm));
        }
    });
    rt::waitInputEvent();
    CHECK(rt::notificationSender() == button);
    CHECK(rt::notificationCode() == static_cast<int>(NM_CLICK));
    CHECK(rt::takeNotificationFlag() == 1);
    CHECK(rt::takeNotificationFlag() == 0);
    rt::waitInputEvent();
    CHECK(rt::notificationSender() == other);
    CHECK(inputUntil([button] { click(button); }, commandEvent));
    CHECK(rt::takeNotificationFlag() == 0);  // the third was dropped
    CHECK(rt::notificationSender() == other);

    // Code -1249 is ignored; codes outside the event range only raise the
    // flag (this program has no visual-style manifest).
    auto notifyNow = [&](int code) {
        NMHDR nm{H(third), 1, static_cast<UINT>(code)};
        SendMessageA(H(main), WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&nm));
    };
    rt::takeNotificationFlag();
    notifyNow(-1249);
    CHECK(rt::takeNotificationFlag() == 0);
    notifyNow(-520);
    CHECK(rt::takeNotificationFlag() == 1);
    CHECK(rt::notificationCode() == -520);

    // A notification while the program waits ends the wait at once.
    CHECK(inputUntil(
        [main, third] {
            NMHDR nm{H(third), 1, static_cast<UINT>(NM_DBLCLK)};
            SendMessageA(H(main), WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&nm));
        },
        [] { return rt::notificationCode() == static_cast<int>(NM_DBLCLK); }));
    CHECK(rt::notificationSender() == third);

    // A size change made in the move/size loop while the program waits:
    // the program is held meanwhile and then sees event kind 4.
    CHECK(inputUntil(
        [main] {
            SendMessageA(H(main), WM_ENTERSIZEMOVE, 0, 0);
            RECT rc;
            GetWindowRect(H(main), &rc);
            SetWindowPos(H(main), nullptr, 0, 0, rc.right - rc.left + 10, rc.bottom - rc.top,
                         SWP_NOMOVE | SWP_NOZORDER);
            SendMessageA(H(main), WM_EXITSIZEMOVE, 0, 0);
        },
        [] { return rt::eventKind() == rt::EvSize; }));

    // Scroll bars: the runtime moves the thumb; the end of scrolling is a
    // command event.
    const rt::Handle bar = control("hscroll", main, "", 20, 200, 200, 16);
    auto scroll = [&](int code, int pos = 0) {
        SendMessageA(H(main), WM_HSCROLL, MAKEWPARAM(code, pos), reinterpret_cast<LPARAM>(H(bar)));
        return GetScrollPos(H(bar), SB_CTL);
    };
    // Code, position, the thumb afterwards.
    const int steps[][3] = {{SB_LINEUP, 0, 0},       {SB_LINEDOWN, 0, 1}, {SB_PAGEDOWN, 0, 11},
                            {SB_THUMBPOSITION, 57, 57}, {SB_PAGEUP, 0, 47},  {SB_BOTTOM, 0, 100},
                            {SB_LINEDOWN, 0, 100},      {SB_TOP, 0, 0}};
    for (const auto& [code, pos, thumb] : steps)
        check(scroll(code, pos) == thumb, ("scroll code " + std::to_string(code)).c_str(), __LINE__);
    CHECK(rt::eventKind() != rt::EvCommand);
    scroll(SB_ENDSCROLL);
    CHECK(rt::eventKind() == rt::EvCommand);

    // Mouse press in the window: button, position, release clears.
    CHECK(inputUntil([main] { SendMessageA(H(main), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(33, 44)); },
                     [] { return rt::mouseButton() == 2; }));
    CHECK(rt::mouseX() == 33 && rt::mouseY() == 44);
    CHECK(rt::lastPressedButton() == 2);
    SendMessageA(H(main), WM_RBUTTONUP, 0, MAKELPARAM(33, 44));
    CHECK(rt::mouseButton() == 0);
    CHECK(rt::lastPressedButton() == 2);
    finish();
}

// Destroying the main window ends the process with code 0 at once.
void destroyMain()
{
    rt::setWindowPosition(10, 10, 200, 100);
    rt::destroy(rt::mainWindow());
    fail("destroy of the main window returned");
}

// The end of the program requested on the GUI thread (as an error report
// there does) ends the process with code 0.
void endOnGui()
{
    rt::setWindowPosition(10, 10, 200, 100);
    rt::detail::runOnGui([] { rt::endProgram(); });
    fail("end of program on the GUI thread returned");
}

// A small window with several control types, left open for a screenshot;
// closing it ends the program.
void showcase()
{
    rt::setSwitch("truecolor", rt::Value(1));
    rt::setWindowStyle(8 | 2 | 0x10);
    rt::setWindowTitle("rtcore showcase");
    rt::setWindowPosition(40, 40, 420, 300);
    rt::setBackground(GetSysColor(COLOR_BTNFACE));
    const rt::Handle main = rt::mainWindow();
    const rt::Handle bold = rt::create("font", {rt::Value("Tahoma"), rt::Value(13), rt::Value(0),
                                                rt::Value(1), rt::Value(0), rt::Value(0)});
    const rt::Handle normal = rt::create("font", {rt::Value("Tahoma"), rt::Value(13), rt::Value(0),
                                                  rt::Value(0), rt::Value(0), rt::Value(0)});
    rt::setCurrentFont(bold);
    control("text", main, "Server und Zugang:", 12, 12, 200, 18);
    rt::setCurrentFont(normal);
    control("edit", main, "ftp.example.org", 12, 34, 180, 22);
    control("edit", main, "geheim", 12, 62, 180, -22);
    const rt::Handle combo = control("choicebox", main, "2", 210, 34, 180, 150);
    for (int i = 1; i <= 3; ++i) rt::listAdd(combo, "Konfiguration " + std::to_string(i));
    rt::listSelect(combo, -1, "Konfiguration 2");
    control("checkbox", main, "Passiver Modus", 210, 64, 160, 20);
    control("radiobutton", main, "Aktiv", 210, 88, 160, 20);
    control("groupbox", main, "Verlauf", 12, 96, 180, 120);
    const rt::Handle list = control("listbox", main, "", 20, 114, 164, 96);
    rt::stringListClear();
    for (const char* s : {"a.txt", "b.png", "Übersicht.pdf"}) rt::stringListAdd(s);
    rt::stringListMoveTo(list);
    control("hscroll", main, "", 210, 120, 180, 16);
    control("defbutton", main, "Speichern", 210, 190, 90, 26);
    control("button", main, "Abbrechen", 306, 190, 84, 26);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    std::printf("READY %d face %d %d %d\n", static_cast<int>(main), GetRValue(face), GetGValue(face),
                GetBValue(face));
    std::fflush(stdout);
    for (;;) rt::waitInputEvent();
}

} // namespace

static void mainRoutine()
{
    const std::string scenario = rt::paramCount() >= 1 ? rt::param(1) : "";
    if (scenario == "handoff") handoff();
    if (scenario == "fastend") fastEnd();
    if (scenario == "end") endAtOnce();
    if (scenario == "return") returnFromMain();
    if (scenario == "windows") windows();
    if (scenario == "style") style(rt::toInt(rt::param(2)));
    if (scenario == "events") events();
    if (scenario == "showcase") showcase();
    if (scenario == "destroy") destroyMain();
    if (scenario == "guiend") endOnGui();
    if (scenario == "taken") fail("the start went on although a class was taken", 4);
    if (scenario != "end" && scenario != "return") fail("unknown scenario " + scenario, 2);
}

DWORD WINAPI watchdog(LPVOID)
{
    Sleep(45000);
    fail("scenario did not end within 45 s", 3);
}

int main()
{
    // A hung scenario fails instead of blocking the suite.
    CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);
    // A window class the runtime needs is already taken: the start must end
    // the process with exit code 1.
    const auto args = rt::splitCommandLine(GetCommandLineA());
    if (args.size() >= 3 && args[1] == "taken") {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = args[2].c_str();
        RegisterClassA(&wc);
    }
    return rt::processEntry(GetModuleHandleA(nullptr), mainRoutine);
}
