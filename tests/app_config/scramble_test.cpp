// Password scrambling: the table, round trips and the stored forms.
#include "app/config/scramble.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <random>
#include <set>

namespace {

using app::scramble;
using app::scrambleRow;
using app::unscramble;

std::string sorted(std::string_view s)
{
    std::string t(s);
    std::sort(t.begin(), t.end());
    return t;
}

TEST(ScrambleTable, RowZeroIsTheCharacterSet)
{
    const std::string_view row0 = scrambleRow(0);
    ASSERT_EQ(row0.size(), 123u);
    EXPECT_EQ(row0.substr(0, 64), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz1234567890-_");
    // The tail in code page 1252 bytes: Ä ä Ö ö Ü ü ß ~ blank ! ? = ...
    EXPECT_EQ(row0.substr(64, 12), "\xC4\xE4\xD6\xF6\xDC\xFC\xDF~ !?=");
    EXPECT_EQ(row0.substr(117), ".,;:^\xB0");
    EXPECT_EQ(std::set<char>(row0.begin(), row0.end()).size(), 123u);
}

TEST(ScrambleTable, EveryRowIsADifferentArrangementOfRowZero)
{
    const std::string set = sorted(scrambleRow(0));
    std::set<std::string_view> rows;
    for (int r = 0; r < app::kScrambleRows; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(sorted(scrambleRow(r)), set);
        rows.insert(scrambleRow(r));
    }
    EXPECT_EQ(rows.size(), 36u);
}

TEST(Scramble, RoundTripsForEveryLengthUpTo35)
{
    std::mt19937 random(20261208);
    const std::string_view row0 = scrambleRow(0);
    std::uniform_int_distribution<std::size_t> pick(0, row0.size() - 1);
    for (int length = 0; length <= 35; ++length) {
        for (int sample = 0; sample < 20; ++sample) {
            std::string password;
            for (int i = 0; i < length; ++i) password += row0[pick(random)];
            SCOPED_TRACE(password);
            const std::string stored = scramble(password);
            EXPECT_EQ(stored.size(), password.size());
            EXPECT_EQ(unscramble(stored), password);
        }
    }
}

TEST(Scramble, EmptyPasswordIsStoredEmpty)
{
    EXPECT_EQ(scramble(""), "");
    EXPECT_EQ(unscramble(""), "");
}

TEST(Scramble, ThirtiethCharacterIsStoredUnchanged)
{
    // Position 30 of the second pass uses row 0; positions 31 to 35 pass
    // unchanged as well. The first pass still substitutes them.
    const std::string password(30, 'a');
    const std::string stored = scramble(password);
    ASSERT_EQ(stored.size(), 30u);
    const std::size_t k = scrambleRow(0).find('a');
    EXPECT_EQ(stored[29], scrambleRow(30)[k]);

    const std::string longer = "abcdefghijklmnopqrstuvwxyzABCDEFG";  // 33
    const std::string stored33 = scramble(longer);
    for (int i = 30; i <= 33; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(stored33[i - 1], scrambleRow(i)[scrambleRow(0).find(longer[i - 1])]);
    }
}

TEST(Scramble, SameCharacterAtTwoPositionsIsStoredDifferently)
{
    const std::string stored = scramble("aa");
    EXPECT_NE(stored[0], stored[1]);
}

TEST(Scramble, CharactersOutsideTheSetAreDropped)
{
    const struct { std::string password, kept; } cases[] = {
        {"pass\tword", "password"},
        {"\tsecret", "secret"},
        {"secret\t", "secret"},
        {"a\"b\\c", "abc"},
        {"\t\t", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        const std::string stored = scramble(c.password);
        EXPECT_EQ(stored, scramble(c.kept));
        EXPECT_EQ(stored.size(), c.kept.size());
        EXPECT_EQ(unscramble(stored), c.kept);
    }
}

TEST(Scramble, TextsOver35CharactersBecomeTooLong)
{
    const std::string p35(35, 'x');
    EXPECT_EQ(unscramble(scramble(p35)), p35);
    const std::string p36(36, 'x');
    EXPECT_EQ(scramble(p36), scramble("toolong"));
    EXPECT_EQ(unscramble(scramble(p36)), "toolong");
    // A hand-edited stored text of 36 characters is read as "toolong".
    EXPECT_EQ(unscramble(std::string(36, 'Q')), unscramble("toolong"));
}

TEST(Scramble, EqualPasswordsGiveEqualStoredTexts)
{
    EXPECT_EQ(scramble("Geheim!2026"), scramble("Geheim!2026"));
    EXPECT_NE(scramble("Geheim!2026"), scramble("Geheim!2025"));
}

TEST(Scramble, StoredTextUsesOnlyTheCharacterSet)
{
    const std::string stored = scramble("Zugang \xE4\xF6\xFC \xDF @ Server");
    for (char c : stored) EXPECT_NE(scrambleRow(0).find(c), std::string_view::npos);
}

} // namespace
