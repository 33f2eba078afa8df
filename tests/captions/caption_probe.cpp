// Caption probe, linked into test builds of Quillpost.exe and getsize.exe.
//
// Wine answers WM_GETFONT from another process with 0, so captions are
// measured inside the program. A thread of the probe's own owns a hidden
// window titled "QPCAPTIONPROBE <process id>". The message kMeasure, with a
// top-level window of this process in wParam, walks every child control of
// that window, measures each caption (static text, button, check box, group
// box) in the control's own font against the control's client rectangle,
// writes one line per caption to the file named by QP_CAPTION_REPORT and
// returns the number of captions that do not fit (-1: report not written).
//
// The room is the control's client rectangle as far as its parent shows it.
// Report line: fit|MISFIT <tab> id <tab> class <tab> kind <tab> need WxH
// <tab> room WxH <tab> face/height/weight (requested -> drawn) <tab> text
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr UINT kMeasure = WM_APP + 0x51;
constexpr char kClass[] = "QuillpostCaptionProbe";

// Room a control leaves around its caption. Push button: edge and focus
// rectangle. Check box: the square (12 logical pixels + 1 at 96 dpi) and
// half a digit's width before the text, a pixel for the focus rectangle
// after it. Group box: the caption starts 8 pixels in; the frame wants as
// much on its right.
constexpr int kPushMarginX = 4;
constexpr int kPushMarginY = 2;
constexpr int kCheckSquare = 13;
constexpr int kGroupMargin = 8;

enum class Kind { None, WrappedText, LineText, Push, Check, Group };

const char* kindName(Kind k)
{
    switch (k) {
    case Kind::WrappedText: return "text";
    case Kind::LineText: return "line";
    case Kind::Push: return "button";
    case Kind::Check: return "checkbox";
    case Kind::Group: return "group";
    case Kind::None: break;
    }
    return "-";
}

std::string classOf(HWND h)
{
    char buf[128] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

Kind kindOf(HWND h, const std::string& cls)
{
    const DWORD style = static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE));
    if (lstrcmpiA(cls.c_str(), "Static") == 0) {
        if (style & SS_ELLIPSISMASK) return Kind::None;  // shortened by design
        switch (style & SS_TYPEMASK) {
        case SS_LEFT: case SS_CENTER: case SS_RIGHT: return Kind::WrappedText;
        case SS_SIMPLE: case SS_LEFTNOWORDWRAP: return Kind::LineText;
        default: return Kind::None;  // icons, bitmaps, frames, lines
        }
    }
    if (lstrcmpiA(cls.c_str(), "Button") == 0) {
        if (style & (BS_ICON | BS_BITMAP)) return Kind::None;
        switch (style & BS_TYPEMASK) {
        case BS_PUSHBUTTON: case BS_DEFPUSHBUTTON: return Kind::Push;
        case BS_CHECKBOX: case BS_AUTOCHECKBOX: case BS_RADIOBUTTON: case BS_3STATE: case BS_AUTO3STATE:
        case BS_AUTORADIOBUTTON: return Kind::Check;
        case BS_GROUPBOX: return Kind::Group;
        default: return Kind::None;
        }
    }
    return Kind::None;
}

struct Measured {
    SIZE need{};
    SIZE room{};
    bool fits = false;
};

// Text size as DrawText lays it out; for a wrapping text the lines are
// broken at `width`, and a word longer than that widens the result.
SIZE layout(HDC dc, const std::string& text, UINT flags, int width)
{
    RECT r{0, 0, width, 0};
    DrawTextA(dc, text.c_str(), -1, &r, flags | DT_CALCRECT);
    return {r.right - r.left, r.bottom - r.top};
}

// The client rectangle as far as the parent window shows it.
RECT visibleClient(HWND h)
{
    RECT client{}, parent{};
    GetClientRect(h, &client);
    GetClientRect(GetParent(h), &parent);
    POINT origin{0, 0};
    MapWindowPoints(h, GetParent(h), &origin, 1);
    client.right = std::min<LONG>(client.right, parent.right - origin.x);
    client.bottom = std::min<LONG>(client.bottom, parent.bottom - origin.y);
    return client;
}

Measured measure(HDC dc, HWND h, Kind kind, const std::string& text)
{
    const RECT client = visibleClient(h);
    const DWORD style = static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE));
    const UINT prefix = (kind == Kind::WrappedText || kind == Kind::LineText) && (style & SS_NOPREFIX)
                            ? DT_NOPREFIX : 0;
    Measured m;
    m.room = {client.right, client.bottom};
    switch (kind) {
    case Kind::WrappedText:
        m.need = layout(dc, text, DT_WORDBREAK | DT_EXPANDTABS | prefix, m.room.cx);
        break;
    case Kind::LineText:
        m.need = layout(dc, text, DT_SINGLELINE | DT_EXPANDTABS | prefix, 0);
        break;
    case Kind::Push:
        m.room = {m.room.cx - 2 * kPushMarginX, m.room.cy - 2 * kPushMarginY};
        m.need = layout(dc, text, DT_SINGLELINE, 0);
        break;
    case Kind::Check: {
        INT zero = 0;
        GetCharWidth32A(dc, '0', '0', &zero);
        m.room.cx -= kCheckSquare + zero / 2 + 1;
        m.need = layout(dc, text, DT_SINGLELINE, 0);
        break;
    }
    case Kind::Group:
        m.room.cx -= 2 * kGroupMargin;
        m.need = layout(dc, text, DT_SINGLELINE, 0);
        m.room.cy = m.need.cy;  // the caption sits on the frame's top line
        break;
    case Kind::None:
        break;
    }
    m.fits = m.need.cx <= m.room.cx && m.need.cy <= m.room.cy;
    return m;
}

std::string fontText(HDC dc, HFONT font)
{
    LOGFONTA lf{};
    GetObjectA(font, sizeof lf, &lf);
    char drawn[LF_FACESIZE] = {};
    GetTextFaceA(dc, sizeof drawn, drawn);
    return std::string(lf.lfFaceName) + "/" + std::to_string(lf.lfHeight) + "/" + std::to_string(lf.lfWeight) +
           (lf.lfItalic ? "/italic" : "") + " -> " + drawn;
}

BOOL CALLBACK collect(HWND h, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

int measureWindow(HWND window)
{
    char path[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("QP_CAPTION_REPORT", path, sizeof path)) return -1;
    FILE* out = std::fopen(path, "wb");
    if (!out) return -1;
    std::vector<HWND> children;
    EnumChildWindows(window, collect, reinterpret_cast<LPARAM>(&children));
    HDC dc = CreateCompatibleDC(nullptr);
    int misfits = 0;
    for (HWND h : children) {
        if (!IsWindowVisible(h)) continue;
        const std::string cls = classOf(h);
        const Kind kind = kindOf(h, cls);
        char buf[1024] = {};
        GetWindowTextA(h, buf, sizeof buf);
        const std::string text = buf;
        if (kind == Kind::None || text.empty()) continue;
        // A control without a font of its own draws with the system font.
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0));
        if (!font) font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
        const HGDIOBJ old = SelectObject(dc, font);
        const Measured m = measure(dc, h, kind, text);
        if (!m.fits) ++misfits;
        std::fprintf(out, "%s\t%d\t%s\t%s\t%ldx%ld\t%ldx%ld\t%s\t%s\n", m.fits ? "fit" : "MISFIT",
                     GetDlgCtrlID(h), cls.c_str(), kindName(kind), m.need.cx, m.need.cy, m.room.cx, m.room.cy,
                     fontText(dc, font).c_str(), text.c_str());
        SelectObject(dc, old);
    }
    DeleteDC(dc);
    std::fclose(out);
    return misfits;
}

LRESULT CALLBACK probeProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kMeasure) {
        const HWND target = reinterpret_cast<HWND>(wParam);
        DWORD pid = 0;
        GetWindowThreadProcessId(target, &pid);
        if (!IsWindow(target) || pid != GetCurrentProcessId()) return -1;
        return measureWindow(target);
    }
    return DefWindowProcA(h, message, wParam, lParam);
}

DWORD WINAPI probeThread(LPVOID)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = probeProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassA(&wc);
    const std::string title = "QPCAPTIONPROBE " + std::to_string(GetCurrentProcessId());
    if (!CreateWindowExA(0, kClass, title.c_str(), WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr))
        return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}

// Starts with the program, before its own entry point runs.
const struct ProbeStart {
    ProbeStart()
    {
        if (HANDLE t = CreateThread(nullptr, 0, probeThread, nullptr, 0, nullptr)) CloseHandle(t);
    }
} probeStart;

} // namespace
