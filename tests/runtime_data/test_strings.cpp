// String functions: bounds, parts, positions, replacement, case under code
// page 1252.
#include <gtest/gtest.h>
#include "runtime/errors.h"
#include "runtime/strings.h"

namespace {

// Reports under error level -1 are recorded but stay silent.
struct Silenced : ::testing::Test {
    void SetUp() override { rt::setErrorLevel(-1); }
    void TearDown() override { rt::setSwitch("regex", rt::Value(0)); }
};

using StringsTest = Silenced;

TEST_F(StringsTest, LeftRightMiddleBounds)
{
    struct Row { const char* fn; std::string s; int p, n; std::string want; };
    const Row rows[] = {
        {"left", "abc", 0, 5, "abc"}, {"left", "abc", 0, 2, "ab"}, {"left", "abc", 0, 0, ""},
        {"left", "abc", 0, -1, ""},   {"left", "", 0, 3, ""},
        {"right", "abc", 0, 5, ""},   {"right", "abc", 0, 3, "abc"}, {"right", "abc", 0, 1, "c"},
        {"right", "abc", 0, 0, ""},   {"right", "abc", 0, -2, ""},
        {"middle", "abcdef", 3, 10, "cdef"}, {"middle", "abcdef", 1, 2, "ab"},
        {"middle", "abcdef", 6, 1, "f"},     {"middle", "abcdef", 7, 1, ""},
        {"middle", "abcdef", 0, 3, ""},      {"middle", "abcdef", -1, 3, ""},
        {"middle", "abcdef", 2, 0, ""},
    };
    for (const Row& r : rows) {
        const std::string fn = r.fn;
        const std::string got = fn == "left" ? rt::left(r.s, r.n)
                              : fn == "right" ? rt::right(r.s, r.n)
                                              : rt::middle(r.s, r.p, r.n);
        EXPECT_EQ(got, r.want) << fn << "(\"" << r.s << "\", " << r.p << ", " << r.n << ")";
    }
}

TEST_F(StringsTest, TrimCharacterAndCase)
{
    EXPECT_EQ(rt::trim(" \t\r\n abc d\x01 "), "abc d");
    EXPECT_EQ(rt::trim("\x01\x20"), "");
    EXPECT_EQ(rt::trim("\xA0x\xA0"), "\xA0x\xA0");  // no-break space is above 32
    EXPECT_EQ(rt::character(65), "A");
    EXPECT_EQ(rt::character(0xE4), "ä");
    EXPECT_EQ(rt::character(0).size(), 1u);
    EXPECT_EQ(rt::upper("äöü ßaz Šœÿ é×"), "ÄÖÜ ßAZ ŠŒŸ É×");
    EXPECT_EQ(rt::lower("ÄÖÜ SS ŠŒŸ É÷"), "äöü ss šœÿ é÷");
    EXPECT_EQ(rt::upper("µ"), "µ");
}

TEST_F(StringsTest, DeleteAndItsError)
{
    EXPECT_EQ(rt::del("abcdef", 2, 3), "aef");
    EXPECT_EQ(rt::del("abcdef", 5, 10), "abcd");
    EXPECT_EQ(rt::del("abcdef", 7, 1), "abcdef");
    EXPECT_EQ(rt::del("abcdef", 2, 0), "abcdef");
    EXPECT_EQ(rt::del("abcdef", 0, 2), "cdef");  // silenced 204: from position 1
    EXPECT_EQ(rt::lastReportNumber(), 204);
    EXPECT_EQ(rt::lastReportKind(), 2);
}

TEST_F(StringsTest, CountAndPart)
{
    EXPECT_EQ(rt::count("a,b,,c", ","), 3);
    EXPECT_EQ(rt::count("aaaa", "aa"), 2);
    EXPECT_EQ(rt::count("abc", ""), 0);
    EXPECT_EQ(rt::count("", "x"), 0);

    struct Row { std::string s; int n; std::string d, want; };
    const Row rows[] = {
        {"a|b|c", 1, "|", "a"},   {"a|b|c", 3, "|", "c"},  {"a|b|c", 4, "|", ""},
        {"a|b|c", -1, "|", "c"},  {"a|b|c", -3, "|", "a"}, {"a|b|c", -4, "|", ""},
        {"a||c", 2, "|", ""},     {"|a", 1, "|", ""},      {"a|", 2, "|", ""},
        {"abc", 1, "|", "abc"},   {"abc", -1, "|", "abc"}, {"abc", 2, "|", ""},
        {"abc", -2, "|", ""},     {"a<>b<>c", 2, "<>", "b"}, {"abc", 1, "", "abc"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(rt::part(r.s, r.n, r.d), r.want) << r.s << " " << r.n << " " << r.d;

    EXPECT_EQ(rt::part("a|b", 0, "|"), "");
    EXPECT_EQ(rt::lastReportNumber(), 205);
}

TEST_F(StringsTest, PositionAndReplace)
{
    struct Row { std::string d, s; int p, want; };
    const Row rows[] = {
        {"b", "abcb", 1, 2}, {"b", "abcb", 3, 4}, {"b", "abcb", 4, 4}, {"b", "abcb", 5, 0},
        {"x", "abc", 1, 0},  {"", "abc", 1, 0},   {"a", "abc", 0, 1},  {"a", "abc", -5, 1},
        {"bc", "abc", 2, 2}, {"abcd", "abc", 1, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(rt::position(r.d, r.s, r.p), r.want) << r.d << " in " << r.s << " from " << r.p;

    EXPECT_EQ(rt::replace("a b  c", " ", "_"), "a_b__c");
    EXPECT_EQ(rt::replace("aaa", "aa", "b"), "ba");
    EXPECT_EQ(rt::replace("abc", "", "x"), "abc");
    EXPECT_EQ(rt::replace("abc", "b", ""), "ac");
    EXPECT_EQ(rt::replace("aXa", "a", "aa"), "aaXaa");  // no rescanning of the inserted text
}

TEST_F(StringsTest, RegularExpressionsUnderTheSwitch)
{
    rt::setSwitch("regex", rt::Value(1));
    EXPECT_EQ(rt::position("[0-9]+", "ab123c", 1), 3);
    EXPECT_EQ(rt::regexMatchPosition(), 3);
    EXPECT_EQ(rt::regexMatchLength(), 3);
    EXPECT_EQ(rt::position("[0-9]+", "ab123c", 5), 5);
    EXPECT_EQ(rt::replace("a1b22c", "[0-9]+", "#"), "a#b#c");
    EXPECT_EQ(rt::replace("key=val", "(\\w+)=(\\w+)", "$2=$1"), "val=key");

    EXPECT_EQ(rt::position("(", "a(b", 1), 0);
    EXPECT_EQ(rt::lastReportNumber(), 284);
    EXPECT_EQ(rt::lastReportKind(), 1);
    EXPECT_EQ(rt::lastReportArgument(), "(");
    EXPECT_EQ(rt::replace("a(b", "(", "x"), "a(b");

    rt::setSwitch("regex", rt::Value(0));
    EXPECT_EQ(rt::position("(", "a(b", 1), 2);
}

} // namespace
