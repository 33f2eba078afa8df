// Windows and controls: the main window and its settings, creation by type
// name and by explicit class (executed on the GUI thread through requests),
// window operations, list operations and the runtime string list.
#include "runtime/windows.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <windows.h>
#include <commctrl.h>
#include "runtime/core_internal.h"
#include "runtime/errors.h"
#include "runtime/foreign.h"
#include "runtime/handles.h"
#include "runtime/params.h"
#include "runtime/process.h"
#include "runtime/strings.h"

namespace rt {
namespace {

constexpr char kMainClass[] = "FENSTER";
constexpr char kDialogClass[] = "DIALOG";

// Main-window settings: written by the program thread before it asks for
// the main window; the GUI thread reads them inside that request.
struct MainSettings {
    DWORD style = 0x14CF2000;
    DWORD exStyle = 0x100;
    std::string title = "Marlowrun-Fenster";
    bool noMenu = false;
    bool closeToProgram = false;
};
MainSettings g_settings;

std::atomic<HWND> g_main{nullptr};
std::atomic<bool> g_dialogMode{false};
std::atomic<std::int32_t> g_fontSetting{0};  // 0 none, 1 drawing font, else a font handle
HFONT g_drawingFont = nullptr;               // font of text output; none at start
std::atomic<int> g_nextControlId{100};
std::atomic<HACCEL> g_accelerators{nullptr};
std::atomic<HWND> g_modeless{nullptr};
std::atomic<HWND> g_tooltip{nullptr};
std::atomic<COLORREF> g_background{CLR_INVALID};
OwnedGdiObject g_backgroundBrush;  // GUI thread only

std::mutex g_fontsMutex;
std::vector<OwnedGdiObject> g_fonts;  // created by "font"; deleted at the end

std::mutex g_procsMutex;
std::map<std::string, std::function<std::int32_t(const std::vector<Value>&)>> g_createProcs;

// The runtime string list (program thread only).
std::vector<std::string> g_stringList;
bool g_stringListInUse = false;

Handle handleOf(HWND w)
{
    return static_cast<Handle>(reinterpret_cast<std::intptr_t>(w));
}

HWND hwnd(Handle h)
{
    return static_cast<HWND>(hwndOf(h));
}

std::string lowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Case-insensitive comparison of the first `n` characters (ANSI code page).
bool equalsNoCase(const std::string& a, const std::string& b, std::size_t n)
{
    if (a.size() < n || b.size() < n) return false;
    std::string x = a.substr(0, n), y = b.substr(0, n);
    CharUpperBuffA(x.data(), static_cast<DWORD>(n));
    CharUpperBuffA(y.data(), static_cast<DWORD>(n));
    return x == y;
}

std::string className(HWND w)
{
    char buf[129] = {};
    GetClassNameA(w, buf, sizeof(buf));
    return buf;
}

enum class ListKind { None, ListBox, ComboBox, ListView };

ListKind listKind(HWND w)
{
    const std::string c = className(w);
    if (equalsNoCase(c, "LISTBOX", 7)) return ListKind::ListBox;
    if (equalsNoCase(c, "COMBOBOX", 8)) return ListKind::ComboBox;
    if (equalsNoCase(c, "SYSLISTVIEW", 11)) return ListKind::ListView;
    return ListKind::None;
}

void applyCurrentFont(HWND w)
{
    const std::int32_t setting = g_fontSetting.load();
    if (setting == 0) return;
    HFONT font = setting == 1 ? g_drawingFont
                              : static_cast<HFONT>(hwndOf(setting));
    SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// --- Requests, executed on the GUI thread.

void createMainWindow(detail::MainWindowBlock& b)
{
    HMENU menu = g_settings.noMenu ? nullptr : LoadMenuA(instance(), "LEER");
    g_dialogMode = g_settings.closeToProgram;
    HWND w = CreateWindowExA(g_settings.exStyle, kMainClass, g_settings.title.c_str(),
                             g_settings.style, b.x, b.y, b.width, b.height, nullptr, menu,
                             instance(), nullptr);
    if (!w) ExitProcess(1);
    g_main = w;
    ShowWindow(w, SW_SHOW);
    UpdateWindow(w);
    b.result = w;
}

void createWindow(detail::CreateWindowBlock& b)
{
    INT_PTR id = b.idOrMenu;
    HINSTANCE inst = b.instance;
    if (!b.explicitId) {
        // The running identifier is for child windows; for a top-level
        // window the same argument would be read as a menu handle.
        id = (b.style & WS_CHILD) ? g_nextControlId.fetch_add(1) : 0;
        inst = instance();
    } else if (!inst) {
        inst = instance();
    }
    b.result = CreateWindowExA(b.exStyle, b.className, b.text, b.style, b.x, b.y, b.width,
                               b.height, b.parent, reinterpret_cast<HMENU>(id), inst, nullptr);
    if (b.result) applyCurrentFont(b.result);
}

void createDialog(detail::DialogBlock& b)
{
    const char* name = b.templateName;
    LPCSTR resource = name;
    if (!FindResourceA(instance(), name, MAKEINTRESOURCEA(5) /* RT_DIALOG */))
        resource = MAKEINTRESOURCEA(std::atoi(name));
    b.result = CreateDialogParamA(instance(), resource, b.parent, detail::ldialogProc, b.param);
    if (!b.result) return;
    ShowWindow(b.result, SW_SHOW);
    UpdateWindow(b.result);
}

void createDialogWindow(detail::DialogWindowBlock& b)
{
    b.result = CreateWindowExA(g_settings.exStyle, kDialogClass, b.title, g_settings.style, b.x,
                               b.y, b.width, b.height, b.owner, nullptr, instance(), nullptr);
    if (!b.result) return;
    ShowWindow(b.result, SW_SHOW);
    UpdateWindow(b.result);
}

void addTooltip(detail::TooltipBlock& b)
{
    HWND tip = g_tooltip.load();
    if (!tip) {
        tip = CreateWindowExA(0x80080, TOOLTIPS_CLASSA, nullptr, 0x94800000, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, b.owner, nullptr,
                              instance(), nullptr);
        g_tooltip = tip;
    }
    if (!tip) return;
    SendMessageA(tip, TTM_SETMAXTIPWIDTH, 0, 300);
    TOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = b.owner;
    ti.uId = reinterpret_cast<UINT_PTR>(b.control);
    ti.lpszText = const_cast<char*>(b.text);
    SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    b.result = tip;
}

// --- Helpers of the program-thread side.

HWND sendCreate(detail::CreateWindowBlock& b)
{
    sendRequest(ReqCreateWindow, &b);
    return b.result;
}

Handle createTyped(const char* cls, DWORD style, DWORD exStyle, const std::vector<Value>& a,
                   const std::string& text, int height)
{
    detail::CreateWindowBlock b;
    b.className = cls;
    b.text = text.c_str();
    b.style = style;
    b.exStyle = exStyle;
    b.parent = hwnd(a[0].i);
    b.x = a[2].i;
    b.y = a[3].i;
    b.width = a[4].i;
    b.height = height;
    return handleOf(sendCreate(b));
}

int flagsOf(const std::string& text, int whenEmpty)
{
    return trim(text).empty() ? whenEmpty : toInt(text);
}

Handle createFont(const std::vector<Value>& a)
{
    auto arg = [&](std::size_t i) { return i < a.size() ? a[i].i : 0; };
    HFONT font = CreateFontA(arg(1), arg(2), 0, 0, arg(3) ? FW_BOLD : FW_NORMAL,
                             arg(4) ? TRUE : FALSE, arg(5) ? TRUE : FALSE, FALSE,
                             static_cast<DWORD>(fontCharset()), 0, 0, 0, 0, a[0].s.c_str());
    if (font) {
        std::lock_guard lock(g_fontsMutex);
        g_fonts.emplace_back(font);
    }
    return static_cast<Handle>(reinterpret_cast<std::intptr_t>(font));
}

bool need(const std::vector<Value>& a, std::size_t n)
{
    if (a.size() >= n) return true;
    raiseError(212);
    return false;
}

std::vector<std::string> splitRow(const std::string& row, const std::string& delimiter)
{
    std::vector<std::string> out;
    if (delimiter.empty()) return {row};
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = row.find(delimiter, start);
        if (at == std::string::npos) {
            out.push_back(row.substr(start));
            return out;
        }
        out.push_back(row.substr(start, at - start));
        start = at + delimiter.size();
    }
}

int listViewAddRow(HWND w, const std::string& row)
{
    const std::vector<std::string> columns = splitRow(row, listDelimiter());
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageA(w, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<char*>(columns[0].c_str());
    const int index = static_cast<int>(SendMessageA(w, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0) return index;
    for (std::size_t c = 1; c < columns.size(); ++c) {
        LVITEMA sub{};
        sub.iSubItem = static_cast<int>(c);
        sub.pszText = const_cast<char*>(columns[c].c_str());
        SendMessageA(w, LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&sub));
    }
    return index;
}

} // namespace

namespace detail {

bool initWindowState()
{
    // The window extra bytes hold the dialog manager's data, so that dialog
    // mode can use the default dialog procedure (30 bytes on 32-bit).
    WNDCLASSA wc{};
    wc.style = 0x2023;
    wc.lpfnWndProc = mainWindowProc;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = instance();
    wc.hIcon = LoadIconA(instance(), "MARLOW");
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    wc.lpszClassName = kMainClass;
    if (!RegisterClassA(&wc)) return false;

    wc.style = CS_CLASSDC;
    wc.lpfnWndProc = dialogWindowProc;
    wc.hCursor = nullptr;
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kDialogClass;
    return RegisterClassA(&wc) != 0;
}

void cleanupWindowState()
{
    releaseMainDrawingObjects();
    {
        std::lock_guard lock(g_fontsMutex);
        g_fonts.clear();
    }
    UnregisterClassA(kMainClass, instance());
    UnregisterClassA(kDialogClass, instance());
    if (HACCEL acc = g_accelerators.exchange(nullptr)) DestroyAcceleratorTable(acc);
    g_stringList.clear();
    g_stringListInUse = false;
}

bool runWindowRequest(WPARAM code, void* block)
{
    if (!block) return false;
    switch (code) {
    case ReqCreateMainWindow: createMainWindow(*static_cast<MainWindowBlock*>(block)); return true;
    case ReqCreateWindow: createWindow(*static_cast<CreateWindowBlock*>(block)); return true;
    case ReqCreateLDialog:
    case ReqCreateNamedDialog: createDialog(*static_cast<DialogBlock*>(block)); return true;
    case ReqDestroyWindow: {
        auto* b = static_cast<DestroyBlock*>(block);
        b->result = DestroyWindow(b->window);
        return true;
    }
    case ReqCreateDialogWindow: createDialogWindow(*static_cast<DialogWindowBlock*>(block)); return true;
    case ReqTooltip: addTooltip(*static_cast<TooltipBlock*>(block)); return true;
    default: return false;
    }
}

HACCEL acceleratorTable() { return g_accelerators.load(); }
HWND modelessDialog() { return g_modeless.load(); }
void setModelessDialog(HWND dialog) { g_modeless = dialog; }
HWND tooltipWindow() { return g_tooltip.load(); }
HWND mainHwnd() { return g_main.load(); }
bool mainDialogMode() { return g_dialogMode.load(); }
COLORREF backgroundColour() { return g_background.load(); }

HBRUSH backgroundBrush()
{
    const COLORREF c = g_background.load();
    if (c == CLR_INVALID) return nullptr;
    LOGBRUSH lb{};
    if (g_backgroundBrush && GetObjectA(g_backgroundBrush.get(), sizeof(lb), &lb) && lb.lbColor == c)
        return static_cast<HBRUSH>(g_backgroundBrush.get());
    g_backgroundBrush.reset(CreateSolidBrush(c));
    return static_cast<HBRUSH>(g_backgroundBrush.get());
}

void releaseMainDrawingObjects()
{
    g_backgroundBrush.reset();
}

void forgetMainWindow(HWND w)
{
    HWND expected = w;
    g_main.compare_exchange_strong(expected, nullptr);
    if (g_modeless.load() == w) g_modeless = nullptr;
}

} // namespace detail

void setWindowStyle(int flags)
{
    MainSettings& s = g_settings;
    s.style = 0x2000;
    s.exStyle = 0x100;
    s.noMenu = false;
    s.closeToProgram = false;
    if (flags & 1) s.style = 0x12000;
    if (flags & 2) s.style |= 0x20000;
    if (flags & 4) s.style |= 0x40000;
    if (flags & 8) s.style |= 0x80000;
    if (flags & 0x10) s.noMenu = true;
    if (flags & 0x40) {
        s.style |= 0x80000000;
        s.style &= ~0x00C00000u;
        s.exStyle &= ~0x100u;
    }
    if (flags & 0x200) s.closeToProgram = true;
    if (flags & 0x400) s.exStyle |= 0x80;
}

void setWindowTitle(const std::string& title)
{
    g_settings.title = title;
    if (HWND w = g_main.load()) SetWindowTextA(w, title.c_str());
}

void setWindowPosition(int x, int y, int width, int height)
{
    if (x < 0 || y < 0) raiseWarning(223);
    if (HWND w = g_main.load()) {
        callByName("USER32", "SetWindowPos", {w, 0, x, y, width, height, 4});
        return;
    }
    detail::MainWindowBlock b{x, y, width, height, nullptr};
    sendRequest(ReqCreateMainWindow, &b);
}

Handle mainWindow()
{
    return handleOf(g_main.load());
}

int screenWidth()
{
    return GetSystemMetrics(SM_CXSCREEN);
}

int screenHeight()
{
    return GetSystemMetrics(SM_CYSCREEN);
}

std::uint32_t convertColour(std::uint32_t colour)
{
    if (trueColor()) return colour;
    // 15-bit colour: five bits each of red, green and blue.
    auto part = [&](int shift) {
        return static_cast<std::uint32_t>(static_cast<float>((colour >> shift) & 31) * 8.226f);
    };
    return RGB(part(0), part(5), part(10));
}

void setBackground(std::uint32_t colour)
{
    const COLORREF c = convertColour(colour);
    if (!g_main.load()) setWindowPosition(0, 0, 640, 480);
    HWND w = g_main.load();
    if (!w) return;
    // The window procedure erases with this colour from now on, so the
    // fill survives every later repaint.
    g_background = c;
    callByName("USER32", "InvalidateRect", {w, 0, 1});
    callByName("USER32", "UpdateWindow", {w});
}

namespace {

// Controls of a fixed class and style; arguments: parent, text, x, y,
// width, height.
struct PlainType {
    const char* name;
    const char* cls;
    DWORD style;
};
constexpr PlainType kPlainTypes[] = {
    {"button", "BUTTON", 0x50010000},     {"defbutton", "BUTTON", 0x50010001},
    {"checkbox", "BUTTON", 0x50010003},   {"radiobutton", "BUTTON", 0x50010009},
    {"text", "STATIC", 0x50000000},       {"groupbox", "BUTTON", 0x50020007},
    {"hscroll", "SCROLLBAR", 0x50010000}, {"vscroll", "SCROLLBAR", 0x50010001},
};

Handle createPlain(const PlainType& p, const std::vector<Value>& args)
{
    const Handle h = createTyped(p.cls, p.style, 0, args, args[1].s, args[5].i);
    if (h && p.cls == std::string("SCROLLBAR")) {
        detail::runOnGui([h] {
            SetScrollRange(hwnd(h), SB_CTL, 0, 100, FALSE);
            SetScrollPos(hwnd(h), SB_CTL, 0, TRUE);
        });
    }
    return h;
}

// A negative height: "edit" hides what is typed (a password field),
// "multiedit" has no horizontal scroll bar.
Handle createEdit(const std::string& t, const std::vector<Value>& args)
{
    const int h = args[5].i;
    DWORD style;
    if (t == "edit")
        style = h < 0 ? 0x500100A0 : 0x50010080;
    else
        style = h < 0 ? (0x50311144 & ~0x100000u) : 0x50311144;
    return createTyped("EDIT", style, 0x200, args, args[1].s, std::abs(h));
}

// The text argument holds flags (1 sorted, 2 multiple selection); a
// "sortedlistbox" also takes it as its window text.
Handle createListBox(const std::string& t, const std::vector<Value>& args)
{
    const bool sorted = t == "sortedlistbox";
    DWORD style = sorted ? 0x50B101C3 : 0x503101C1;
    const int flags = flagsOf(args[1].s, 0);
    if (flags & 1) style |= 0x2;
    if (flags & 2) style |= 0x8;
    return createTyped("LISTBOX", style, 0x200, args, sorted ? args[1].s : std::string(), args[5].i);
}

// Flags in the text argument: 1 sorted, 2 editable (a drop-down instead
// of a drop-down list); none given means sorted.
Handle createChoiceBox(const std::string&, const std::vector<Value>& args)
{
    DWORD style = 0x54210603;
    const int flags = flagsOf(args[1].s, 1);
    if (flags & 1) style |= 0x100;
    if (flags & 2) style = (style & ~0x3u) | 0x2;
    return createTyped("COMBOBOX", style, 0, args, std::string(), args[5].i);
}

Handle createIcon(const std::string&, const std::vector<Value>& args)
{
    detail::CreateWindowBlock b;
    b.className = "STATIC";
    b.text = args[1].s.c_str();
    b.style = 0x50000003;
    b.parent = hwnd(args[0].i);
    b.x = args[2].i;
    b.y = args[3].i;
    return handleOf(sendCreate(b));
}

Handle createLDialog(const std::string&, const std::vector<Value>& args)
{
    detail::DialogBlock b;
    b.parent = hwnd(args[0].i);
    sendRequest(ReqCreateLDialog, &b);
    if (b.result) {
        SetWindowTextA(b.result, args[1].s.c_str());
        MoveWindow(b.result, args[2].i, args[3].i, args[4].i, args[5].i, TRUE);
    }
    return handleOf(b.result);
}

Handle createDialogWindowOfType(const std::string&, const std::vector<Value>& args)
{
    detail::DialogWindowBlock b;
    b.title = args[1].s.c_str();
    b.owner = hwnd(args[0].i);
    b.x = args[2].i;
    b.y = args[3].i;
    b.width = args[4].i;
    b.height = args[5].i;
    sendRequest(ReqCreateDialogWindow, &b);
    return handleOf(b.result);
}

Handle createFontOfType(const std::string&, const std::vector<Value>& args)
{
    return createFont(args);
}

// Arguments: owner (0: the main window), control, text.
Handle createTooltip(const std::string&, const std::vector<Value>& args)
{
    detail::TooltipBlock b;
    b.owner = args[0].i ? hwnd(args[0].i) : g_main.load();
    b.control = hwnd(args[1].i);
    b.text = args[2].s.c_str();
    sendRequest(ReqTooltip, &b);
    return handleOf(b.result);
}

// The other built-in types: the arguments they need at least (else error
// 212) and how they are made.
struct BuiltInType {
    const char* name;
    std::size_t arguments;
    Handle (*make)(const std::string& type, const std::vector<Value>& args);
};
constexpr BuiltInType kBuiltInTypes[] = {
    {"edit", 6, createEdit},          {"multiedit", 6, createEdit},
    {"listbox", 6, createListBox},    {"sortedlistbox", 6, createListBox},
    {"choicebox", 6, createChoiceBox}, {"icon", 4, createIcon},
    {"dialog", 6, createLDialog},     {"window", 6, createDialogWindowOfType},
    {"font", 2, createFontOfType},    {"tooltip", 3, createTooltip},
};

} // namespace

Handle create(const std::string& typeName, const std::vector<Value>& args)
{
    const std::string t = lowerAscii(typeName);
    for (const PlainType& p : kPlainTypes)
        if (t == p.name) return need(args, 6) ? createPlain(p, args) : 0;
    for (const BuiltInType& b : kBuiltInTypes)
        if (t == b.name) return need(args, b.arguments) ? b.make(t, args) : 0;
    std::function<std::int32_t(const std::vector<Value>&)> proc;
    {
        std::lock_guard lock(g_procsMutex);
        if (auto it = g_createProcs.find(t); it != g_createProcs.end()) proc = it->second;
    }
    if (proc) {
        ParamFrame frame(args);
        return proc(args);
    }
    raiseError(101, upper(typeName));
    return 0;
}

void registerCreateProc(const std::string& name,
                        std::function<std::int32_t(const std::vector<Value>&)> proc)
{
    std::lock_guard lock(g_procsMutex);
    g_createProcs[lowerAscii(name)] = std::move(proc);
}

Handle createControl(const std::string& className, const std::string& text, std::uint32_t style,
                     int x, int y, int width, int height, Handle parent, int id,
                     std::uint32_t exStyle)
{
    detail::CreateWindowBlock b;
    b.explicitId = true;
    b.className = className.c_str();
    b.text = text.c_str();
    b.style = style;
    b.exStyle = exStyle;
    b.x = x;
    b.y = y;
    b.width = width;
    b.height = height;
    b.parent = hwnd(parent);
    b.idOrMenu = id;
    b.instance = instance();
    return handleOf(sendCreate(b));
}

void setCurrentFont(std::int32_t setting)
{
    g_fontSetting = setting;
}

std::string getText(Handle window)
{
    HWND w = hwnd(window);
    if (!w || !IsWindow(w)) return std::string();
    int length = GetWindowTextLengthA(w);
    if (length <= 0) length = 256;
    std::vector<char> buf(static_cast<std::size_t>(length) + 4, '\0');
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == GetCurrentProcessId()) {
        GetWindowTextA(w, buf.data(), length + 2);
    } else {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(w, WM_GETTEXT, static_cast<WPARAM>(length + 2),
                            reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, 5000, &ignored);
    }
    buf.back() = '\0';
    return std::string(buf.data());
}

void setText(Handle window, const std::string& text)
{
    SetWindowTextA(hwnd(window), text.c_str());
}

void enable(Handle window, bool on)
{
    EnableWindow(hwnd(window), on ? TRUE : FALSE);
    if (!on) {
        Handle expected = window;
        detail::ev.focusRecord.compare_exchange_strong(expected, 0);
    }
}

int show(Handle window, int mode)
{
    return static_cast<int>(callByName("USER32", "ShowWindow", {hwnd(window), mode}));
}

int destroy(Handle window)
{
    detail::DestroyBlock b{hwnd(window), FALSE};
    sendRequest(ReqDestroyWindow, &b);
    return b.result;
}

namespace {

struct TitleSearch {
    const std::string* prefix;
    HWND found;
};

BOOL CALLBACK matchTitle(HWND w, LPARAM lp)
{
    auto* s = reinterpret_cast<TitleSearch*>(lp);
    char title[512] = {};
    GetWindowTextA(w, title, sizeof(title));
    if (s->prefix->empty() || equalsNoCase(title, *s->prefix, s->prefix->size())) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

} // namespace

Handle findWindow(const std::string& titlePrefix)
{
    TitleSearch search{&titlePrefix, nullptr};
    EnumWindows(matchTitle, reinterpret_cast<LPARAM>(&search));
    return handleOf(search.found);
}

int listAdd(Handle list, const std::string& text)
{
    HWND w = hwnd(list);
    switch (listKind(w)) {
    case ListKind::ListBox:
        return static_cast<int>(SendMessageA(w, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    case ListKind::ComboBox:
        return static_cast<int>(SendMessageA(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    case ListKind::ListView: return listViewAddRow(w, text);
    case ListKind::None: break;
    }
    raiseError(280);
    return -1;
}

int listSelect(Handle list, int start, const std::string& text)
{
    HWND w = hwnd(list);
    const auto str = reinterpret_cast<LPARAM>(text.c_str());
    switch (listKind(w)) {
    case ListKind::ListBox:
        if (GetWindowLongA(w, GWL_STYLE) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) {
            const LRESULT index = SendMessageA(w, LB_FINDSTRING, static_cast<WPARAM>(start), str);
            if (index != LB_ERR) SendMessageA(w, LB_SETSEL, TRUE, index);
            return static_cast<int>(index);
        }
        return static_cast<int>(SendMessageA(w, LB_SELECTSTRING, static_cast<WPARAM>(start), str));
    case ListKind::ComboBox:
        return static_cast<int>(SendMessageA(w, CB_SELECTSTRING, static_cast<WPARAM>(start), str));
    case ListKind::ListView: {
        LVFINDINFOA find{};
        find.flags = LVFI_STRING;
        find.psz = text.c_str();
        const int index = static_cast<int>(
            SendMessageA(w, LVM_FINDITEMA, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(&find)));
        if (index < 0) return index;
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | (IsWindowVisible(w) ? LVIS_FOCUSED : 0);
        SendMessageA(w, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
        SendMessageA(w, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
        return index;
    }
    case ListKind::None: break;
    }
    raiseError(280);
    return -1;
}

namespace {

// A list operation that is one message of each list kind; error 280 on
// another control.
struct ListMessages {
    UINT listBox, comboBox, listView;
};

int sendListMessage(Handle list, const ListMessages& m, WPARAM wParam)
{
    HWND w = hwnd(list);
    UINT message = 0;
    switch (listKind(w)) {
    case ListKind::ListBox: message = m.listBox; break;
    case ListKind::ComboBox: message = m.comboBox; break;
    case ListKind::ListView: message = m.listView; break;
    case ListKind::None:
        raiseError(280);
        return -1;
    }
    return static_cast<int>(SendMessageA(w, message, wParam, 0));
}

} // namespace

int listDelete(Handle list, int index)
{
    return sendListMessage(list, {LB_DELETESTRING, CB_DELETESTRING, LVM_DELETEITEM}, static_cast<WPARAM>(index));
}

int listCount(Handle list)
{
    return sendListMessage(list, {LB_GETCOUNT, CB_GETCOUNT, LVM_GETITEMCOUNT}, 0);
}

int listSelection(Handle list)
{
    HWND w = hwnd(list);
    switch (listKind(w)) {
    case ListKind::ListBox: return static_cast<int>(SendMessageA(w, LB_GETCURSEL, 0, 0));
    case ListKind::ComboBox: return static_cast<int>(SendMessageA(w, CB_GETCURSEL, 0, 0));
    case ListKind::ListView: {
        int highest = -1;
        for (int i = -1;;) {
            i = static_cast<int>(SendMessageA(w, LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED));
            if (i < 0 || i <= highest) break;
            highest = i;
        }
        return highest;
    }
    case ListKind::None: break;
    }
    raiseError(280);
    return -1;
}

std::string listItemText(Handle list, int index)
{
    HWND w = hwnd(list);
    const auto kind = listKind(w);
    if (kind == ListKind::ListBox || kind == ListKind::ComboBox) {
        const bool lb = kind == ListKind::ListBox;
        const LRESULT length =
            SendMessageA(w, lb ? LB_GETTEXTLEN : CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length < 0) return std::string();
        std::vector<char> buf(static_cast<std::size_t>(length) + 2, '\0');
        SendMessageA(w, lb ? LB_GETTEXT : CB_GETLBTEXT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(buf.data()));
        return std::string(buf.data());
    }
    if (kind == ListKind::ListView) {
        char buf[1024] = {};
        LVITEMA item{};
        item.pszText = buf;
        item.cchTextMax = sizeof(buf);
        SendMessageA(w, LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
        return std::string(buf);
    }
    raiseError(280);
    return std::string();
}

void stringListClear()
{
    g_stringList.clear();
    g_stringListInUse = false;
}

void stringListAdd(const std::string& text)
{
    g_stringList.push_back(text);
    g_stringListInUse = true;
}

int stringListMoveTo(Handle control)
{
    if (!g_stringListInUse) return 0;
    HWND w = hwnd(control);
    switch (listKind(w)) {
    case ListKind::ListBox:
    case ListKind::ComboBox:
    case ListKind::ListView:
        for (const std::string& s : g_stringList) listAdd(control, s);
        return static_cast<int>(g_stringList.size());
    case ListKind::None: break;
    }
    if (equalsNoCase(className(w), "EDIT", 4) && className(w).size() == 4) {
        std::string joined;
        for (const std::string& s : g_stringList) {
            joined += s;
            joined += "\r\n";
        }
        if (!joined.empty()) joined.resize(joined.size() - 2);
        SetWindowTextA(w, joined.c_str());
        return static_cast<int>(g_stringList.size());
    }
    raiseError(280);
    return 0;
}

} // namespace rt
