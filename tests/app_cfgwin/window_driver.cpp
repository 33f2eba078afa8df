// window_driver: a Windows-side driver for the configuration-window tests
// that stays running, so a test asks many questions without starting a Wine
// process for each. Reads one command per line from standard input (fields
// separated by tabs, texts escaped as below) and answers with zero or more
// lines followed by a line ".". A failure answers "!" + reason, then ".".
//
//   children HWND   one line per child window, in creation order:
//                   hwnd id class style exstyle x y w h enabled checked text
//                   (x, y relative to HWND's client area; checked is a
//                   button's BM_GETCHECK or a combo box's selection, else -1)
//   items HWND      the entries of a combo box
//   text HWND       the window text
//   settext HWND TEXT
//   send HWND MSG WPARAM LPARAM    prints the result
//   post HWND MSG WPARAM LPARAM
//   list            top-level windows: hwnd visible class title
//   box CAPTION     a visible message box (#32770) with this caption whose
//                   text is in place, or 0
//   rect HWND       screen rectangle: left top right bottom
//   exists HWND     1 or 0
//
// Texts are code page 1252; tab, CR, LF and backslash are written as \t, \r,
// \n and \\. Combo box entries are read as wide text: the ANSI message does
// not come back intact across processes under Wine. Fonts cannot be checked
// from here: Wine answers WM_GETFONT from another process with nothing.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>
#include <fcntl.h>
#include <io.h>

namespace {

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

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> f;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return f;
        start = tab + 1;
    }
}

HWND hwndOf(const std::string& s) { return reinterpret_cast<HWND>(static_cast<intptr_t>(std::strtoll(s.c_str(), nullptr, 0))); }
long long num(HWND h) { return static_cast<long long>(reinterpret_cast<intptr_t>(h)); }

std::string classOf(HWND h)
{
    char buf[256] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

std::string textOf(HWND h)
{
    DWORD_PTR len = 0;
    SendMessageTimeoutA(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len);
    std::string buf(len + 2, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, 2000, &got);
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

BOOL CALLBACK collect(HWND h, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

std::vector<HWND> topLevel()
{
    std::vector<HWND> all;
    EnumWindows(collect, reinterpret_cast<LPARAM>(&all));
    return all;
}

void line(const std::string& s) { std::cout << s << '\n'; }

void children(HWND top)
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

void items(HWND combo)
{
    const LRESULT n = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        const LRESULT len = SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
        std::wstring w(len > 0 ? len + 1 : 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(w.data()));
        char buf[1024] = {};
        WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, buf, sizeof buf - 1, nullptr, nullptr);
        line(escaped(buf));
    }
}

// The message box text sits in the static with identifier 0xFFFF; a box seen
// while it is still being built has none yet.
HWND readyBox(const std::string& caption)
{
    for (HWND h : topLevel()) {
        if (classOf(h) != "#32770" || !IsWindowVisible(h) || textOf(h) != caption)
            continue;
        HWND text = GetDlgItem(h, 0xFFFF);
        if (text && !textOf(text).empty())
            return h;
    }
    return nullptr;
}

bool run(const std::vector<std::string>& f)
{
    const std::string& c = f[0];
    auto need = [&](std::size_t n) { return f.size() >= n + 1; };
    if (c == "children" && need(1)) {
        if (!IsWindow(hwndOf(f[1]))) return false;
        children(hwndOf(f[1]));
    } else if (c == "items" && need(1)) {
        items(hwndOf(f[1]));
    } else if (c == "text" && need(1)) {
        if (!IsWindow(hwndOf(f[1]))) return false;
        line(escaped(textOf(hwndOf(f[1]))));
    } else if (c == "settext" && need(2)) {
        const std::string text = unescaped(f[2]);
        DWORD_PTR r = 0;
        SendMessageTimeoutA(hwndOf(f[1]), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 2000, &r);
    } else if ((c == "send" || c == "post") && need(4)) {
        const UINT m = static_cast<UINT>(std::strtoul(f[2].c_str(), nullptr, 0));
        const WPARAM w = static_cast<WPARAM>(std::strtoull(f[3].c_str(), nullptr, 0));
        const LPARAM l = static_cast<LPARAM>(std::strtoll(f[4].c_str(), nullptr, 0));
        if (c == "post")
            return PostMessageA(hwndOf(f[1]), m, w, l) != 0;
        DWORD_PTR r = 0;
        if (!SendMessageTimeoutA(hwndOf(f[1]), m, w, l, SMTO_ABORTIFHUNG, 5000, &r)) return false;
        line(std::to_string(static_cast<long long>(static_cast<LONG_PTR>(r))));
    } else if (c == "list") {
        for (HWND h : topLevel())
            line(std::to_string(num(h)) + "\t" + (IsWindowVisible(h) ? "1" : "0") + "\t" + classOf(h) + "\t" +
                 escaped(textOf(h)));
    } else if (c == "box" && need(1)) {
        line(std::to_string(num(readyBox(unescaped(f[1])))));
    } else if (c == "rect" && need(1)) {
        RECT r{};
        if (!GetWindowRect(hwndOf(f[1]), &r)) return false;
        line(std::to_string(r.left) + "\t" + std::to_string(r.top) + "\t" + std::to_string(r.right) + "\t" +
             std::to_string(r.bottom));
    } else if (c == "exists" && need(1)) {
        line(IsWindow(hwndOf(f[1])) ? "1" : "0");
    } else {
        return false;
    }
    return true;
}

} // namespace

int main()
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    std::string input;
    while (std::getline(std::cin, input)) {
        if (!input.empty() && input.back() == '\r')
            input.pop_back();
        if (input.empty())
            continue;
        if (!run(split(input)))
            line("!failed: " + escaped(input));
        line(".");
        std::cout.flush();
    }
    return 0;
}
