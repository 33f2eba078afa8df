// The message box and the modal input box.
#include <atomic>
#include <windows.h>
#include "runtime/foreign.h"
#include "runtime/internal.h"
#include "runtime/process.h"
#include "runtime/windows.h"

namespace rt {

namespace {

// Written on the GUI thread by the input box, read on the program thread.
std::atomic<int> g_lastButton{0};

constexpr int kPromptId = 100;
constexpr int kEditId = 101;

struct InputBlock {
    std::string prompt;
    std::string caption;
    std::string defaultText;
    std::string result;
};

INT_PTR CALLBACK inputDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const auto* b = reinterpret_cast<const InputBlock*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, b->caption.c_str());
        SetDlgItemTextA(dialog, kPromptId, b->prompt.c_str());
        SetDlgItemTextA(dialog, kEditId, b->defaultText.c_str());
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    auto* b = reinterpret_cast<InputBlock*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (LOWORD(wParam)) {
    case IDOK: {
        const HWND edit = GetDlgItem(dialog, kEditId);
        const int length = GetWindowTextLengthA(edit);
        std::string text(static_cast<std::size_t>(length) + 4, '\0');
        const int got = GetWindowTextA(edit, text.data(), length + 2);
        text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
        b->result = std::move(text);
        g_lastButton.store(IDOK);
        EndDialog(dialog, 1);
        return TRUE;
    }
    case IDCANCEL:  // also the Escape key and the close box
        b->result.clear();
        g_lastButton.store(IDCANCEL);
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

namespace detail {

void runInputBoxRequest(void* block)
{
    auto* b = static_cast<InputBlock*>(block);
    HINSTANCE module = instance() ? instance() : GetModuleHandleA(nullptr);
    const INT_PTR rc = DialogBoxParamA(module, "INPUT", static_cast<HWND>(hwndOf(mainWindow())),
                                       inputDialogProc, reinterpret_cast<LPARAM>(b));
    if (rc == -1) {  // no template: as if cancelled
        b->result.clear();
        g_lastButton.store(IDCANCEL);
    }
}

} // namespace detail

int msgBox(const std::string& text, const std::string& caption, unsigned flags)
{
    const int result = static_cast<int>(callByName("USER32", "MessageBoxA",
                                                    {mainWindow(), text, caption, flags}));
    g_lastButton.store(result);
    return result;
}

int lastButton()
{
    return g_lastButton.load();
}

Value inputBox(const std::string& prompt, const std::string& caption, const std::string& defaultText)
{
    InputBlock b{prompt, caption, defaultText, {}};
    // The dialog runs on the GUI thread; the GUI thread itself (or a process
    // whose runtime has not started) runs it in place.
    if (onGuiThread() || !requestWindow())
        detail::runInputBoxRequest(&b);
    else
        postRequest(ReqInputBox, &b, true);
    return Value(b.result);
}

} // namespace rt
