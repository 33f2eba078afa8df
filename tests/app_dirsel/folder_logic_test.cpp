// Table tests of the folder-selection rules: listing lines, path label,
// navigation, selection after delete, the folder history, Tab repeat and
// the double click.
#include "app/folder_logic.h"

#include <gtest/gtest.h>

using namespace app::folders;

namespace {

struct LineCase {
    const char* line;
    bool atLogin;
    const char* folder;  // nullptr: not taken
};

TEST(FolderOfListLine, Table)
{
    const LineCase cases[] = {
        {"drwxr-xr-x   2 root     root         4096 Dec 08 03:36 pub", false, "pub"},
        {"drwxr-xr-x   2 root     root         4096 Dec 08 03:36 pub\r", false, "pub"},
        {"drwxr-xr-x   2 root     root         4096 Dec 08 03:36 my stuff", false, "my stuff"},
        {"drwxr-xr-x   2 root     root         4096 Dec 08  2019 old one ", false, "old one"},
        {"drwxr-xr-x   2 ftp      4096 Jan  1 12:00 nogroup", false, "nogroup"},
        {"-rw-r--r--   1 root     root          100 Dec 08 03:36 file.txt", false, nullptr},
        {"lrwxrwxrwx   1 root     root            4 Dec 08 03:36 link -> pub", false, nullptr},
        {"Drwxr-xr-x   2 root     root         4096 Dec 08 03:36 upper", false, nullptr},
        {"drwxr-xr-x   2 root     root         4096 Dec 08 03:36 .", false, nullptr},
        {"drwxr-xr-x   2 root     root         4096 Dec 08 03:36 ..", false, ".."},
        {"drwxr-xr-x   2 root     root         4096 Dec 08 03:36 ..", true, nullptr},
        {"drwxr-xr-x   2 root     root         4096 Dec 08 03:36 ", false, nullptr},
        {"d", false, "d"},
        {"dname", false, "dname"},
        {"d odd listing without date last", false, "last"},
        {"", false, nullptr},
        {"total 12", false, nullptr},
    };
    for (const auto& c : cases) {
        auto got = folderOfListLine(c.line, c.atLogin);
        if (c.folder) {
            ASSERT_TRUE(got.has_value()) << c.line;
            EXPECT_EQ(*got, c.folder) << c.line;
        } else {
            EXPECT_FALSE(got.has_value()) << c.line << " gave " << got.value_or("");
        }
    }
}

TEST(PathLabel, Table)
{
    struct { const char* server; const char* path; const char* label; } cases[] = {
        {"ftp.example.org", "", "ftp://ftp.example.org/"},
        {"ftp.example.org", "pub/files", "ftp://ftp.example.org/pub/files/"},
        {"ftp.example.org/", "pub", "ftp://ftp.example.org/pub/"},
        {"host", "/pub/", "ftp://host/pub/"},
        {"host/", "/pub", "ftp://host//pub/"},  // three slashes become two in one pass
    };
    for (const auto& c : cases) EXPECT_EQ(pathLabel(c.server, c.path), c.label) << c.server << " " << c.path;
}

TEST(InitialSelection, Table)
{
    EXPECT_EQ(initialSelection(2, ".."), 1);
    EXPECT_EQ(initialSelection(1, ".."), 0);
    EXPECT_EQ(initialSelection(3, "a"), 0);
    EXPECT_EQ(initialSelection(0, ""), 0);
    EXPECT_EQ(initialSelection(3, "..."), 0);
}

TEST(Navigate, Table)
{
    struct { const char* dir; const char* target; const char* newDir; const char* reselect; } cases[] = {
        {"", "pub", "pub", ""},
        {"pub", "files", "pub/files", ""},
        {"pub/files", "..", "pub", "files"},
        {"a", "..", "", "a"},
        {"a/b/c", "..", "a/b", "c"},
        {"", "x/", "x", ""},
        {"", "/x", "x", ""},
        {"pub", "my stuff", "pub/my stuff", ""},
    };
    for (const auto& c : cases) {
        Navigation n = navigate(c.dir, c.target);
        EXPECT_EQ(n.dir, c.newDir) << c.dir << " + " << c.target;
        EXPECT_EQ(n.reselect, c.reselect) << c.dir << " + " << c.target;
    }
}

TEST(StripOuterSlashes, Table)
{
    EXPECT_EQ(stripOuterSlashes("/pub/files/"), "pub/files");
    EXPECT_EQ(stripOuterSlashes("//x"), "/x");
    EXPECT_EQ(stripOuterSlashes("/"), "");
    EXPECT_EQ(stripOuterSlashes(""), "");
    EXPECT_EQ(stripOuterSlashes("a"), "a");
}

TEST(SelectionAfterDelete, Table)
{
    // Five entries 0..4; after deleting one, four remain.
    EXPECT_EQ(selectionAfterDelete(3, 4), 3);   // last but one: the entry that followed
    EXPECT_EQ(selectionAfterDelete(2, 4), 1);   // any other: the one before
    EXPECT_EQ(selectionAfterDelete(4, 4), 3);   // the last one
    EXPECT_EQ(selectionAfterDelete(0, 4), -1);  // the first: none before it
    EXPECT_EQ(selectionAfterDelete(0, 0), -1);  // the only one: nothing left
}

DirSlots slots(std::initializer_list<const char*> values)
{
    DirSlots s;
    int i = 1;
    for (const char* v : values) s[i++] = v;
    return s;
}

TEST(DirHistory, BoxEntryMapsToItsSlot)
{
    const DirSlots s = slots({"", "a", "", "b", "c"});
    EXPECT_EQ(slotOfBoxEntry(s, 0), 2);
    EXPECT_EQ(slotOfBoxEntry(s, 1), 4);
    EXPECT_EQ(slotOfBoxEntry(s, 2), 5);
    EXPECT_EQ(slotOfBoxEntry(s, 3), 0);
    EXPECT_EQ(slotOfBoxEntry(s, -1), 0);
}

TEST(DirHistory, RemoveSlotBehindEmptyKeys)
{
    DirSlots s = slots({"", "a", "", "b", "c", "d", "e", "f", "g", "h"});
    removeSlot(s, slotOfBoxEntry(s, 1));  // "b"
    EXPECT_EQ(s, slots({"", "a", "", "c", "d", "e", "f", "g", "h", ""}));
    removeSlot(s, 10);
    EXPECT_EQ(s, slots({"", "a", "", "c", "d", "e", "f", "g", "h", ""}));
    removeSlot(s, 9);
    EXPECT_EQ(s, slots({"", "a", "", "c", "d", "e", "f", "g", "", ""}));
}

TEST(DirHistory, RememberChosen)
{
    struct { DirSlots before; const char* dir; DirSlots after; bool changed; } cases[] = {
        // A known folder swaps with Dirs1.
        {slots({"a", "b", "c", "d", "e"}), "d", slots({"d", "b", "c", "a", "e"}), true},
        {slots({"a", "b"}), "a", slots({"a", "b"}), true},
        // A new folder pushes the others down; Dirs10 falls out.
        {slots({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}), "n",
         slots({"n", "1", "2", "3", "4", "5", "6", "7", "8", "9"}), true},
        {slots({"a", "", "b"}), "n", slots({"n", "a", "", "b"}), true},
        // The login folder is not remembered.
        {slots({"a", "", "b"}), "", slots({"a", "", "b"}), false},
        // Comparison is exact.
        {slots({"Pub"}), "pub", slots({"pub", "Pub"}), true},
    };
    for (auto& c : cases) {
        DirSlots s = c.before;
        EXPECT_EQ(rememberChosen(s, c.dir), c.changed) << c.dir;
        EXPECT_EQ(s, c.after) << c.dir;
    }
}

TEST(TabRepeat, HeldTabMovesAtOnceThenAfter500ThenEvery100)
{
    TabRepeat tab(1000);
    std::vector<std::uint32_t> moves;
    for (std::uint32_t t = 1000; t < 1100; t += 20)
        EXPECT_FALSE(tab.step(false, t));
    for (std::uint32_t t = 1100; t <= 1900; t += 20)
        if (tab.step(true, t)) moves.push_back(t);
    // Polls every 20 ms: at once, then the first poll after 500 ms, then the
    // first poll after each further 100 ms.
    const std::vector<std::uint32_t> want = {1100, 1620, 1740, 1860};
    EXPECT_EQ(moves, want);
    EXPECT_FALSE(tab.step(false, 1920));
    EXPECT_TRUE(tab.step(true, 1940));   // a new press moves at once
    EXPECT_FALSE(tab.step(true, 2040));  // and waits 500 ms again
    EXPECT_FALSE(tab.step(true, 2440));
    EXPECT_TRUE(tab.step(true, 2460));
}

TEST(TabRepeat, ShortPressesMoveOnceEach)
{
    TabRepeat tab(0);
    int moves = 0;
    for (std::uint32_t t = 20; t < 2000; t += 20) {
        const bool down = (t / 100) % 2 == 1;  // 100 ms down, 100 ms up
        moves += tab.step(down, t);
    }
    EXPECT_EQ(moves, 10);
}

TEST(TabRepeat, TickCountWraps)
{
    TabRepeat tab(0xFFFFFF00u);
    EXPECT_TRUE(tab.step(true, 0xFFFFFF10u));
    EXPECT_FALSE(tab.step(true, 0x00000010u));  // 256 ms later
    EXPECT_TRUE(tab.step(true, 0x00000120u));   // 528 ms later
}

struct Poll {
    bool over, down;
    std::uint32_t t;
    int x, y;
};

int doubleClicks(std::initializer_list<Poll> polls)
{
    DoubleClick d;
    int n = 0;
    for (const Poll& p : polls) n += d.step(p.over, p.down, p.t, p.x, p.y);
    return n;
}

TEST(DoubleClick, Table)
{
    // down, up, down within 500 ms at the same place
    EXPECT_EQ(doubleClicks({{true, true, 0, 10, 10}, {true, false, 100, 10, 10}, {true, true, 200, 11, 12}}), 1);
    // too slow
    EXPECT_EQ(doubleClicks({{true, true, 0, 10, 10}, {true, false, 100, 10, 10}, {true, true, 520, 10, 10}}), 0);
    // moved 5 pixels
    EXPECT_EQ(doubleClicks({{true, true, 0, 10, 10}, {true, false, 100, 10, 10}, {true, true, 200, 15, 10}}), 0);
    EXPECT_EQ(doubleClicks({{true, true, 0, 10, 10}, {true, false, 100, 10, 10}, {true, true, 200, 10, 5}}), 0);
    // second press outside the list
    EXPECT_EQ(doubleClicks({{true, true, 0, 10, 10}, {true, false, 100, 10, 10}, {false, true, 200, 10, 10}}), 0);
    // release outside the list: never reaches state 2
    EXPECT_EQ(doubleClicks({{true, true, 0, 10, 10}, {false, false, 100, 10, 10}, {true, true, 200, 10, 10}}), 0);
    // held button: one press only
    EXPECT_EQ(doubleClicks({{true, true, 0, 1, 1}, {true, true, 20, 1, 1}, {true, true, 40, 1, 1}}), 0);
    // a triple click reports once; the third press starts over after state 3
    EXPECT_EQ(doubleClicks({{true, true, 0, 1, 1}, {true, false, 50, 1, 1}, {true, true, 100, 1, 1},
                            {true, true, 120, 1, 1}, {true, false, 150, 1, 1}, {true, true, 200, 1, 1}}),
              1);
    // the press that completed a double click, held over several polls, is
    // no first press of another: a click just after it enters nothing more
    EXPECT_EQ(doubleClicks({{true, true, 0, 1, 1}, {true, false, 20, 1, 1}, {true, true, 40, 1, 1},
                            {true, true, 60, 1, 1}, {true, true, 80, 1, 1}, {true, false, 100, 1, 1},
                            {true, true, 140, 1, 1}}),
              1);
}

TEST(DoubleClick, StateThreeLastsOnePoll)
{
    DoubleClick d;
    d.step(true, true, 0, 0, 0);
    d.step(true, false, 20, 0, 0);
    EXPECT_TRUE(d.step(true, true, 40, 0, 0));
    EXPECT_EQ(d.state(), 3);
    EXPECT_FALSE(d.step(true, true, 60, 0, 0));
    EXPECT_EQ(d.state(), 4);  // waits for the release
    EXPECT_FALSE(d.step(true, false, 80, 0, 0));
    EXPECT_EQ(d.state(), 0);
}

} // namespace
