// Test stand-in for the upload-window program getsize.exe: records the
// command line it was started with and every text the upload run puts into
// the channel control, in "getsize.log" next to this executable, until the
// run's main window is gone (then "end"), for at most two minutes.
//
// Log lines: "cmd <command line>", "ready" (after the first look at the
// channel), "text <channel text>" for each new text, "end".
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> words(const char* line)
{
    std::vector<std::string> out;
    std::string w;
    for (const char* p = line;; ++p) {
        if (*p == ' ' || *p == '\0') {
            if (!w.empty())
                out.push_back(w);
            w.clear();
            if (*p == '\0')
                break;
        } else {
            w += *p;
        }
    }
    return out;
}

HWND handleOf(const std::string& s)
{
    return reinterpret_cast<HWND>(static_cast<intptr_t>(std::strtoll(s.c_str(), nullptr, 10)));
}

std::string textOf(HWND h)
{
    char buf[1024] = {};
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(h, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                             2000, &len))
        return {};
    return buf;
}

} // namespace

int main()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string log = path;
    log = log.substr(0, log.rfind('\\') + 1) + "getsize.log";
    FILE* f = std::fopen(log.c_str(), "ab");
    if (!f)
        return 1;
    const char* line = GetCommandLineA();
    std::fprintf(f, "cmd %s\n", line);
    std::fflush(f);

    // ... mainWindow configNumber more channel directory
    const std::vector<std::string> w = words(line);
    if (w.size() < 6)
        return 2;
    HWND mainWindow = handleOf(w[w.size() - 5]);
    HWND channel = handleOf(w[w.size() - 2]);

    std::string last;
    bool ready = false;
    const DWORD start = GetTickCount();
    while (IsWindow(mainWindow) && GetTickCount() - start < 120000) {
        if (IsWindow(channel)) {
            // The run never sets an empty text; an empty read is a window
            // on its way out.
            const std::string t = textOf(channel);
            if (!t.empty() && t != last) {
                std::fprintf(f, "text %s\n", t.c_str());
                std::fflush(f);
                last = t;
            }
        }
        if (!ready) {
            std::fprintf(f, "ready\n");
            std::fflush(f);
            ready = true;
        }
        Sleep(1);
    }
    std::fprintf(f, "end\n");
    std::fclose(f);
    return 0;
}
