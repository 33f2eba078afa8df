// winctl: a Windows-side driver for end-to-end tests. Runs under the same
// Wine as the program under test and prints what it finds on stdout.
//
//   list                          top-level windows: hwnd pid visible class "title"
//   find PREFIX                   first top-level window whose title starts with PREFIX
//   wait PREFIX MS                the same, polled until MS milliseconds pass
//   waitbox CAPTION MS            a dialog (#32770) with exactly this caption
//   waitgone HWND MS              until the window no longer exists
//   boxtext HWND                  text of a message box (static 65535)
//   children HWND                 hwnd id class style exstyle "text" per child
//   child HWND ID                 handle of the child with this identifier
//   info HWND                     class, styles, parent, owner, rectangles, pid, font
//   gettext HWND | settext HWND TEXT
//   press HWND ID                 command ID to a dialog (as a click on that button)
//   click HWND                    BM_CLICK to a button
//   post|send HWND MSG WPARAM LPARAM
//   close HWND                    WM_CLOSE
//   items HWND                    items of a list box or combo box, one per line
//   selection HWND                current selection of a list box or combo box
//   clip                          clipboard CF_TEXT, bytes exactly as stored (exit 1:
//                                 no text, 3: clipboard could not be opened)
//   holdclip MS                   opens the clipboard, prints "held", keeps it open for MS
//                                 milliseconds (exit 3: it could not be opened)
//   clearclip                     empties the clipboard (exit 3: it could not be opened)
//   desktop                       keeps a window on the desktop until it is killed: Wine
//                                 ends its desktop process, and the clipboard with it, a
//                                 moment after the last program with a window has ended
//   exists HWND                   exit 0 when the window exists
//   witems HWND                   items as "items", read through the Unicode messages
//   focus HWND                    the focus window of the thread that owns HWND
//   lnk PATH                      target, arguments and working folder of a shortcut
//   serve                         stays running and answers questions (below)
// Exit code 0 on success, 1 when nothing was found or a wait ran out.
//
// serve: one process answers many questions, so a test does not start a
// Wine process for each. Reads one command per line from standard input
// (fields separated by tabs, texts escaped as below) and answers with zero or
// more lines followed by a line ".". A failure answers "!" + reason, then ".".
//   children HWND   one line per child window, in creation order:
//                   hwnd id class style exstyle x y w h enabled checked text
//                   (x, y relative to HWND's client area; checked is a
//                   button's BM_GETCHECK or a combo box's selection, else -1)
//   items HWND      the entries of a combo box or list box
//   text HWND       the window text
//   settext HWND TEXT
//   send HWND MSG WPARAM LPARAM    prints the result
//   post HWND MSG WPARAM LPARAM
//   list            top-level windows: hwnd visible class title
//   box CAPTION     a visible message box (#32770) with this caption whose
//                   text is in place, or 0
//   rect HWND       screen rectangle: left top right bottom
//   exists HWND     1 or 0
// Texts are code page 1252; tab, CR, LF and backslash are written as \t, \r,
// \n and \\. Fonts cannot be checked from outside: Wine answers WM_GETFONT
// from another process with nothing.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>
#include <fcntl.h>
#include <io.h>

namespace {

long long num(HWND h) { return static_cast<long long>(reinterpret_cast<intptr_t>(h)); }
HWND hwndArg(const char* s) { return reinterpret_cast<HWND>(static_cast<intptr_t>(std::strtoll(s, nullptr, 0))); }

std::string textOf(HWND h)
{
    DWORD_PTR len = 0;
    SendMessageTimeoutA(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len);
    std::string buf(len + 2, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, 2000,
                        &got);
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

std::string classOf(HWND h)
{
    char buf[256] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

bool startsWithNoCase(const std::string& s, const std::string& prefix)
{
    return s.size() >= prefix.size() && _strnicmp(s.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// Named callbacks: on 32-bit builds enumeration callbacks are stdcall,
// which a lambda does not convert to.
BOOL CALLBACK collect(HWND h, LPARAM p)
{
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
}

std::vector<HWND> topLevel()
{
    std::vector<HWND> all;
    EnumWindows(collect, reinterpret_cast<LPARAM>(&all));
    return all;
}

HWND findPrefix(const std::string& prefix)
{
    for (HWND h : topLevel())
        if (startsWithNoCase(textOf(h), prefix)) return h;
    return nullptr;
}

HWND findBox(const std::string& caption)
{
    for (HWND h : topLevel())
        if (classOf(h) == "#32770" && IsWindowVisible(h) && textOf(h) == caption) return h;
    return nullptr;
}

template <class F> HWND poll(F f, int ms)
{
    DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    for (;;) {
        if (HWND h = f()) return h;
        if (static_cast<int>(GetTickCount() - end) >= 0) return nullptr;
        Sleep(50);
    }
}

int printHwnd(HWND h)
{
    if (!h) return 1;
    std::printf("%lld\n", num(h));
    return 0;
}

void out(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

// Items of a list box or combo box, read through the Unicode messages and
// turned into the ANSI code page: Wine hands the ANSI item texts of another
// process's list over cut after the first character.
std::vector<std::string> listItems(HWND h)
{
    const bool combo = _strnicmp(classOf(h).c_str(), "COMBOBOX", 8) == 0;
    const LRESULT n = SendMessageW(h, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
    std::vector<std::string> items;
    for (LRESULT i = 0; i < n; ++i) {
        const LRESULT len = SendMessageW(h, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0);
        std::wstring w(len > 0 ? len + 1 : 1, L'\0');
        SendMessageW(h, combo ? CB_GETLBTEXT : LB_GETTEXT, i, reinterpret_cast<LPARAM>(w.data()));
        char buf[1024] = {};
        WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, buf, sizeof buf - 1, nullptr, nullptr);
        items.push_back(buf);
    }
    return items;
}

// The window with the keyboard focus in the thread that owns `h`.
HWND focusOfThread(HWND h)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

// -- serve ------------------------------------------------------------------

std::string escaped(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

std::string unescaped(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char n = s[++i];
            out += n == 't' ? '\t' : n == 'r' ? '\r' : n == 'n' ? '\n' : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> f;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return f;
        start = tab + 1;
    }
}

void line(const std::string& s) { std::cout << s << '\n'; }

void servedChildren(HWND top)
{
    std::vector<HWND> kids;
    EnumChildWindows(top, collect, reinterpret_cast<LPARAM>(&kids));
    for (HWND h : kids) {
        RECT r{};
        GetWindowRect(h, &r);
        MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
        const std::string cls = classOf(h);
        long checked = -1;
        if (_stricmp(cls.c_str(), "Button") == 0)
            checked = static_cast<long>(SendMessageA(h, BM_GETCHECK, 0, 0));
        else if (_stricmp(cls.c_str(), "ComboBox") == 0)
            checked = static_cast<long>(SendMessageA(h, CB_GETCURSEL, 0, 0));
        char head[256];
        std::snprintf(head, sizeof head, "%lld\t%d\t%s\t0x%08lx\t0x%08lx\t%ld\t%ld\t%ld\t%ld\t%d\t%ld\t",
                      num(h), GetDlgCtrlID(h), cls.c_str(), static_cast<unsigned long>(GetWindowLongA(h, GWL_STYLE)),
                      static_cast<unsigned long>(GetWindowLongA(h, GWL_EXSTYLE)), r.left, r.top, r.right - r.left,
                      r.bottom - r.top, IsWindowEnabled(h) ? 1 : 0, checked);
        line(head + escaped(textOf(h)));
    }
}

// A message box seen while it is still being built has no text yet (the
// static with identifier 0xFFFF).
HWND readyBox(const std::string& caption)
{
    for (HWND h : topLevel()) {
        if (classOf(h) != "#32770" || !IsWindowVisible(h) || textOf(h) != caption) continue;
        HWND text = GetDlgItem(h, 0xFFFF);
        if (text && !textOf(text).empty()) return h;
    }
    return nullptr;
}

bool served(const std::vector<std::string>& f)
{
    const std::string& c = f[0];
    auto need = [&](std::size_t n) { return f.size() >= n + 1; };
    const HWND h = f.size() > 1 ? hwndArg(f[1].c_str()) : nullptr;
    if (c == "children" && need(1)) {
        if (!IsWindow(h)) return false;
        servedChildren(h);
    } else if (c == "items" && need(1)) {
        for (const std::string& item : listItems(h)) line(escaped(item));
    } else if (c == "text" && need(1)) {
        if (!IsWindow(h)) return false;
        line(escaped(textOf(h)));
    } else if (c == "settext" && need(2)) {
        const std::string text = unescaped(f[2]);
        DWORD_PTR r = 0;
        SendMessageTimeoutA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 2000, &r);
    } else if ((c == "send" || c == "post") && need(4)) {
        const UINT m = static_cast<UINT>(std::strtoul(f[2].c_str(), nullptr, 0));
        const WPARAM w = static_cast<WPARAM>(std::strtoull(f[3].c_str(), nullptr, 0));
        const LPARAM l = static_cast<LPARAM>(std::strtoll(f[4].c_str(), nullptr, 0));
        if (c == "post") return PostMessageA(h, m, w, l) != 0;
        DWORD_PTR r = 0;
        if (!SendMessageTimeoutA(h, m, w, l, SMTO_ABORTIFHUNG, 5000, &r)) return false;
        line(std::to_string(static_cast<long long>(static_cast<LONG_PTR>(r))));
    } else if (c == "list") {
        for (HWND top : topLevel())
            line(std::to_string(num(top)) + "\t" + (IsWindowVisible(top) ? "1" : "0") + "\t" + classOf(top) + "\t" +
                 escaped(textOf(top)));
    } else if (c == "box" && need(1)) {
        line(std::to_string(num(readyBox(unescaped(f[1])))));
    } else if (c == "rect" && need(1)) {
        RECT r{};
        if (!GetWindowRect(h, &r)) return false;
        line(std::to_string(r.left) + "\t" + std::to_string(r.top) + "\t" + std::to_string(r.right) + "\t" +
             std::to_string(r.bottom));
    } else if (c == "exists" && need(1)) {
        line(IsWindow(h) ? "1" : "0");
    } else {
        return false;
    }
    return true;
}

int serve()
{
    _setmode(_fileno(stdin), _O_BINARY);
    std::string input;
    while (std::getline(std::cin, input)) {
        if (!input.empty() && input.back() == '\r') input.pop_back();
        if (input.empty()) continue;
        if (!served(fields(input))) line("!failed: " + escaped(input));
        line(".");
        std::cout.flush();
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) return 2;
    std::string cmd = argv[1];
    auto need = [&](int n) {
        if (argc < n + 2) { std::fprintf(stderr, "winctl %s: missing arguments\n", cmd.c_str()); std::exit(2); }
    };

    if (cmd == "list") {
        for (HWND h : topLevel()) {
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            std::printf("%lld %lu %d %s \"", num(h), pid, IsWindowVisible(h) ? 1 : 0, classOf(h).c_str());
            out(textOf(h));
            std::printf("\"\n");
        }
        return 0;
    }
    if (cmd == "find") { need(1); return printHwnd(findPrefix(argv[2])); }
    if (cmd == "wait") {
        need(2);
        std::string p = argv[2];
        return printHwnd(poll([&] { return findPrefix(p); }, std::atoi(argv[3])));
    }
    if (cmd == "waitbox") {
        need(2);
        std::string c = argv[2];
        return printHwnd(poll([&] { return findBox(c); }, std::atoi(argv[3])));
    }
    if (cmd == "waitgone") {
        need(2);
        HWND h = hwndArg(argv[2]);
        HWND r = poll([&]() -> HWND { return IsWindow(h) ? nullptr : reinterpret_cast<HWND>(1); }, std::atoi(argv[3]));
        return r ? 0 : 1;
    }
    if (cmd == "exists") { need(1); return IsWindow(hwndArg(argv[2])) ? 0 : 1; }
    if (cmd == "boxtext") {
        need(1);
        HWND s = GetDlgItem(hwndArg(argv[2]), 0xFFFF);
        if (!s) return 1;
        out(textOf(s));
        return 0;
    }
    if (cmd == "children") {
        need(1);
        std::vector<HWND> kids;
        EnumChildWindows(hwndArg(argv[2]), collect, reinterpret_cast<LPARAM>(&kids));
        for (HWND h : kids) {
            std::printf("%lld %d %s 0x%08lx 0x%08lx \"", num(h), GetDlgCtrlID(h), classOf(h).c_str(),
                        static_cast<unsigned long>(GetWindowLongA(h, GWL_STYLE)),
                        static_cast<unsigned long>(GetWindowLongA(h, GWL_EXSTYLE)));
            out(textOf(h));
            std::printf("\"\n");
        }
        return 0;
    }
    if (cmd == "child") { need(2); return printHwnd(GetDlgItem(hwndArg(argv[2]), std::atoi(argv[3]))); }
    if (cmd == "info") {
        need(1);
        HWND h = hwndArg(argv[2]);
        if (!IsWindow(h)) return 1;
        RECT r{}, c{};
        GetWindowRect(h, &r);
        GetClientRect(h, &c);
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        DWORD_PTR font = 0;
        SendMessageTimeoutA(h, WM_GETFONT, 0, 0, SMTO_ABORTIFHUNG, 2000, &font);
        std::string face;
        if (font) {
            LOGFONTA lf{};
            if (GetObjectA(reinterpret_cast<HFONT>(font), sizeof lf, &lf)) {
                face = lf.lfFaceName;
                face += " " + std::to_string(lf.lfHeight) + " " + std::to_string(lf.lfWeight);
            }
        }
        std::printf("class=%s\nstyle=0x%08lx\nexstyle=0x%08lx\nparent=%lld\nowner=%lld\n"
                    "rect=%ld %ld %ld %ld\nclient=%ld %ld\npid=%lu\nvisible=%d\nenabled=%d\nid=%d\nfont=%s\n",
                    classOf(h).c_str(), static_cast<unsigned long>(GetWindowLongA(h, GWL_STYLE)),
                    static_cast<unsigned long>(GetWindowLongA(h, GWL_EXSTYLE)), num(GetParent(h)),
                    num(GetWindow(h, GW_OWNER)), r.left, r.top, r.right, r.bottom, c.right, c.bottom, pid,
                    IsWindowVisible(h) ? 1 : 0, IsWindowEnabled(h) ? 1 : 0, GetDlgCtrlID(h), face.c_str());
        return 0;
    }
    if (cmd == "gettext") { need(1); out(textOf(hwndArg(argv[2]))); return 0; }
    if (cmd == "settext") {
        need(2);
        DWORD_PTR r = 0;
        SendMessageTimeoutA(hwndArg(argv[2]), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]), SMTO_ABORTIFHUNG, 2000, &r);
        return 0;
    }
    if (cmd == "press") {
        need(2);
        HWND dlg = hwndArg(argv[2]);
        int id = std::atoi(argv[3]);
        HWND btn = GetDlgItem(dlg, id);
        return PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(btn)) ? 0 : 1;
    }
    if (cmd == "click") {
        need(1);
        return PostMessageA(hwndArg(argv[2]), BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (cmd == "post" || cmd == "send") {
        need(4);
        HWND h = hwndArg(argv[2]);
        UINT m = static_cast<UINT>(std::strtoul(argv[3], nullptr, 0));
        WPARAM w = static_cast<WPARAM>(std::strtoull(argv[4], nullptr, 0));
        LPARAM l = static_cast<LPARAM>(std::strtoll(argv[5], nullptr, 0));
        if (cmd == "post") return PostMessageA(h, m, w, l) ? 0 : 1;
        DWORD_PTR r = 0;
        if (!SendMessageTimeoutA(h, m, w, l, SMTO_ABORTIFHUNG, 5000, &r)) return 1;
        std::printf("%lld\n", static_cast<long long>(static_cast<LONG_PTR>(r)));
        return 0;
    }
    if (cmd == "close") { need(1); return PostMessageA(hwndArg(argv[2]), WM_CLOSE, 0, 0) ? 0 : 1; }
    if (cmd == "items" || cmd == "selection") {
        need(1);
        HWND h = hwndArg(argv[2]);
        bool combo = _strnicmp(classOf(h).c_str(), "COMBOBOX", 8) == 0;
        if (cmd == "selection") {
            std::printf("%ld\n", static_cast<long>(SendMessageA(h, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0)));
            return 0;
        }
        for (const std::string& item : listItems(h)) {
            out(item);
            std::printf("\n");
        }
        return 0;
    }
    if (cmd == "clip") {
        // Another process may hold the clipboard open for a moment.
        bool open = false;
        for (int i = 0; i < 250 && !(open = OpenClipboard(nullptr)); ++i) Sleep(20);
        if (!open) return 3;
        HANDLE data = GetClipboardData(CF_TEXT);
        if (!data) { CloseClipboard(); return 1; }
        const char* p = static_cast<const char*>(GlobalLock(data));
        if (p) out(p);
        GlobalUnlock(data);
        CloseClipboard();
        return 0;
    }
    if (cmd == "clearclip") {
        bool open = false;
        for (int i = 0; i < 250 && !(open = OpenClipboard(nullptr)); ++i) Sleep(20);
        if (!open) return 3;
        EmptyClipboard();
        CloseClipboard();
        return 0;
    }
    if (cmd == "desktop") {
        CreateWindowExA(0, "STATIC", "winctl desktop", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        MSG m;
        while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
        return 0;
    }
    if (cmd == "holdclip") {
        need(1);
        // Opened for a window, as a clipboard manager does: Wine lets any
        // other opener without a window in while the owner has none either.
        HWND owner = CreateWindowExA(0, "STATIC", "holdclip", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        bool open = false;
        for (int i = 0; i < 250 && !(open = OpenClipboard(owner)); ++i) Sleep(20);
        if (!open) return 3;
        std::printf("held\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 0)));
        CloseClipboard();
        DestroyWindow(owner);
        return 0;
    }
    if (cmd == "lnk") {
        need(1);
        if (FAILED(CoInitialize(nullptr))) return 1;
        IShellLinkA* link = nullptr;
        IPersistFile* file = nullptr;
        int rc = 1;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                       reinterpret_cast<void**>(&link))) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            wchar_t wide[MAX_PATH * 2] = {};
            MultiByteToWideChar(CP_ACP, 0, argv[2], -1, wide, MAX_PATH * 2);
            if (SUCCEEDED(file->Load(wide, STGM_READ))) {
                char target[MAX_PATH] = {}, args[MAX_PATH] = {}, dir[MAX_PATH] = {};
                link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
                link->GetArguments(args, MAX_PATH);
                link->GetWorkingDirectory(dir, MAX_PATH);
                std::printf("target=%s\nargs=%s\nworkdir=%s\n", target, args, dir);
                rc = 0;
            }
        }
        if (file) file->Release();
        if (link) link->Release();
        CoUninitialize();
        return rc;
    }
    if (cmd == "witems") {
        need(1);
        for (const std::string& item : listItems(hwndArg(argv[2]))) {
            out(item);
            std::printf("\n");
        }
        return 0;
    }
    if (cmd == "serve") return serve();
    if (cmd == "focus") { need(1); return printHwnd(focusOfThread(hwndArg(argv[2]))); }
    std::fprintf(stderr, "winctl: unknown command %s\n", cmd.c_str());
    return 2;
}
