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

// Each row: a child's scenario, the boxes it shows in turn (text, whether
// it offers Cancel, the button pressed), what it marked and logged. Every
// box is up while the child waits, after its report line was written.
TEST(Reports, BoxesUnderEachErrorLevel)
{
    struct Box {
        const char* text;
        bool cancel;
        int press;
    };
    struct Row {
        const char* scenario;
        std::vector<Box> boxes;
        const char* marksAtFirstBox;
        const char* marks;
        std::vector<std::pair<const char*, const char*>> lines;  // kind, text
    };
    const char* const warning = "Datei nicht gefunden: C:\\x y.txt";
    const Row rows[] = {
        // OK in a warning goes on.
        {"warn", {{warning, true, IDOK}}, "started\n", "started\nafter warning\nend\n", {{"WARN:", warning}}},
        // Cancel ends the program after "Programm abgebrochen!".
        {"warn", {{warning, true, IDCANCEL}, {"Programm abgebrochen!", false, IDOK}}, "started\n", "started\n",
         {{"WARN:", warning}}},
        // An unknown switch is an error that ends the program.
        {"switch", {{"Unbekannter Schalter: NoSuch", false, IDOK}}, "started\n", "started\n",
         {{"ERROR:", "Unbekannter Schalter: NoSuch"}}},
        // Level 0 silences warnings but not errors.
        {"level0", {{"Dateinummer nicht im erlaubten Bereich!", false, IDOK}}, "started\nafter warning\n",
         "started\nafter warning\n",
         {{"WARN:", "Datei nicht gefunden: a.txt"}, {"ERROR:", "Dateinummer nicht im erlaubten Bereich!"}}},
        // Level 2 ends the program on a warning.
        {"level2", {{"Datei nicht gefunden: b.txt", false, IDOK}}, "started\n", "started\n",
         {{"WARN:", "Datei nicht gefunden: b.txt"}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.scenario) + " " + r.boxes.front().text);
        Child c(r.scenario);
        std::string lines;
        for (const auto& [kind, text] : r.lines) lines += c.line(kind, text);
        for (std::size_t i = 0; i < r.boxes.size(); ++i) {
            const Box& want = r.boxes[i];
            const HWND box = c.box();
            ASSERT_TRUE(box) << want.text;
            EXPECT_EQ(boxText(box), want.text);
            EXPECT_TRUE(hasButton(box, IDOK));
            EXPECT_EQ(hasButton(box, IDCANCEL), want.cancel);
            EXPECT_EQ(WaitForSingleObject(c.pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
            if (i == 0) {
                EXPECT_EQ(c.marks(), r.marksAtFirstBox);
                EXPECT_EQ(c.reportLines(), lines);
            }
            postClick(box, want.press);
            ASSERT_TRUE(waitGone(box, 10000));
        }
        ASSERT_TRUE(c.ended());
        EXPECT_EQ(c.marks(), r.marks);
        EXPECT_EQ(c.reportLines(), lines);
    }
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

} // namespace

} // namespace live
