// winctl: a Windows-side driver for end-to-end tests. Runs under the same
// Wine as the program under test and answers questions about its windows.
//
//   winctl serve                  stays running: one command a line on standard input
//                                 (fields separated by tabs, texts escaped as below),
//                                 answered by zero or more lines and a line "."; a
//                                 failure answers "!" + reason, then "."
//   winctl COMMAND ARGS...        one command, its answer unescaped (exit 1: failed)
//   winctl wait MS COMMAND ARGS   the command repeated until it answers something other
//                                 than nothing or "0", at most MS milliseconds (exit 1)
// Commands (HWND as a decimal number; 0 answers "nothing found"):
//   list            top-level windows: hwnd visible class title
//   find PREFIX     first top-level window whose title starts with PREFIX (any case)
//   box CAPTION     a visible message box (#32770) with this caption whose text is in place
//   boxtext HWND    the text of a message box (the static with identifier 65535)
//   children HWND   one line per child window, in creation order:
//                   hwnd id class style exstyle x y w h enabled checked text
//                   (x, y relative to HWND's client area; checked is a button's
//                   BM_GETCHECK or a combo box's selection, else -1)
//   child HWND ID   the child with this identifier
//   items HWND      the entries of a combo box or list box, read through the Unicode
//                   messages (Wine hands another process's ANSI item texts over cut)
//   selection HWND  the current selection of a list box or combo box
//   text HWND | settext HWND TEXT
//   send|post HWND MSG WPARAM LPARAM   (send prints the result)
//   click HWND      BM_CLICK to a button;  close HWND: WM_CLOSE
//   press HWND ID   command ID to a dialog (as a click on that button)
//   rect HWND       screen rectangle: left top right bottom
//   info HWND       class, styles, parent, owner, rect, client, pid, visible, enabled, id
//                   and font as key=value lines
//   exists HWND     1 or 0
//   focus HWND      the focus window of the thread that owns HWND
//   lnk PATH        target, arguments and working folder of a shortcut
// Only as one command of their own:
//   clip            clipboard CF_TEXT, bytes exactly as stored (exit 1: no text, 3: the
//                   clipboard could not be opened)
//   clearclip       empties the clipboard (exit 3: it could not be opened)
//   holdclip MS     opens the clipboard, prints "held", keeps it open for MS milliseconds
//   desktop         keeps a window on the desktop until it is killed: Wine ends its
//                   desktop process, and the clipboard with it, a moment after the last
//                   program with a window has ended
// Texts are code page 1252; in serve's answers tab, CR, LF and backslash are written
// as \t, \r, \n and \\. Fonts cannot be checked from outside: Wine answers WM_GETFONT
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

bool g_serving = false;  // answers escaped, for the line protocol

std::string num(HWND h) { return std::to_string(static_cast<long long>(reinterpret_cast<intptr_t>(h))); }
HWND hwndArg(const std::string& s)
{
    return reinterpret_cast<HWND>(static_cast<intptr_t>(std::strtoll(s.c_str(), nullptr, 0)));
}

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
    for (HWND h : topLevel()) {
        const std::string t = textOf(h);
        if (t.size() >= prefix.size() && _strnicmp(t.c_str(), prefix.c_str(), prefix.size()) == 0) return h;
    }
    return nullptr;
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

bool isCombo(HWND h) { return _strnicmp(classOf(h).c_str(), "COMBOBOX", 8) == 0; }

std::vector<std::string> listItems(HWND h)
{
    const bool combo = isCombo(h);
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

HWND focusOfThread(HWND h)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

std::string fontOf(HWND h)
{
    DWORD_PTR font = 0;
    SendMessageTimeoutA(h, WM_GETFONT, 0, 0, SMTO_ABORTIFHUNG, 2000, &font);
    LOGFONTA lf{};
    if (!font || !GetObjectA(reinterpret_cast<HFONT>(font), sizeof lf, &lf)) return "";
    return std::string(lf.lfFaceName) + " " + std::to_string(lf.lfHeight) + " " + std::to_string(lf.lfWeight);
}

// -- the answer -------------------------------------------------------------

std::string escaped(const std::string& s)
{
    if (!g_serving) return s;
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
        f.push_back(unescaped(line.substr(start, tab - start)));
        if (tab == std::string::npos) return f;
        start = tab + 1;
    }
}

using Answer = std::vector<std::string>;

std::string joined(std::initializer_list<std::string> parts)
{
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : "\t") + p;
    return out;
}

void children(HWND top, Answer& a)
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
        std::snprintf(head, sizeof head, "%s\t%d\t%s\t0x%08lx\t0x%08lx\t%ld\t%ld\t%ld\t%ld\t%d\t%ld\t",
                      num(h).c_str(), GetDlgCtrlID(h), cls.c_str(),
                      static_cast<unsigned long>(GetWindowLongA(h, GWL_STYLE)),
                      static_cast<unsigned long>(GetWindowLongA(h, GWL_EXSTYLE)), r.left, r.top, r.right - r.left,
                      r.bottom - r.top, IsWindowEnabled(h) ? 1 : 0, checked);
        a.push_back(head + escaped(textOf(h)));
    }
}

std::string hex(LONG v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(v));
    return buf;
}

void info(HWND h, Answer& a)
{
    RECT r{}, c{};
    GetWindowRect(h, &r);
    GetClientRect(h, &c);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    auto n = [](long v) { return std::to_string(v); };
    a = {"class=" + classOf(h), "style=" + hex(GetWindowLongA(h, GWL_STYLE)),
         "exstyle=" + hex(GetWindowLongA(h, GWL_EXSTYLE)), "parent=" + num(GetParent(h)),
         "owner=" + num(GetWindow(h, GW_OWNER)),
         "rect=" + n(r.left) + " " + n(r.top) + " " + n(r.right) + " " + n(r.bottom),
         "client=" + n(c.right) + " " + n(c.bottom), "pid=" + std::to_string(pid),
         "visible=" + n(IsWindowVisible(h) ? 1 : 0), "enabled=" + n(IsWindowEnabled(h) ? 1 : 0),
         "id=" + n(GetDlgCtrlID(h)), "font=" + escaped(fontOf(h))};
}

bool shortcut(const std::string& path, Answer& a)
{
    if (FAILED(CoInitialize(nullptr))) return false;
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t wide[MAX_PATH * 2] = {};
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH * 2);
        if (SUCCEEDED(file->Load(wide, STGM_READ))) {
            char target[MAX_PATH] = {}, args[MAX_PATH] = {}, dir[MAX_PATH] = {};
            link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
            link->GetArguments(args, MAX_PATH);
            link->GetWorkingDirectory(dir, MAX_PATH);
            a = {"target=" + escaped(target), "args=" + escaped(args), "workdir=" + escaped(dir)};
        }
    }
    if (file) file->Release();
    if (link) link->Release();
    CoUninitialize();
    return !a.empty();
}

enum class Result { Done, Failed, Unknown };

// One command; its answer lines in `a`.
Result answer(const std::vector<std::string>& f, Answer& a)
{
    const std::string& c = f[0];
    auto need = [&](std::size_t n) { return f.size() >= n + 1; };
    const HWND h = f.size() > 1 ? hwndArg(f[1]) : nullptr;
    auto done = [](bool ok) { return ok ? Result::Done : Result::Failed; };
    if (c == "list") {
        for (HWND top : topLevel())
            a.push_back(
                joined({num(top), IsWindowVisible(top) ? "1" : "0", classOf(top), escaped(textOf(top))}));
    } else if (c == "find" && need(1)) {
        a.push_back(num(findPrefix(f[1])));
    } else if (c == "box" && need(1)) {
        a.push_back(num(readyBox(f[1])));
    } else if (c == "boxtext" && need(1)) {
        const HWND text = GetDlgItem(h, 0xFFFF);
        if (!text) return Result::Failed;
        a.push_back(escaped(textOf(text)));
    } else if (c == "children" && need(1)) {
        children(h, a);  // none once the window is gone
    } else if (c == "child" && need(2)) {
        a.push_back(num(GetDlgItem(h, std::atoi(f[2].c_str()))));
    } else if (c == "items" && need(1)) {
        for (const std::string& item : listItems(h)) a.push_back(escaped(item));
    } else if (c == "selection" && need(1)) {
        a.push_back(std::to_string(SendMessageA(h, isCombo(h) ? CB_GETCURSEL : LB_GETCURSEL, 0, 0)));
    } else if (c == "text" && need(1)) {
        if (!IsWindow(h)) return Result::Failed;
        a.push_back(escaped(textOf(h)));
    } else if (c == "settext" && need(2)) {
        DWORD_PTR r = 0;
        SendMessageTimeoutA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(f[2].c_str()), SMTO_ABORTIFHUNG, 2000,
                            &r);
    } else if ((c == "send" || c == "post") && need(4)) {
        const UINT m = static_cast<UINT>(std::strtoul(f[2].c_str(), nullptr, 0));
        const WPARAM w = static_cast<WPARAM>(std::strtoull(f[3].c_str(), nullptr, 0));
        const LPARAM l = static_cast<LPARAM>(std::strtoll(f[4].c_str(), nullptr, 0));
        if (c == "post") return done(PostMessageA(h, m, w, l) != 0);
        DWORD_PTR r = 0;
        if (!SendMessageTimeoutA(h, m, w, l, SMTO_ABORTIFHUNG, 5000, &r)) return Result::Failed;
        a.push_back(std::to_string(static_cast<long long>(static_cast<LONG_PTR>(r))));
    } else if (c == "click" && need(1)) {
        return done(PostMessageA(h, BM_CLICK, 0, 0) != 0);
    } else if (c == "close" && need(1)) {
        return done(PostMessageA(h, WM_CLOSE, 0, 0) != 0);
    } else if (c == "press" && need(2)) {
        const int id = std::atoi(f[2].c_str());
        return done(PostMessageA(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(h, id))) != 0);
    } else if (c == "rect" && need(1)) {
        RECT r{};
        if (!GetWindowRect(h, &r)) return Result::Failed;
        a.push_back(joined({std::to_string(r.left), std::to_string(r.top), std::to_string(r.right),
                            std::to_string(r.bottom)}));
    } else if (c == "info" && need(1)) {
        if (!IsWindow(h)) return Result::Failed;
        info(h, a);
    } else if (c == "exists" && need(1)) {
        a.push_back(IsWindow(h) ? "1" : "0");
    } else if (c == "focus" && need(1)) {
        a.push_back(num(focusOfThread(h)));
    } else if (c == "lnk" && need(1)) {
        return done(shortcut(f[1], a));
    } else {
        return Result::Unknown;
    }
    return Result::Done;
}

int serve()
{
    g_serving = true;
    _setmode(_fileno(stdin), _O_BINARY);
    std::string input;
    while (std::getline(std::cin, input)) {
        if (!input.empty() && input.back() == '\r') input.pop_back();
        if (input.empty()) continue;
        Answer a;
        if (answer(fields(input), a) != Result::Done) a = {"!failed: " + escaped(input)};
        for (const std::string& l : a) std::cout << l << '\n';
        std::cout << ".\n";
        std::cout.flush();
    }
    return 0;
}

// Another process may hold the clipboard open for a moment.
bool openClipboard(HWND owner)
{
    for (int i = 0; i < 250; ++i) {
        if (OpenClipboard(owner)) return true;
        Sleep(20);
    }
    return false;
}

int clipboard(const std::string& cmd, const std::vector<std::string>& f)
{
    // holdclip opens it for a window, as a clipboard manager does: Wine lets
    // any other opener without a window in while the owner has none either.
    HWND owner = nullptr;
    if (cmd == "holdclip")
        owner = CreateWindowExA(0, "STATIC", "holdclip", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!openClipboard(owner)) return 3;
    int rc = 0;
    if (cmd == "clip") {
        HANDLE data = GetClipboardData(CF_TEXT);
        const char* p = data ? static_cast<const char*>(GlobalLock(data)) : nullptr;
        if (p) std::fwrite(p, 1, std::strlen(p), stdout);
        if (data) GlobalUnlock(data);
        rc = data ? 0 : 1;
    } else if (cmd == "clearclip") {
        EmptyClipboard();
    } else {
        std::printf("held\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::strtoul(f.size() > 1 ? f[1].c_str() : "0", nullptr, 0)));
    }
    CloseClipboard();
    if (owner) DestroyWindow(owner);
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> f(argv + 1, argv + argc);
    if (f.empty()) return 2;
    const std::string cmd = f[0];
    if (cmd == "serve") return serve();
    if (cmd == "clip" || cmd == "clearclip" || cmd == "holdclip") return clipboard(cmd, f);
    if (cmd == "desktop") {
        CreateWindowExA(0, "STATIC", "winctl desktop", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        MSG m;
        while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
        return 0;
    }
    DWORD end = 0;
    if (cmd == "wait" && f.size() >= 3) {
        end = GetTickCount() + static_cast<DWORD>(std::strtoul(f[1].c_str(), nullptr, 0));
        f.erase(f.begin(), f.begin() + 2);
    }
    for (;;) {
        Answer a;
        const Result r = answer(f, a);
        if (r == Result::Unknown) {
            std::printf("winctl: unknown command %s\n", cmd.c_str());
            return 2;
        }
        const bool found = r == Result::Done && !a.empty() && a[0] != "0";
        if (!end || found) {
            for (const std::string& l : a) std::printf("%s\n", l.c_str());
            return r == Result::Done ? 0 : 1;
        }
        if (static_cast<int>(GetTickCount() - end) >= 0) return 1;
        Sleep(50);
    }
}
