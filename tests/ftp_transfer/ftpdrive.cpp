// Test driver: runs a script of FtpCommand calls the way the application
// does. The start thread creates the FTP component and runs the message
// loop (the GUI thread); a second thread plays the program thread and makes
// the calls. Tests and the benchmark compare its output with what a server
// saw.
//
//   ftpdrive SCRIPT OUTPUT
//
// SCRIPT: one call per line, the subcommand name and its arguments separated
// by tabs. OUTPUT: per call one line
//   name TAB result TAB last reply code TAB last reply text TAB connected flag TAB milliseconds
// then "cpu TAB user+kernel seconds of this process" and "end".
// Lines starting with "#" talk to the runtime instead: "#silent" sets the
// error level -1 (reports without boxes), "#report" writes the last report
// as "report TAB kind TAB number TAB argument".
// The named procedure "echoargs" returns its parameters joined with ",".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ftp/ftp_command.h"
#include "runtime/errors.h"
#include "runtime/params.h"

namespace {

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

double cpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](FILETIME f) { return (ULONGLONG(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return double(ticks(kernel) + ticks(user)) / 1e7;
}

void runScript(const std::string& scriptPath, const std::string& outputPath)
{
    std::ifstream script(scriptPath, std::ios::binary);
    FILE* out = std::fopen(outputPath.c_str(), "wb");
    if (!out) return;
    if (!script) std::fprintf(out, "error\tcannot read %s\n", scriptPath.c_str());
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    std::string line;
    while (std::getline(script, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::string> fields = splitTabs(line);
        if (fields[0] == "#silent") {
            rt::setErrorLevel(-1);
            continue;
        }
        if (fields[0] == "#report") {
            std::fprintf(out, "report\t%d\t%d\t%s\n", rt::lastReportKind(), rt::lastReportNumber(),
                         rt::lastReportArgument().c_str());
            continue;
        }
        std::vector<rt::Value> args(fields.begin() + 1, fields.end());
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        rt::Value r = ftp::FtpCommand(fields[0], args);
        QueryPerformanceCounter(&t1);
        const long long ms = (t1.QuadPart - t0.QuadPart) * 1000 / freq.QuadPart;
        // An integer's text may be more exact than its 32 bits (getfilesize).
        std::string result = r.type == rt::Value::String ? r.s : std::to_string(r.i);
        if (r.type == rt::Value::Integer && r.s.find_first_not_of(" -0123456789") == std::string::npos)
            result = r.s.substr(r.s.find_first_not_of(' ') == std::string::npos ? 0 : r.s.find_first_not_of(' '));
        std::fprintf(out, "%s\t%s\t%d\t%s\t%d\t%lld\n", fields[0].c_str(), result.c_str(),
                     ftp::lastReplyCode(), ftp::lastReplyText().c_str(), ftp::connectedFlag(), ms);
        std::fflush(out);
    }
    std::fprintf(out, "cpu\t%.3f\nend\n", cpuSeconds());
    std::fclose(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: ftpdrive SCRIPT OUTPUT\n");
        return 2;
    }
    // Reads its arguments from the parameter slots, where FtpCommand put them.
    ftp::registerNamedProcedure("echoargs", [](const std::vector<rt::Value>&) {
        std::string joined;
        for (int i = 1; i <= rt::procParamCount(); ++i)
            joined += (i > 1 ? "," : "") + rt::procParamString(i);
        return rt::Value(joined);
    });
    ftp::startupComponent();
    // QP_FTP_TRACE names a file that receives the component's display lines.
    static FILE* trace = nullptr;
    if (const char* tracePath = std::getenv("QP_FTP_TRACE")) {
        trace = std::fopen(tracePath, "ab");
        if (trace)
            ftp::setDisplayHook([](const std::string& line) {
                std::fprintf(trace, "%lu %s\n", GetTickCount(), line.c_str());
                std::fflush(trace);
            });
    }
    const DWORD guiThread = GetCurrentThreadId();
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread queue exists before the poster runs
    std::thread program([&] {
        runScript(argv[1], argv[2]);
        PostThreadMessageA(guiThread, WM_QUIT, 0, 0);
    });
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    program.join();
    ftp::shutdownComponent();
    return 0;
}
