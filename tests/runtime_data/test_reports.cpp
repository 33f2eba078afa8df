// Error and warning reports under each error level, seen for real: a child
// process raises them, this test answers its boxes and reads its log file.
#include <gtest/gtest.h>
#include "live.h"
#include "runtime/errors.h"
#include "runtime/foreign.h"
#include "runtime/process.h"
#include "runtime/system.h"

namespace live {

namespace {

std::string g_marker;

void mark(const std::string& what)
{
    HANDLE h = CreateFileA(g_marker.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    const std::string line = what + "\n";
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
}

} // namespace

void runChildScenario()
{
    const std::string scenario = rt::param(2);
    g_marker = rt::param(4);
    rt::setSwitch("logfile", rt::Value(rt::param(3)));
    mark("started");
    if (scenario == "warn") {
        rt::raiseWarning(209, "C:\\x y.txt");
        mark("after warning");
    } else if (scenario == "switch") {
        rt::setSwitch("NoSuch", rt::Value(1));
        mark("after error");
    } else if (scenario == "level0") {
        rt::setErrorLevel(0);
        rt::raiseWarning(209, "a.txt");
        mark("after warning");
        rt::raiseError(210);
        mark("after error");
    } else if (scenario == "level-1") {
        rt::setErrorLevel(-1);
        rt::raiseWarning(209, "a.txt");
        rt::raiseError(210);
        mark("result " + std::to_string(rt::callByName("rtdata-missing.dll", "Nothing")));
    } else if (scenario == "level2") {
        rt::setErrorLevel(2);
        rt::raiseWarning(209, "b.txt");
        mark("after warning");
    }
    mark("end");
}

// This program started with "--child" runs the scenario instead of the tests.
const bool childScenarioSet = setChildScenario(runChildScenario);

namespace {

// One child program with its log and marker files, ended and removed at
// the end of the test whatever happened.
struct Child {
    PROCESS_INFORMATION pi{};
    std::string log, marker;

    explicit Child(const std::string& scenario)
        : log(tempPath(scenario + ".log")), marker(tempPath(scenario + ".marks"))
    {
        DeleteFileA(log.c_str());
        DeleteFileA(marker.c_str());
        std::string cmd = "\"" + rt::programPath() + "\" --child " + scenario + " \"" + log + "\" \"" +
                          marker + "\"";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            ADD_FAILURE() << "child not started: " << GetLastError();
    }
    ~Child()
    {
        if (pi.hProcess) {
            if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 5000);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
        DeleteFileA(log.c_str());
        DeleteFileA(marker.c_str());
    }
    HWND box(int ms = 30000) const { return waitDialog(pi.dwProcessId, kReportCaption, ms); }
    bool ended(int ms = 30000) const { return WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }
    std::string marks() const { return readFile(marker); }
    // The report lines after the log header (which ends with a rule line).
    std::string reportLines() const
    {
        const std::string text = readFile(log);
        const std::string rule = std::string(53, '-') + "\r\n";
        const std::size_t at = text.rfind(rule);
        return at == std::string::npos ? "(no header) " + text : text.substr(at + rule.size());
    }
    std::string line(const char* kind, const std::string& text) const
    {
        return std::string(kind) + "\t" + rt::programPath() + " (?) :" + text + "\r\n";
    }
};

TEST(Reports, WarningShowsTextWithArgumentAndOkContinues)
{
    Child c("warn");
    const HWND box = c.box();
    ASSERT_TRUE(box);
    EXPECT_EQ(boxText(box), "Datei nicht gefunden: C:\\x y.txt");
    EXPECT_TRUE(hasButton(box, IDOK));
    EXPECT_TRUE(hasButton(box, IDCANCEL));
    // The log line is written before the box is shown.
    EXPECT_EQ(c.reportLines(), c.line("WARN:", "Datei nicht gefunden: C:\\x y.txt"));
    postClick(box, IDOK);
    ASSERT_TRUE(c.ended());
    EXPECT_EQ(c.marks(), "started\nafter warning\nend\n");
    EXPECT_EQ(c.reportLines(), c.line("WARN:", "Datei nicht gefunden: C:\\x y.txt"));
}

TEST(Reports, CancelInAWarningEndsTheProgramAfterProgrammAbgebrochen)
{
    Child c("warn");
    const HWND box = c.box();
    ASSERT_TRUE(box);
    postClick(box, IDCANCEL);
    ASSERT_TRUE(waitGone(box, 10000));
    const HWND stop = c.box();
    ASSERT_TRUE(stop);
    EXPECT_EQ(boxText(stop), "Programm abgebrochen!");
    EXPECT_FALSE(hasButton(stop, IDCANCEL));
    EXPECT_EQ(WaitForSingleObject(c.pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    postClick(stop, IDOK);
    ASSERT_TRUE(c.ended());
    EXPECT_EQ(c.marks(), "started\n");
    EXPECT_EQ(c.reportLines(), c.line("WARN:", "Datei nicht gefunden: C:\\x y.txt"));
}

TEST(Reports, UnknownSwitchIsAnErrorThatEndsTheProgram)
{
    Child c("switch");
    const HWND box = c.box();
    ASSERT_TRUE(box);
    EXPECT_EQ(boxText(box), "Unbekannter Schalter: NoSuch");
    EXPECT_FALSE(hasButton(box, IDCANCEL));
    postClick(box, IDOK);
    ASSERT_TRUE(c.ended());
    EXPECT_EQ(c.marks(), "started\n");
    EXPECT_EQ(c.reportLines(), c.line("ERROR:", "Unbekannter Schalter: NoSuch"));
}

TEST(Reports, LevelZeroSilencesWarningsButNotErrors)
{
    Child c("level0");
    const HWND box = c.box();
    ASSERT_TRUE(box);
    EXPECT_EQ(boxText(box), "Dateinummer nicht im erlaubten Bereich!");
    EXPECT_EQ(c.marks(), "started\nafter warning\n");
    postClick(box, IDOK);
    ASSERT_TRUE(c.ended());
    EXPECT_EQ(c.marks(), "started\nafter warning\n");
    EXPECT_EQ(c.reportLines(), c.line("WARN:", "Datei nicht gefunden: a.txt") +
                                   c.line("ERROR:", "Dateinummer nicht im erlaubten Bereich!"));
}

TEST(Reports, LevelMinusOneShowsNothing)
{
    Child c("level-1");
    bool sawBox = false;
    for (int waited = 0; waited < 30000 && WaitForSingleObject(c.pi.hProcess, 50) != WAIT_OBJECT_0; waited += 50)
        if (findDialog(c.pi.dwProcessId, kReportCaption)) sawBox = true;
    ASSERT_TRUE(c.ended(0));
    EXPECT_FALSE(sawBox);
    EXPECT_EQ(c.marks(), "started\nresult -1\nend\n");
    EXPECT_EQ(c.reportLines(), c.line("WARN:", "Datei nicht gefunden: a.txt") +
                                   c.line("ERROR:", "Dateinummer nicht im erlaubten Bereich!") +
                                   c.line("ERROR:", "Fehler beim Laden der DLL: rtdata-missing.dll"));
}

TEST(Reports, LevelTwoEndsTheProgramOnAWarning)
{
    Child c("level2");
    const HWND box = c.box();
    ASSERT_TRUE(box);
    EXPECT_EQ(boxText(box), "Datei nicht gefunden: b.txt");
    EXPECT_FALSE(hasButton(box, IDCANCEL));
    postClick(box, IDOK);
    ASSERT_TRUE(c.ended());
    EXPECT_EQ(c.marks(), "started\n");
}

} // namespace

} // namespace live
