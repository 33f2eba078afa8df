#include "app/getsize/upload_window.h"

#include <commctrl.h>
#include <cstring>
#include "runtime/foreign.h"
#include "runtime/handles.h"

namespace getsize {
namespace {

constexpr char kClassName[] = "QuillpostUploadWindow";
constexpr UINT kShowMarked = WM_APP + 1;  // wParam: 1 marked, 0 not
constexpr COLORREF kMarkedColour = RGB(200, 30, 30);
constexpr int kWidth = 360;
constexpr int kHeight = 86;

// The run's main window carries this title while it uploads; checked before
// its process is ended, so a reused handle can never end another program.
bool isUploadRun(HWND window)
{
    char title[64] = {};
    if (!IsWindow(window)) return false;
    GetWindowTextA(window, title, sizeof title);
    return _strnicmp(title, "FTPUPLOAD", 9) == 0;
}

// A themed bar ignores its bar colour, so the bar keeps the classic look
// (where visual styles exist at all).
void plainLook(HWND control)
{
    const rt::OwnedModule uxtheme(LoadLibraryA("uxtheme.dll"));
    if (!uxtheme) return;
    using SetWindowThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    if (auto setTheme = reinterpret_cast<SetWindowThemeFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(uxtheme.get(), "SetWindowTheme"))))
        setTheme(control, L" ", L" ");
}

} // namespace

UploadWindow::UploadWindow(std::string iniPath, std::string section, HWND runWindow)
    : iniPath_(std::move(iniPath)), section_(std::move(section)), runWindow_(runWindow)
{
}

bool UploadWindow::create()
{
    return rt::callByAddress(reinterpret_cast<void*>(&UploadWindow::createOnGuiThread), {this}) == 1;
}

void UploadWindow::destroy()
{
    window_.reset();
}

std::uintptr_t __stdcall UploadWindow::createOnGuiThread(std::uintptr_t selfAddress)
{
    auto* self = reinterpret_cast<UploadWindow*>(selfAddress);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &UploadWindow::windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassExA(&wc);

    // Bottom right of the work area, where it covers the least.
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.right - kWidth - 16;
    const int y = work.bottom - kHeight - 16;
    HWND w = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kClassName, kTitle,
                             WS_POPUP | WS_BORDER | WS_CLIPCHILDREN, x, y, kWidth, kHeight, nullptr,
                             nullptr, instance, self);
    if (!w) return 0;

    const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    const auto child = [&](const char* cls, const char* text, DWORD style, int cx, int cy, int cw, int ch,
                           int id) {
        HWND c = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, cx, cy, cw, ch, w,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
        return c;
    };
    const int inner = kWidth - 2 - 20;
    self->name_ = child("STATIC", "", SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, 10, 8, inner, 16, 101);
    self->bar_ = child(PROGRESS_CLASSA, "", PBS_SMOOTH | WS_BORDER, 10, 28, inner, 18, 102);
    self->status_ = child("STATIC", "Verbindung wird aufgebaut …", SS_LEFTNOWORDWRAP, 10, 58, 236, 16, 103);
    self->button_ = child("BUTTON", "Abbrechen", BS_PUSHBUTTON, kWidth - 2 - 10 - 90, 53, 90, 24, kAbortId);
    SendMessageA(self->bar_, PBM_SETRANGE32, 0, 1000);
    plainLook(self->bar_);
    // Clicks on the bar belong to the window (drag, right-click mark).
    SetWindowLongPtrA(self->bar_, GWLP_USERDATA,
                      SetWindowLongPtrA(self->bar_, GWLP_WNDPROC,
                                        reinterpret_cast<LONG_PTR>(&UploadWindow::childProc)));
    ShowWindow(w, SW_SHOWNOACTIVATE);
    UpdateWindow(w);
    return 1;
}

LRESULT CALLBACK UploadWindow::childProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCHITTEST) return HTTRANSPARENT;
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

LRESULT CALLBACK UploadWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<UploadWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self) return DefWindowProcA(window, message, wParam, lParam);
    if (!self->window_) self->window_.reset(window);
    return self->onMessage(message, wParam, lParam);
}

LRESULT UploadWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_LBUTTONDOWN:
        // Dragging anywhere moves the window, as its caption would.
        ReleaseCapture();
        SendMessageA(window_.get(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
        return 0;
    case WM_RBUTTONUP:
        mark();
        return 0;
    case WM_CONTEXTMENU:
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kAbortId && HIWORD(wParam) == BN_CLICKED) abortRun();
        return 0;
    case WM_CLOSE:
        // Closing only takes the window away; the upload goes on.
        close_ = true;
        ShowWindow(window_.get(), SW_HIDE);
        return 0;
    case kShowMarked:
        applyBarColour(wParam != 0);
        return 0;
    default:
        return DefWindowProcA(window_.get(), message, wParam, lParam);
    }
}

void UploadWindow::mark()
{
    WritePrivateProfileStringA(section_.c_str(), "Protect", "1", iniPath_.c_str());
    applyBarColour(true);
}

void UploadWindow::abortRun()
{
    if (abort_.exchange(true)) return;
    if (isUploadRun(runWindow_)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(runWindow_, &pid);
        if (const rt::OwnedHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid)); process)
            TerminateProcess(process.get(), 1);
    }
    ShowWindow(window_.get(), SW_HIDE);
}

void UploadWindow::applyBarColour(bool marked)
{
    if (marked_.exchange(marked) == marked) return;
    SendMessageA(bar_, PBM_SETBARCOLOR, 0, marked ? kMarkedColour : CLR_DEFAULT);
    InvalidateRect(bar_, nullptr, TRUE);
}

void UploadWindow::setName(const std::string& text)
{
    SetWindowTextA(name_, text.c_str());
}

void UploadWindow::setStatus(const std::string& text)
{
    SetWindowTextA(status_, text.c_str());
}

void UploadWindow::setProgress(int permille)
{
    SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(permille), 0);
}

void UploadWindow::showMarked(bool marked)
{
    SendMessageA(window_.get(), kShowMarked, marked ? 1 : 0, 0);
}

} // namespace getsize
