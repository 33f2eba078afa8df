// Tables for the pure parts of the upload run: remote names, the history
// step and the texts of refused encrypted connections (addresses:
// address_test.cpp).
#include <gtest/gtest.h>

#include "app/address.h"
#include "app/history_logic.h"
#include "app/tls_message.h"
#include "app/upload_run.h"

namespace {

TEST(RemoteName, BlanksThenLastBackslash)
{
    struct Row { const char* path; const char* remote; };
    const Row rows[] = {
        {"C:\\My Files\\a b.txt", "a_b.txt"},
        {"C:\\x\\Mein Bild.jpg", "Mein_Bild.jpg"},
        {"plain.txt", "plain.txt"},
        {"two  blanks .txt", "two__blanks_.txt"},
        {"C:\\dir\\", ""},
        {"C:\\a\\b\\M\xFC" "ller Bild.png", "M\xFC" "ller_Bild.png"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(app::remoteNameOf(r.path), r.remote) << r.path;
}

TEST(ReplaceAll, OnePassLeftToRight)
{
    struct Row { const char* text; const char* what; const char* with; const char* result; };
    const Row rows[] = {
        {"a//b", "//", "/", "a/b"},
        {"a///b", "//", "/", "a//b"},
        {"a////b", "//", "/", "a//b"},
        {"//", "//", "/", "/"},
        {"no slashes", "//", "/", "no slashes"},
        {"a b  c", " ", "_", "a_b__c"},
        {"", " ", "_", ""},
        {"abc", "", "x", "abc"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(app::replaceAll(r.text, r.what, r.with), r.result) << r.text;
}

TEST(KeepCount, TableOfTheKeepList)
{
    const int expected[] = {0, 1, 2, 3, 5, 10, 20};
    for (int d = 0; d <= 6; ++d)
        EXPECT_EQ(app::keepCount(d), expected[d]) << d;
    EXPECT_EQ(app::keepCount(7), 0);
    EXPECT_EQ(app::keepCount(-1), 0);
}

app::HistorySlots slotsOf(std::initializer_list<const char*> names)
{
    app::HistorySlots s;
    int i = 1;
    for (const char* n : names)
        s[i++] = n;
    return s;
}

std::vector<std::string> firstSlots(const app::HistorySlots& s, int n)
{
    return std::vector<std::string>(s.begin() + 1, s.begin() + 1 + n);
}

using Names = std::vector<std::string>;

struct HistoryRow {
    const char* what;
    app::HistorySlots before;
    const char* remote;
    int protect, delClick, delOld;
    bool recorded;
    Names deletions;
    Names after;  // History1.. (the rest must be empty)
    bool resetProtect;
};

TEST(DecideHistory, Table)
{
    const HistoryRow rows[] = {
        {"keep 1 deletes all three", slotsOf({"a", "b", "c"}), "R", 0, 0, 1,
         true, {"a", "b", "c"}, {"R"}, false},
        {"keep 3 deletes from slot 3", slotsOf({"a", "b", "c", "d", "e"}), "R", 0, 0, 3,
         true, {"c", "d", "e"}, {"R", "a", "b"}, false},
        {"keep 5 with room left deletes nothing", slotsOf({"a", "b", "c"}), "R", 0, 0, 4,
         true, {}, {"R", "a", "b", "c"}, false},
        {"keep 5 with six recorded", slotsOf({"a", "b", "c", "d", "e", "f"}), "R", 0, 0, 4,
         true, {"e", "f"}, {"R", "a", "b", "c", "d"}, false},
        // The gap left by the same name closes before deleting, so K files stay.
        {"same name in slot 2 is neither deleted nor kept twice", slotsOf({"a", "R", "c", "d"}), "R", 0, 0, 3,
         true, {"d"}, {"R", "a", "c"}, false},
        {"same name in slot 1 with keep 1", slotsOf({"R", "a"}), "R", 0, 0, 1,
         true, {"a"}, {"R"}, false},
        // On a case-blind server "r" is the file just stored: never deleted.
        {"same name in another letter case leaves the history", slotsOf({"r", "a"}), "R", 0, 0, 1,
         true, {"a"}, {"R"}, false},
        {"letter case of umlauts too", slotsOf({"\xE4rger.txt", "a"}), "\xC4RGER.TXT", 0, 0, 2,
         true, {}, {"\xC4RGER.TXT", "a"}, false},
        {"marked upload protected with DelClick 0", slotsOf({"a", "", "b", "c"}), "R", 1, 0, 1,
         false, {}, {"a", "b", "c"}, true},
        {"unmarked upload protected with DelClick 1", slotsOf({"a", "b"}), "R", 0, 1, 1,
         false, {}, {"a", "b"}, true},
        {"marked upload recorded with DelClick 1", slotsOf({"a", "b"}), "R", 1, 1, 1,
         true, {"a", "b"}, {"R"}, false},
        {"protected drops only the same name", slotsOf({"R", "a"}), "R", 1, 0, 2,
         false, {}, {"a"}, true},
        {"gaps close in order", slotsOf({"", "a", "", "", "b", "", "c"}), "R", 0, 0, 6,
         true, {}, {"R", "a", "b", "c"}, false},
        {"unknown keep index deletes nothing", slotsOf({"a", "b"}), "R", 0, 0, 9,
         true, {}, {"R", "a", "b"}, false},
        {"empty history", slotsOf({}), "R", 0, 0, 2, true, {}, {"R"}, false},
    };
    for (const HistoryRow& r : rows) {
        const app::HistoryOutcome out = app::decideHistory(r.before, r.remote, r.protect, r.delClick, r.delOld);
        EXPECT_EQ(out.recorded, r.recorded) << r.what;
        EXPECT_EQ(out.deletions, r.deletions) << r.what;
        const int n = static_cast<int>(r.after.size());
        EXPECT_EQ(firstSlots(out.history, n), r.after) << r.what;
        for (int i = n + 1; i <= 20; ++i)
            EXPECT_EQ(out.history[i], "") << r.what << " slot " << i;
        EXPECT_EQ(out.resetProtect, r.resetProtect) << r.what;
    }
}

TEST(DecideHistory, FilesOfTheRunStayWhateverTheKeepCount)
{
    struct Row {
        const char* what;
        app::HistorySlots before;
        const char* remote;
        Names earlier;
        int delOld;
        Names deletions;
        Names after;
    };
    const Row rows[] = {
        {"keep 1, third file of a run", slotsOf({"r2", "r1", "old"}), "r3", {"r1", "r2"}, 1,
         {"old"}, {"r3", "r2", "r1"}},
        {"keep 2, run files among older ones", slotsOf({"r1", "o1", "o2"}), "r2", {"r1"}, 2,
         {"o1", "o2"}, {"r2", "r1"}},
        {"run names compared without letter case", slotsOf({"R1.TXT", "old"}), "r2", {"r1.txt"}, 1,
         {"old"}, {"r2", "R1.TXT"}},
        {"keep 5 deletes beyond the run and the kept", slotsOf({"r1", "a", "b", "c", "d", "e"}), "r2", {"r1"}, 4,
         {"d", "e"}, {"r2", "r1", "a", "b", "c"}},
        {"a run name no longer in the history changes nothing", slotsOf({"a", "b"}), "r2", {"r1"}, 1,
         {"a", "b"}, {"r2"}},
    };
    for (const Row& r : rows) {
        const app::HistoryOutcome out = app::decideHistory(r.before, r.remote, 0, 0, r.delOld, r.earlier);
        EXPECT_EQ(out.deletions, r.deletions) << r.what;
        const int n = static_cast<int>(r.after.size());
        EXPECT_EQ(firstSlots(out.history, n), r.after) << r.what;
        EXPECT_EQ(out.history[n + 1], "") << r.what;
    }
}

TEST(DecideHistory, KeepOneOverARunOfThreeDeletesOnlyOlderFiles)
{
    // Each file reads what the one before wrote, as the run does.
    app::HistorySlots s = slotsOf({"old1", "old2"});
    Names deleted, earlier;
    for (const char* r : {"x", "y", "z"}) {
        const app::HistoryOutcome out = app::decideHistory(s, r, 0, 0, 1, earlier);
        deleted.insert(deleted.end(), out.deletions.begin(), out.deletions.end());
        s = out.history;
        earlier.push_back(r);
    }
    EXPECT_EQ(deleted, (Names{"old1", "old2"}));
    EXPECT_EQ(firstSlots(s, 4), (Names{"z", "y", "x", ""}));
    // The next run keeps one again.
    const app::HistoryOutcome next = app::decideHistory(s, "n", 0, 0, 1, {});
    EXPECT_EQ(next.deletions, (Names{"z", "y", "x"}));
}

TEST(DecideHistory, FullListKeepTwentyDropsTheOldest)
{
    app::HistorySlots s;
    for (int i = 1; i <= 20; ++i)
        s[i] = "f" + std::to_string(i);
    const app::HistoryOutcome out = app::decideHistory(s, "new", 0, 0, 6);
    EXPECT_EQ(out.deletions, Names{"f20"});
    EXPECT_EQ(out.history[1], "new");
    for (int j = 2; j <= 20; ++j)
        EXPECT_EQ(out.history[j], "f" + std::to_string(j - 1));
}

TEST(DecideHistory, SuccessiveFilesOfOneRunKeepFive)
{
    // Each file reads what the one before wrote.
    app::HistorySlots s = slotsOf({"a", "b", "c", "d", "e", "f"});
    Names deleted;
    for (const char* r : {"x", "y", "z"}) {
        const app::HistoryOutcome out = app::decideHistory(s, r, 0, 0, 4);
        deleted.insert(deleted.end(), out.deletions.begin(), out.deletions.end());
        s = out.history;
    }
    EXPECT_EQ(deleted, (Names{"e", "f", "d", "c"}));
    EXPECT_EQ(firstSlots(s, 6), (Names{"z", "y", "x", "a", "b", ""}));
}

} // namespace

// The "Fehler:" text of a connection that could not be encrypted: the
// reason in German, the certificate's subject when one was seen, and always
// the assurance that nothing went over.
TEST(TlsFailureText, ReasonTable)
{
    using ftp::TlsProblem;
    struct Row {
        TlsProblem problem;
        const char* subject;
        std::string text;
    };
    const std::string none = "\r\n\r\nEs wurde nichts übertragen.";
    const Row rows[] = {
        {TlsProblem::None, "", ""},
        {TlsProblem::Refused, "",
         "Der Server ftp.example.com bietet keine verschlüsselte Verbindung (FTPS) an." + none},
        {TlsProblem::Handshake, "",
         "Die verschlüsselte Verbindung zum Server ftp.example.com konnte nicht aufgebaut werden." +
             none},
        {TlsProblem::Untrusted, "CN=selbst",
         "Das Zertifikat des Servers ist nicht vertrauenswürdig.\r\n\r\nZertifikat: CN=selbst" + none},
        {TlsProblem::Expired, "O=Test, CN=localhost",
         "Das Zertifikat des Servers ist abgelaufen.\r\n\r\nZertifikat: O=Test, CN=localhost" + none},
        {TlsProblem::WrongName, "CN=other.example",
         "Das Zertifikat des Servers gilt nicht für den Namen ftp.example.com.\r\n\r\n"
         "Zertifikat: CN=other.example" + none},
        {TlsProblem::Certificate, "", "Das Zertifikat des Servers wurde abgelehnt." + none},
    };
    for (const Row& r : rows) {
        ftp::TlsFailure f;
        f.problem = r.problem;
        f.subject = r.subject;
        f.detail = "English detail that users never see";
        EXPECT_EQ(app::tlsFailureMessage(f, "ftp.example.com"), r.text) << ftp::tlsProblemName(r.problem);
    }
}
