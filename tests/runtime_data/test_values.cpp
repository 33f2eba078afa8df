// Values, number texts under "numwidth"/"decimals", the switches and the
// error level, the parameter area and memory areas.
#include <gtest/gtest.h>
#include <cstring>
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/params.h"
#include "runtime/process.h"
#include "runtime/value.h"

namespace {

struct ValuesTest : ::testing::Test {
    void SetUp() override { rt::setErrorLevel(-1); }
    void TearDown() override
    {
        rt::setSwitch("numwidth", rt::Value(0));
        rt::setSwitch("decimals", rt::Value(6));
    }
};

TEST_F(ValuesTest, ValueFunctionReadsPrefixesAndDecimals)
{
    struct Row { std::string text; std::int32_t i; double f; };
    const Row rows[] = {
        {"$ff", 255, 255},     {"$FF", 255, 255},      {"&17", 15, 15},      {"%101", 5, 5},
        {"$-10", -16, -16},    {"%-11", -3, -3},       {"$1g", 1, 1},        {"&19", 1, 1},
        {"%102", 2, 2},        {"$", 0, 0},            {"$FFFFFFFF", -1, -1},
        {"12.7", 12, 12.7},    {"-12.7", -12, -12.7},  {"  42  ", 42, 42},   {"", 0, 0},
        {"   ", 0, 0},         {"abc", 0, 0},          {"3abc", 3, 3},       {"1e3", 1000, 1000},
        {"2.5e-1", 0, 0.25},   {"+7", 7, 7},           {".5", 0, 0.5},       {"5.", 5, 5},
        {"1e", 1, 1},          {"-", 0, 0},            {"\t8\r\n", 8, 8},
        {"99999999999", 2147483647, 99999999999.0},
        {"-99999999999", -2147483647 - 1, -99999999999.0},
    };
    for (const Row& r : rows) {
        const rt::Value v = rt::value(r.text);
        EXPECT_EQ(v.type, rt::Value::Number) << r.text;
        EXPECT_EQ(v.i, r.i) << r.text;
        EXPECT_DOUBLE_EQ(v.f, r.f) << r.text;
        EXPECT_EQ(rt::toInt(r.text), r.i) << r.text;
    }
    EXPECT_EQ(rt::value("  $ff ").s, "$ff");
}

TEST_F(ValuesTest, IntegerTextsUnderNumWidth)
{
    EXPECT_EQ(rt::intToText(5), "5");
    EXPECT_EQ(rt::intToText(-2147483647 - 1), "-2147483648");
    rt::setSwitch("numwidth", rt::Value(3));
    EXPECT_EQ(rt::intToText(5), "  5");
    EXPECT_EQ(rt::intToText(-5), " -5");
    EXPECT_EQ(rt::intToText(12345), "12345");
    EXPECT_EQ(rt::Value(5).s, "  5");
}

TEST_F(ValuesTest, NumberTextsUnderDecimalsAndNumWidth)
{
    struct Row { double v; int decimals, width; std::string want; };
    const Row rows[] = {
        {12.7, 6, 0, "12.700000"}, {0.5, 2, 0, "0.50"},    {-0.5, 2, 0, "-0.50"},
        {2.0, 0, 0, "2"},          {2.6, 0, 0, "3"},       {0.125, 2, 0, "0.12"},
        {-0.001, 2, 0, "0.00"},    {1.5, 1, 6, "   1.5"},  {1e10, 1, 0, "10000000000.0"},
        {0.0, 3, 0, "0.000"},
    };
    for (const Row& r : rows) {
        rt::setSwitch("decimals", rt::Value(r.decimals));
        rt::setSwitch("numwidth", rt::Value(r.width));
        EXPECT_EQ(rt::floatToText(r.v), r.want) << r.v << " " << r.decimals << " " << r.width;
    }
}

TEST_F(ValuesTest, ValueRecordsCarryAllThreeRepresentations)
{
    const rt::Value n(-42);
    EXPECT_EQ(n.type, rt::Value::Integer);
    EXPECT_EQ(n.s, "-42");
    EXPECT_DOUBLE_EQ(n.f, -42.0);
    const rt::Value t(std::string("17.5 km"));
    EXPECT_EQ(t.type, rt::Value::String);
    EXPECT_EQ(t.i, 17);
    EXPECT_DOUBLE_EQ(t.f, 17.5);
    EXPECT_EQ(t.s, "17.5 km");
    const rt::Value null(static_cast<const char*>(nullptr));
    EXPECT_EQ(null.s, "");
    EXPECT_EQ(null.i, 0);
}

TEST_F(ValuesTest, SwitchesByNameReturnTheirOldValues)
{
    EXPECT_EQ(rt::switchValue("decimals").i, 6);
    EXPECT_EQ(rt::setSwitch("DECIMALS", rt::Value(2)).i, 6);
    EXPECT_EQ(rt::decimals(), 2);
    EXPECT_EQ(rt::floatToText(1.0), "1.00");
    EXPECT_EQ(rt::setSwitch("Decimals", rt::Value(6)).i, 2);

    struct Row { const char* name; int start; };
    const Row starts[] = {{"messagemode", 1}, {"pdc", 0}, {"autopaint", 2}, {"debugmode", 0},
                          {"onerror", 0}, {"numwidth", 0}, {"strwidth", 0}, {"filemode", 2},
                          {"regex", 0}, {"charset", 0}, {"sqlwidth", 0}, {"errorlevel", -1}};
    for (const Row& r : starts) EXPECT_EQ(rt::switchValue(r.name).i, r.start) << r.name;
    EXPECT_EQ(rt::switchValue("listdel").s, "|");
    EXPECT_EQ(rt::switchValue("logfile").s, "");

    EXPECT_EQ(rt::setSwitch("ListDel", rt::Value(";;")).s, "|");
    EXPECT_EQ(rt::listDelimiter(), ";;");
    rt::setSwitch("listdel", rt::Value("|"));

    EXPECT_EQ(rt::setSwitch("randseed", rt::Value(99)).i, 0);
    EXPECT_EQ(rt::setSwitch("randseed", rt::Value(7)).i, 0);

    EXPECT_EQ(rt::setSwitch("sqlnull", rt::Value("NULL")).i, 0);
    EXPECT_EQ(rt::setSwitch("SQLNULL", rt::Value(0)).s, "NULL");

    const int charsets[][2] = {{0, 0}, {1, 255}, {2, 2}, {-1, 1}, {77, 77}};
    for (const auto& c : charsets) {
        rt::setSwitch("charset", rt::Value(c[0]));
        EXPECT_EQ(rt::fontCharset(), c[1]) << c[0];
    }
    rt::setSwitch("charset", rt::Value(0));
}

TEST_F(ValuesTest, UnknownSwitchesGoToProceduresOrRaise262)
{
    rt::Value seen;
    int seenCount = -1;
    rt::registerSwitchProc("MySwitch", [&](const rt::Value& v) {
        seen = rt::procParam(1);
        seenCount = rt::procParamCount();
        EXPECT_EQ(v.i, 31);
    });
    rt::setSwitch("myswitch", rt::Value(31));
    EXPECT_EQ(seen.i, 31);
    EXPECT_EQ(seenCount, 1);
    EXPECT_EQ(rt::procParamCount(), 0);  // the frame is given back

    const rt::Value old = rt::setSwitch("nosuchswitch", rt::Value(1));
    EXPECT_EQ(old.s, "");
    EXPECT_EQ(rt::lastReportKind(), 2);
    EXPECT_EQ(rt::lastReportNumber(), 262);
    EXPECT_EQ(rt::lastReportArgument(), "nosuchswitch");
}

TEST_F(ValuesTest, ErrorLevelAndFastModeRules)
{
    ASSERT_FALSE(rt::fastMode());
    rt::setErrorLevel(0);
    EXPECT_EQ(rt::errorLevel(), 0);
    rt::setErrorLevel(-2);  // fast mode on, level stays
    EXPECT_TRUE(rt::fastMode());
    EXPECT_EQ(rt::errorLevel(), 0);
    rt::setErrorLevel(-2);  // fast mode already on: -2 becomes the level
    EXPECT_EQ(rt::errorLevel(), -2);
    rt::setErrorLevel(-2);  // the same level while fast: fast mode off
    EXPECT_FALSE(rt::fastMode());
    EXPECT_EQ(rt::errorLevel(), -2);
    EXPECT_EQ(rt::setSwitch("ErrorLevel", rt::Value(-1)).i, -2);
    EXPECT_EQ(rt::errorLevel(), -1);
}

TEST_F(ValuesTest, ErrorTextsAreTheTableTexts)
{
    EXPECT_STREQ(rt::errorText(209), "Datei nicht gefunden: ");
    EXPECT_STREQ(rt::errorText(247), "Fehler beim Laden der DLL: ");
    EXPECT_STREQ(rt::errorText(248), "Funktion in DLL nicht vohanden: ");
    EXPECT_STREQ(rt::errorText(200), "Ung\xFCltiger Funktionswert!");
    EXPECT_STREQ(rt::errorText(244), "Der Text pa\xDFt nicht komplett in die Bereichsvariable!");
    EXPECT_STREQ(rt::errorText(252), "Men\xFC ist nicht ladbar: ");
    EXPECT_STREQ(rt::errorText(400), "");
    EXPECT_STREQ(rt::errorText(0), "");
}

TEST_F(ValuesTest, ParameterFramesNestAndShareTheLast)
{
    EXPECT_EQ(rt::procParamCount(), 0);
    {
        rt::ParamFrame outer({rt::Value(1), rt::Value("zwei")});
        EXPECT_EQ(rt::procParamCount(), 2);
        EXPECT_EQ(rt::procParamString(2), "zwei");
        {
            rt::ParamFrame none({});
            EXPECT_EQ(rt::procParamCount(), 2);  // keeps the caller's frame
            EXPECT_EQ(rt::procParamInt(1), 1);
        }
        {
            rt::ParamFrame inner({rt::Value(9)});
            EXPECT_EQ(rt::procParamCount(), 1);
            EXPECT_EQ(rt::procParamInt(1), 9);
        }
        EXPECT_EQ(rt::procParamInt(1), 1);  // the outer frame is intact
        EXPECT_EQ(rt::procParam(3).s, "");
        EXPECT_EQ(rt::lastReportNumber(), 212);
    }
    // Deeper than the frames: the innermost calls share the last frame.
    std::vector<std::unique_ptr<rt::ParamFrame>> frames;
    for (int k = 1; k <= 40; ++k) frames.push_back(std::make_unique<rt::ParamFrame>(std::vector<rt::Value>{rt::Value(k)}));
    EXPECT_EQ(rt::procParamInt(1), 40);
    while (!frames.empty()) frames.pop_back();
    EXPECT_EQ(rt::procParamCount(), 0);
    rt::lastResult() = rt::Value(5);
    EXPECT_EQ(rt::lastResult().i, 5);
}

TEST_F(ValuesTest, MemoryAreasResizeAndKnowTheirSize)
{
    char* a = static_cast<char*>(rt::memResize(nullptr, 8));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(rt::memSize(a), 8);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(a[k], 0);
    std::memcpy(a, "abcdefgh", 8);
    char* b = static_cast<char*>(rt::memResize(a, 16));
    EXPECT_EQ(rt::memSize(b), 16);
    EXPECT_EQ(std::string(b, 8), "abcdefgh");
    EXPECT_EQ(b[8], 0);
    EXPECT_EQ(b[15], 0);
    char* c = static_cast<char*>(rt::memResize(b, 3));
    EXPECT_EQ(std::string(c, 3), "abc");
    EXPECT_EQ(rt::memSize(c), 3);
    int local = 0;
    EXPECT_EQ(rt::memSize(&local), -1);
    EXPECT_EQ(rt::memResize(c, 0), nullptr);
    EXPECT_EQ(rt::memSize(c), -1);
}

} // namespace

namespace {

TEST_F(ValuesTest, ErrorProcedureRunsForSilencedReportsWhenSwitchedOn)
{
    int calls = 0, nested = 0;
    rt::registerErrorProc([&] {
        ++calls;
        rt::raiseWarning(209, "inner");  // a report inside the procedure does not call it again
        nested = rt::lastReportNumber();
    });
    rt::raiseError(210);
    EXPECT_EQ(calls, 0);  // "onerror" is off
    rt::setSwitch("OnError", rt::Value(1));
    rt::raiseError(210);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(nested, 209);
    rt::setErrorLevel(0);
    rt::raiseWarning(303, "x.ini");  // warnings below level 1 call it as well
    EXPECT_EQ(calls, 2);
    rt::setSwitch("onerror", rt::Value(0));
    rt::registerErrorProc(nullptr);
}

TEST_F(ValuesTest, UnwritableLogFileIsSkipped)
{
    rt::setSwitch("logfile", rt::Value("C:\\no\\such\\folder\\run.log"));
    rt::raiseWarning(209, "a");
    EXPECT_EQ(rt::lastReportNumber(), 209);
    EXPECT_EQ(rt::setSwitch("logfile", rt::Value("")).s, "C:\\no\\such\\folder\\run.log");
}

} // namespace
