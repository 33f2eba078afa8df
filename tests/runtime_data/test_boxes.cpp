// The message box and the input box, answered from a second thread that
// finds them by caption among this process's windows.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include "live.h"
#include "runtime/core_internal.h"
#include "runtime/errors.h"
#include "runtime/foreign.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "runtime/windows.h"

namespace {

using live::postClick;
using live::waitDialog;

const DWORD kSelf = GetCurrentProcessId();

// Runs the driver on its own thread while the program thread blocks in the box.
struct Driver {
    std::thread thread;
    template <class F> explicit Driver(F f) : thread(f) {}
    ~Driver() { thread.join(); }
};

TEST(Boxes, MessageBoxBlocksOnlyTheProgramThreadAndRecordsTheButton)
{
    std::atomic<bool> found{false}, guiAnswered{false}, ownedByMain{false};
    std::string text;
    HWND main = nullptr;
    {
        rt::setWindowPosition(10, 10, 320, 200);
        main = static_cast<HWND>(rt::hwndOf(rt::mainWindow()));
        ASSERT_TRUE(main);
        Driver d([&] {
            const HWND box = waitDialog(kSelf, "rtdata Frage", 20000);
            if (!box) return;
            found = true;
            text = live::boxText(box);
            ownedByMain = GetWindow(box, GW_OWNER) == main;
            // The GUI thread keeps handling messages while the box is open.
            DWORD_PTR r = 0;
            guiAnswered = SendMessageTimeoutA(rt::requestWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &r) != 0;
            postClick(box, IDCANCEL);
        });
        EXPECT_EQ(rt::msgBox("Weiter mit Ä?", "rtdata Frage", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(text, "Weiter mit Ä?");
    EXPECT_TRUE(ownedByMain);
    EXPECT_TRUE(guiAnswered);
    EXPECT_EQ(rt::lastButton(), IDCANCEL);
}

struct InputSeen {
    bool found = false;
    std::string prompt, defaultText;
};

// Finds the input box, records what it shows, and answers it with `answer`.
template <class Answer>
InputSeen driveInput(const std::string& caption, Answer answer, rt::Value& result, const std::string& prompt,
                     const std::string& defaultText)
{
    InputSeen seen;
    {
        Driver d([&] {
            const HWND dialog = waitDialog(kSelf, caption, 20000);
            if (!dialog) return;
            seen.found = true;
            seen.prompt = live::windowText(GetDlgItem(dialog, 100));
            seen.defaultText = live::windowText(GetDlgItem(dialog, 101));
            answer(dialog);
            if (!live::waitGone(dialog, 10000)) postClick(dialog, IDCANCEL);  // never leave it hanging
        });
        result = rt::inputBox(prompt, caption, defaultText);
    }
    return seen;
}

void typeAndConfirm(HWND dialog)
{
    const HWND edit = GetDlgItem(dialog, 101);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (unsigned char c : std::string("42 Grüße")) PostMessageA(edit, WM_CHAR, c, 1);
    postClick(dialog, IDOK);
}
void confirm(HWND dialog) { postClick(dialog, IDOK); }
void cancel(HWND dialog) { postClick(dialog, IDCANCEL); }
void escape(HWND dialog)
{
    const HWND edit = GetDlgItem(dialog, 101);
    PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(edit, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

// Input boxes in turn: what each shows, how it is answered, what it returns.
// The box left with OK comes right before Escape, so the button really changes.
TEST(Boxes, InputBoxReturnsTheTypedTextOrNothing)
{
    const struct {
        const char* caption;
        void (*answer)(HWND);
        const char *prompt, *shown, *text;
        int number, button;
    } rows[] = {
        {"rtdata Eingabe", typeAndConfirm, "Wie viele?", "7", "42 Grüße", 42, IDOK},
        {"rtdata Abbruch", cancel, "Zahl:", "77", "", 0, IDCANCEL},
        {"rtdata Erst", confirm, "a", "5", "5", 5, IDOK},
        {"rtdata Escape", escape, "b", "88", "", 0, IDCANCEL},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.caption);
        rt::Value result;
        const InputSeen seen = driveInput(r.caption, r.answer, result, r.prompt, r.shown);
        ASSERT_TRUE(seen.found);
        EXPECT_EQ(seen.prompt, r.prompt);
        EXPECT_EQ(seen.defaultText, r.shown);
        EXPECT_EQ(result.s, r.text);
        EXPECT_EQ(result.i, r.number);
        EXPECT_EQ(rt::lastButton(), r.button);
    }
}

std::string clipboardText()
{
    if (!OpenClipboard(nullptr)) return "(not opened)";
    const HANDLE ansi = GetClipboardData(CF_TEXT);
    const std::string got = ansi ? static_cast<const char*>(GlobalLock(ansi)) : "";
    if (ansi) GlobalUnlock(ansi);
    CloseClipboard();
    return got;
}

TEST(Boxes, ClipboardTextReplacesEveryEarlierFormat)
{
    // An earlier owner's Unicode text must not survive beside the new text.
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    const wchar_t old[] = L"alter Text";
    HGLOBAL m = GlobalAlloc(GMEM_MOVEABLE, sizeof old);
    memcpy(GlobalLock(m), old, sizeof old);
    GlobalUnlock(m);
    SetClipboardData(CF_UNICODETEXT, m);
    CloseClipboard();

    const std::string text = "http://host/a_b.txt\r\nhttp://host/ä.txt";
    EXPECT_TRUE(rt::setClipboardText(text));
    EXPECT_EQ(clipboardText(), text);
    ASSERT_TRUE(OpenClipboard(nullptr));
    const HANDLE wide = GetClipboardData(CF_UNICODETEXT);
    std::wstring gotWide = wide ? static_cast<const wchar_t*>(GlobalLock(wide)) : L"";
    if (wide) GlobalUnlock(wide);
    CloseClipboard();
    EXPECT_EQ(gotWide, L"http://host/a_b.txt\r\nhttp://host/\u00e4.txt");
}

TEST(Boxes, ClipboardHeldElsewhereIsTriedForAboutTwoSeconds)
{
    // Another thread holds the clipboard for its own window, as a clipboard
    // manager does: first beyond the two seconds, then for half a second.
    const auto holdFor = [](DWORD ms, std::atomic<bool>& held) {
        return std::thread([ms, &held] {
            const HWND owner = CreateWindowExA(0, "STATIC", "holder", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                               nullptr);
            held = OpenClipboard(owner) != FALSE;
            Sleep(ms);
            CloseClipboard();
            DestroyWindow(owner);
        });
    };
    const auto untilHeld = [](std::atomic<bool>& held) {
        for (int i = 0; i < 500 && !held; ++i) Sleep(10);
        return held.load();
    };

    std::atomic<bool> held{false};
    std::thread holder = holdFor(3500, held);
    ASSERT_TRUE(untilHeld(held));
    DWORD start = GetTickCount();
    EXPECT_FALSE(rt::setClipboardText("never stored"));
    DWORD waited = GetTickCount() - start;
    holder.join();
    EXPECT_GE(waited, 1900u);
    EXPECT_LT(waited, 3400u);

    held = false;
    holder = holdFor(500, held);
    ASSERT_TRUE(untilHeld(held));
    start = GetTickCount();
    EXPECT_TRUE(rt::setClipboardText("stored after the wait"));
    waited = GetTickCount() - start;
    holder.join();
    EXPECT_LT(waited, 1900u);
    EXPECT_EQ(clipboardText(), "stored after the wait");
}

TEST(Boxes, WarningRaisedOnTheGuiThreadShowsItsBoxThere)
{
    std::string text;
    DWORD boxThread = 0;
    {
        Driver d([&] {
            const HWND box = waitDialog(kSelf, live::kReportCaption, 20000);
            if (!box) return;
            text = live::boxText(box);
            boxThread = GetWindowThreadProcessId(box, nullptr);
            postClick(box, IDOK);
        });
        rt::detail::runOnGui([] { rt::raiseWarning(209, "gui.txt"); });
    }
    EXPECT_EQ(text, "Datei nicht gefunden: gui.txt");
    EXPECT_EQ(boxThread, rt::guiThreadId());
    EXPECT_EQ(rt::lastReportNumber(), 209);
}

TEST(Boxes, SleepWaitsOnTheGuiThread)
{
    const DWORD start = GetTickCount();
    rt::sleepMs(120);
    EXPECT_GE(GetTickCount() - start, 100u);
}

} // namespace
