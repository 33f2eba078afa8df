// Table tests of the upload-window program's pure parts.
#include <gtest/gtest.h>
#include "app/getsize/getsize_logic.h"

using namespace getsize;

TEST(GetsizeArguments, CommandLinesOfTheUploadRun)
{
    struct Row {
        const char* line;
        bool ok;
        const char* remoteName;
        long long size;
        const char* password;
        int window, config;
        bool more;
        int channel;
        const char* directory;
    };
    const Row rows[] = {
        {"getsize.exe a_b.txt 2000 pass 65568 1 0 131170 up", true, "a_b.txt", 2000, "pass", 65568, 1, false,
         131170, "up"},
        {"getsize.exe x.bin 5 geheim 10 10 1 20 ?", true, "x.bin", 5, "geheim", 10, 10, true, 20, "?"},
        // Started by path in quotes, a folder with a blank.
        {"\"C:\\Program Files\\Q\\getsize.exe\" x 1 p 10 2 0 20 pub/files", true, "x", 1, "p", 10, 2, false,
         20, "pub/files"},
        // Empty password: the run writes two blanks.
        {"getsize.exe x 1  10 3 0 20 ?", true, "x", 1, "", 10, 3, false, 20, "?"},
        // A password with a blank, a numeric password, a directory with a blank.
        {"getsize.exe x 1 mein pw 10 1 1 20 ?", true, "x", 1, "mein pw", 10, 1, true, 20, "?"},
        {"getsize.exe x 1 1234 10 1 1 20 ?", true, "x", 1, "1234", 10, 1, true, 20, "?"},
        {"getsize.exe x 1 p 10 1 0 20 mein ordner", true, "x", 1, "p", 10, 1, false, 20, "mein ordner"},
        // Missing local file: size -1.
        {"getsize.exe x -1 p 10 1 0 20 ?", true, "x", -1, "p", 10, 1, false, 20, "?"},
        // Malformed: too short, no number where the size goes, config out of range, no directory.
        {"getsize.exe x 1 p 10 1 0", false, "", 0, "", 0, 0, false, 0, ""},
        {"getsize.exe x eins p 10 1 0 20 ?", false, "", 0, "", 0, 0, false, 0, ""},
        {"getsize.exe x 1 p 10 11 0 20 ?", false, "", 0, "", 0, 0, false, 0, ""},
        {"getsize.exe x 1 p 10 1 2 20 ?", false, "", 0, "", 0, 0, false, 0, ""},
        {"getsize.exe", false, "", 0, "", 0, 0, false, 0, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        const auto a = parseArguments(commandWords(r.line));
        ASSERT_EQ(a.has_value(), r.ok);
        if (!r.ok) continue;
        EXPECT_EQ(a->remoteName, r.remoteName);
        EXPECT_EQ(a->size, r.size);
        EXPECT_EQ(a->password, r.password);
        EXPECT_EQ(a->mainWindow, r.window);
        EXPECT_EQ(a->configNumber, r.config);
        EXPECT_EQ(a->more, r.more);
        EXPECT_EQ(a->channel, r.channel);
        EXPECT_EQ(a->directory, r.directory);
    }
}

TEST(GetsizeChannel, Texts)
{
    EXPECT_EQ(parseChannelText("two.txt 20 1"), (ChannelText{"two.txt", 20, true}));
    EXPECT_EQ(parseChannelText("Grüße.txt 0 0"), (ChannelText{"Grüße.txt", 0, false}));
    EXPECT_EQ(parseChannelText("gone.txt -1 0"), (ChannelText{"gone.txt", -1, false}));
    for (const char* bad : {"", "two.txt", "two.txt 20", "two.txt x 1", "two.txt 20 5", "a b 20 1"})
        EXPECT_FALSE(parseChannelText(bad).has_value()) << bad;
}

TEST(GetsizeRate, OverTheLastTwoSeconds)
{
    RateMeter m;
    EXPECT_EQ(m.bytesPerSecond(), 0);
    m.add(1000, 0);
    EXPECT_EQ(m.bytesPerSecond(), 0);
    m.add(1500, 1000000);
    EXPECT_EQ(m.bytesPerSecond(), 2000000);
    // Old samples fall away: the rate follows a slower upload.
    for (std::uint32_t t = 2000; t <= 6000; t += 500) m.add(t, 1000000 + (t - 1500) * 100);
    EXPECT_EQ(m.bytesPerSecond(), 100000);
    // A stalled upload reads 0, not a negative rate; tick count wrap-around.
    m.reset();
    m.add(0xFFFFFF00u, 500);
    m.add(0x00000100u, 1012);
    EXPECT_EQ(m.bytesPerSecond(), 1000);
    m.add(0x00000300u, 1012);
    m.add(0x00000A00u, 1012);
    m.add(0x00001200u, 1012);
    EXPECT_EQ(m.bytesPerSecond(), 0);
}

TEST(GetsizeCompletion, SeenGrowingOrSteady)
{
    // Missing, growing, then complete.
    CompletionWatch a(100);
    EXPECT_FALSE(a.complete(-1, 0));
    EXPECT_FALSE(a.complete(50, 300));
    EXPECT_TRUE(a.complete(100, 600));
    // An older, larger copy at the first look counts only after two seconds.
    CompletionWatch b(100);
    EXPECT_FALSE(b.complete(200, 0));
    EXPECT_FALSE(b.complete(200, 1999));
    EXPECT_TRUE(b.complete(200, 2000));
    // ... unless the upload replaces it meanwhile.
    CompletionWatch c(100);
    EXPECT_FALSE(c.complete(200, 0));
    EXPECT_FALSE(c.complete(0, 1000));
    EXPECT_FALSE(c.complete(40, 2500));
    EXPECT_TRUE(c.complete(100, 2800));
    // Empty file: complete once it exists after being missing.
    CompletionWatch d(0);
    EXPECT_FALSE(d.complete(-1, 0));
    EXPECT_TRUE(d.complete(0, 300));
    // Local file missing or a folder: never complete.
    CompletionWatch e(-1);
    EXPECT_FALSE(e.complete(-1, 0));
    EXPECT_FALSE(e.complete(5, 9000));
}

TEST(GetsizeTexts, Numbers)
{
    const struct {
        long long done, total;
        int permille;
    } rows[] = {{0, 100, 0}, {-1, 100, 0}, {1, 100, 10}, {50, 100, 500}, {999, 1000, 999}, {100, 100, 1000},
                {150, 100, 1000}, {0, 0, 1000}, {-1, 0, 0}, {5, -1, 0},
                {3000000000LL, 4000000000LL, 750}};
    for (const auto& r : rows) EXPECT_EQ(permille(r.done, r.total), r.permille) << r.done << "/" << r.total;

    EXPECT_EQ(groupedNumber(0), "0");
    EXPECT_EQ(groupedNumber(999), "999");
    EXPECT_EQ(groupedNumber(1000), "1.000");
    EXPECT_EQ(groupedNumber(20971520), "20.971.520");
    EXPECT_EQ(groupedNumber(-1234), "-1.234");
    EXPECT_EQ(nameText("big.bin", 20971520), "big.bin (20.971.520 Bytes)");
    EXPECT_EQ(nameText("gone.bin", -1), "gone.bin");
    EXPECT_EQ(statusText(375, 4194304, false), "37 % \xB7 4.194.304 Bytes/s");
    EXPECT_EQ(statusText(1000, 0, true), "100 % \xB7 0 Bytes/s \xB7 markiert");
    EXPECT_TRUE(isMarked("1"));
    EXPECT_FALSE(isMarked("0"));
    EXPECT_FALSE(isMarked(""));
    EXPECT_FALSE(isMarked("ja"));
}
