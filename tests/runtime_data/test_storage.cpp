// INI files, the file table, the file-size query and the log file.
#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <windows.h>
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/ini.h"
#include "runtime/system.h"

namespace {

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh folder of its own under the temporary folder.
struct StorageTest : ::testing::Test {
    std::string dir;
    void SetUp() override
    {
        rt::setErrorLevel(-1);
        char tmp[MAX_PATH];
        GetTempPathA(sizeof tmp, tmp);
        dir = std::string(tmp) + "rtdata-" + std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    void TearDown() override
    {
        rt::setSwitch("logfile", rt::Value(""));
        WIN32_FIND_DATAA d;
        HANDLE h = FindFirstFileA((dir + "*").c_str(), &d);
        if (h != INVALID_HANDLE_VALUE) {
            do DeleteFileA((dir + d.cFileName).c_str());
            while (FindNextFileA(h, &d));
            FindClose(h);
        }
        RemoveDirectoryA(dir.c_str());
    }
};

TEST_F(StorageTest, IniKeepsCodePageBytesExactly)
{
    const std::string ini = dir + "t.ini";
    const std::string text = "Grüße ä ö ü Ä Ö Ü ß § ° € \xA0 end";
    rt::iniWrite(ini, "Set1", "ServerName", text);
    rt::iniWrite(ini, "Set1", "Größe", "x");
    EXPECT_EQ(rt::iniRead(ini, "Set1", "ServerName"), text);
    EXPECT_EQ(rt::iniRead(ini, "Set1", "Größe"), "x");
    // The file itself holds the code page 1252 bytes.
    const std::string bytes = readBytes(ini);
    EXPECT_NE(bytes.find("ServerName=" + text), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("\xE4"), std::string::npos);
}

TEST(IniValueText, QuotesOnlyValuesTheProfileFunctionsWouldChange)
{
    const struct { const char* value; const char* written; } cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"in side", "in side"},
        {" lead", "\" lead\""},
        {"trail ", "\"trail \""},
        {" ", "\" \""},
        {"   ", "\"   \""},
        {"\tTab", "\"\tTab\""},
        {"\"q\"", "\"\"q\"\""},
        {"'q'", "\"'q'\""},
        {"\"q'", "\"q'"},
        {"\"", "\""},
        {"'", "'"},
        {"a\"b\"", "a\"b\""},
        {"\xC0 \xE4", "\xC0 \xE4"},
    };
    for (const auto& k : cases) EXPECT_EQ(rt::profileValueText(k.value), k.written) << "[" << k.value << "]";
}

TEST_F(StorageTest, IniValuesReadBackWhole)
{
    const std::string ini = dir + "t.ini";
    const char* const values[] = {" 76TJbLe", "Wasabi ", " ", "  two  ", "\tt", "\"q\"", "'q'", "\"half",
                                  "mid dle", ";x", "=x", "[x]", "\xB0 \xE4"};
    for (const char* v : values) {
        rt::iniWrite(ini, "S", "K", v);
        EXPECT_EQ(rt::iniRead(ini, "S", "K"), v) << "[" << v << "]";
    }
    // Values without blanks at their ends are stored as ever.
    rt::iniWrite(ini, "S", "Plain", "a b");
    EXPECT_NE(readBytes(ini).find("Plain=a b\r\n"), std::string::npos) << readBytes(ini);
}

TEST_F(StorageTest, IniCutsValuesTo255AndReadsMissingAsEmpty)
{
    const std::string ini = dir + "t.ini";
    std::string value(300, 'x');
    for (std::size_t k = 0; k < value.size(); ++k) value[k] = static_cast<char>('a' + k % 26);
    rt::iniWrite(ini, "S", "Long", value);
    EXPECT_EQ(rt::iniRead(ini, "S", "Long"), value.substr(0, 255));
    EXPECT_EQ(rt::iniRead(ini, "S", "Missing"), "");
    EXPECT_EQ(rt::iniRead(ini, "Nope", "Long"), "");
    EXPECT_EQ(rt::iniRead(dir + "none.ini", "S", "Long"), "");
}

// Values of every length around the buffer sizes read back whole, with the
// quoting of blanks at their ends kept; a missing key is empty.
TEST_F(StorageTest, IniReadWholeTakesValuesOfAnyLength)
{
    const std::string ini = dir + "whole.ini";
    for (std::size_t length : {0u, 1u, 255u, 256u, 1022u, 1023u, 1024u, 1025u, 2047u, 2048u, 5000u}) {
        std::string value(length, 'x');
        for (std::size_t k = 0; k < value.size(); ++k) value[k] = static_cast<char>('A' + k % 26);
        for (const std::string& v : {value, " " + value + " "}) {
            rt::iniWrite(ini, "S", "K", v);
            EXPECT_EQ(rt::iniReadWhole(ini, "S", "K"), v) << v.size();
        }
    }
    EXPECT_EQ(rt::iniReadWhole(ini, "S", "Missing"), "");
    EXPECT_EQ(rt::iniReadWhole(dir + "none.ini", "S", "K"), "");

    const std::string root = "HKEY_CURRENT_USER\\Software\\rtwhole-" + std::to_string(GetCurrentProcessId());
    const std::string longValue(700, 'r');
    rt::iniWrite(root, "S", "K", longValue);
    EXPECT_EQ(rt::iniReadWhole(root, "S", "K"), longValue);
    EXPECT_EQ(rt::iniRead(root, "S", "K"), longValue.substr(0, 255));
    RegDeleteKeyA(HKEY_CURRENT_USER, (root.substr(18) + "\\S").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, root.substr(18).c_str());
}

TEST_F(StorageTest, IniWritesIntegersUnderNumWidth)
{
    const std::string ini = dir + "t.ini";
    rt::iniWrite(ini, "S", "Port", 21);
    EXPECT_EQ(rt::iniRead(ini, "S", "Port"), "21");
    // The padding blanks of "numwidth" are not part of the value read back.
    rt::setSwitch("numwidth", rt::Value(4));
    rt::iniWrite(ini, "S", "Port", -7);
    rt::setSwitch("numwidth", rt::Value(0));
    EXPECT_EQ(rt::iniRead(ini, "S", "Port"), "-7");
}

TEST_F(StorageTest, FailedIniWriteRaisesWarning303)
{
    const std::string ini = dir + "no\\such\\folder\\t.ini";
    rt::iniWrite(ini, "S", "K", "v");
    EXPECT_EQ(rt::lastReportKind(), 1);
    EXPECT_EQ(rt::lastReportNumber(), 303);
    EXPECT_EQ(rt::lastReportArgument(), ini);
}

TEST_F(StorageTest, RegistryNamesAddressKeysInsteadOfFiles)
{
    const std::string root = "hkey_current_user\\Software\\rtdata-" + std::to_string(GetCurrentProcessId());
    rt::iniWrite(root, "Set1", "ServerName", "wert ä");
    rt::iniWrite(root, "Set1", "Port", 21);
    EXPECT_EQ(rt::iniRead(root, "Set1", "ServerName"), "wert ä");
    EXPECT_EQ(rt::iniRead(root, "Set1", "Port"), "21");
    EXPECT_EQ(rt::iniRead(root, "Set1", "Missing"), "");
    EXPECT_EQ(rt::iniRead(root, "Set2", "Port"), "");
    const std::string sub = root.substr(18);
    RegDeleteKeyA(HKEY_CURRENT_USER, (sub + "\\Set1").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, sub.c_str());

    rt::iniWrite("HKEY_NOWHERE\\x", "S", "K", "v");
    EXPECT_EQ(rt::lastReportNumber(), 305);
    EXPECT_EQ(rt::lastReportArgument(), "HKEY_NOWHERE\\x");
}

TEST_F(StorageTest, ReadingLinesKnowsTheEndAtOnce)
{
    const std::string path = dir + "lines.txt";
    writeBytes(path, "eins\r\nzwei\n\r\nlast ä");
    rt::fileAssign(7, path);
    rt::fileOpenRead(7);
    EXPECT_EQ(rt::ioResult(), 0);
    std::vector<std::string> lines;
    while (!rt::fileEof(7)) lines.push_back(rt::fileReadLine(7));
    EXPECT_EQ(lines, (std::vector<std::string>{"eins", "zwei", "", "last ä"}));
    EXPECT_EQ(rt::fileReadLine(7), "");
    rt::fileClose(7);
    EXPECT_TRUE(rt::fileEof(7));
    EXPECT_EQ(rt::ioResult(), 104);

    writeBytes(path, "");
    rt::fileOpenRead(7);
    EXPECT_TRUE(rt::fileEof(7));
    rt::fileClose(7);

    writeBytes(path, "only\n");
    rt::fileOpenRead(7);
    EXPECT_EQ(rt::fileReadLine(7), "only");
    EXPECT_TRUE(rt::fileEof(7));
    rt::fileClose(7);
}

TEST_F(StorageTest, LongLinesComeInPiecesOf32767)
{
    const std::string path = dir + "long.txt";
    writeBytes(path, std::string(40000, 'q') + "\n");
    rt::fileAssign(3, path);
    rt::fileOpenRead(3);
    EXPECT_EQ(rt::fileReadLine(3).size(), 32767u);
    EXPECT_EQ(rt::fileReadLine(3).size(), 40000u - 32767u);
    EXPECT_TRUE(rt::fileEof(3));
    rt::fileClose(3);
}

TEST_F(StorageTest, FileTableResultsAndNumberRange)
{
    rt::fileAssign(5, "");
    rt::fileOpenRead(5);
    EXPECT_EQ(rt::ioResult(), 102);
    rt::fileAssign(5, dir + "missing.txt");
    rt::fileOpenRead(5);
    EXPECT_EQ(rt::ioResult(), 2);
    EXPECT_EQ(rt::fileReadLine(5), "");
    EXPECT_EQ(rt::ioResult(), 104);

    for (int bad : {0, 100, -1}) {
        rt::fileAssign(bad, "x");
        EXPECT_EQ(rt::lastReportNumber(), 210) << bad;
        EXPECT_EQ(rt::lastReportKind(), 2);
        EXPECT_TRUE(rt::fileEof(bad));
    }
    rt::fileAssign(99, dir + "missing.txt");
    EXPECT_EQ(rt::ioResult(), 0);
}

TEST_F(StorageTest, SizesBeyond32Bits)
{
    // Sparse files: SetEndOfFile takes no disk space for them here.
    const std::string p = dir + "big.bin";
    for (std::int64_t size : {std::int64_t(2147483648), std::int64_t(4294967297), std::int64_t(4831838208)}) {
        SCOPED_TRACE(size);
        HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        LARGE_INTEGER end;
        end.QuadPart = size;
        ASSERT_TRUE(SetFilePointerEx(h, end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(h));
        CloseHandle(h);
        EXPECT_EQ(rt::fileSize(p), size);
        EXPECT_EQ(rt::ioResult(), 0);
        DeleteFileA(p.c_str());
    }
}

TEST_F(StorageTest, RenameEraseAndSize)
{
    const std::string a = dir + "FTP - Alt.lnk", b = dir + "FTP - Neu.lnk";
    writeBytes(a, "12345");
    EXPECT_EQ(rt::fileSize(a), 5);
    EXPECT_EQ(rt::ioResult(), 0);
    rt::fileAssign(1, a);
    rt::fileRename(1, b);
    EXPECT_EQ(rt::ioResult(), 0);
    rt::fileClose(1);
    EXPECT_EQ(rt::fileSize(b), 5);

    EXPECT_EQ(rt::fileSize(a), -1);
    EXPECT_EQ(rt::ioResult(), 103);
    EXPECT_EQ(rt::lastReportKind(), 1);
    EXPECT_EQ(rt::lastReportNumber(), 209);
    EXPECT_EQ(rt::lastReportArgument(), a);
    EXPECT_EQ(rt::fileSize(dir.substr(0, dir.size() - 1)), -2);
    EXPECT_EQ(rt::ioResult(), 103);

    rt::fileAssign(2, a);  // gone already
    rt::fileRename(2, b);
    EXPECT_EQ(rt::ioResult(), ERROR_FILE_NOT_FOUND);
    rt::fileAssign(2, b);
    rt::fileErase(2);
    EXPECT_EQ(rt::ioResult(), 0);
    rt::fileErase(2);
    EXPECT_EQ(rt::ioResult(), ERROR_FILE_NOT_FOUND);
}

TEST_F(StorageTest, LogFileGetsAHeaderAndOneLinePerReport)
{
    const std::string log = dir + "run.log";
    writeBytes(log, "old\r\n");
    rt::setSwitch("LogFile", rt::Value(log));
    const std::string afterHeader = readBytes(log);
    const std::string rule(53, '-');
    ASSERT_EQ(afterHeader.rfind("old\r\n \r\n" + rule + "\r\n", 0), 0u) << afterHeader;
    const std::string dateLine = afterHeader.substr(5 + 3 + 55);
    SYSTEMTIME t;
    GetLocalTime(&t);
    const char* days[] = {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"};
    const char* months[] = {"Januar", "Februar", "März", "April", "Mai", "Juni", "Juli",
                            "August", "September", "Oktober", "November", "Dezember"};
    const std::string date = std::string(days[t.wDayOfWeek]) + ", der " + std::to_string(t.wDay) + ". " +
                             months[t.wMonth - 1] + " " + std::to_string(t.wYear) + " - ";
    EXPECT_EQ(dateLine.rfind(date, 0), 0u) << dateLine;
    const std::size_t timeAt = date.size();
    ASSERT_GE(dateLine.size(), timeAt + 7);
    EXPECT_EQ(dateLine[timeAt + 2], ':');
    EXPECT_EQ(dateLine.substr(timeAt + 5), "\r\n" + rule + "\r\n");

    rt::raiseWarning(209, "C:\\x y.txt");
    rt::raiseError(210);
    rt::setSwitch("nosuch", rt::Value(1));
    const std::string path = rt::programPath();
    EXPECT_EQ(readBytes(log), afterHeader + "WARN:\t" + path + " (?) :Datei nicht gefunden: C:\\x y.txt\r\n" +
                                  "ERROR:\t" + path + " (?) :Dateinummer nicht im erlaubten Bereich!\r\n" +
                                  "ERROR:\t" + path + " (?) :Unbekannter Schalter: nosuch\r\n");
}

TEST_F(StorageTest, SystemPathsAndVersion)
{
    const std::string path = rt::programPath();
    EXPECT_EQ(path.substr(path.size() - 15), "rtdata_pure.exe");
    EXPECT_EQ(rt::programDirectory() + "rtdata_pure.exe", path);
    EXPECT_EQ(rt::parameter(0), path);
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    EXPECT_EQ(rt::currentDirectory(), cwd);
    EXPECT_EQ(rt::currentDirectory(cwd), cwd);
    const std::string v = rt::osVersion();
    EXPECT_NE(v.find('.'), std::string::npos);
    EXPECT_GT(rt::toInt(v), 0);
}

} // namespace
