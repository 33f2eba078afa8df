// Table tests of the upload-window program's pure parts.
#include <gtest/gtest.h>
#include <utility>
#include <vector>
#include "app/getsize/getsize_logic.h"

using namespace getsize;

TEST(GetsizeArguments, CommandLinesOfTheUploadRun)
{
    struct Row {
        const char* line;
        bool ok;
        const char* remoteName;
        long long size;
        int window, config;
        bool more;
        int channel;
        const char* directory;
    };
    const Row rows[] = {
        {"getsize.exe a_b.txt 2000 65568 1 0 131170 up", true, "a_b.txt", 2000, 65568, 1, false, 131170, "up"},
        {"getsize.exe x.bin 5 10 10 1 20 ?", true, "x.bin", 5, 10, 10, true, 20, "?"},
        // Started by path in quotes, a folder with a blank.
        {"\"C:\\Program Files\\Q\\getsize.exe\" x 1 10 2 0 20 pub/files", true, "x", 1, 10, 2, false, 20,
         "pub/files"},
        {"getsize.exe x 1 10 1 0 20 mein ordner", true, "x", 1, 10, 1, false, 20, "mein ordner"},
        {"getsize.exe x 1 10 1 1 20 1 2 3", true, "x", 1, 10, 1, true, 20, "1 2 3"},
        // Missing local file: size -1.
        {"getsize.exe x -1 10 1 0 20 ?", true, "x", -1, 10, 1, false, 20, "?"},
        // Malformed: too short, no number where one goes, config or more out
        // of range, no window or channel.
        {"getsize.exe x 1 10 1 0 20", false, "", 0, 0, 0, false, 0, ""},
        {"getsize.exe x eins 10 1 0 20 ?", false, "", 0, 0, 0, false, 0, ""},
        {"getsize.exe x 1 10 11 0 20 ?", false, "", 0, 0, 0, false, 0, ""},
        {"getsize.exe x 1 10 0 0 20 ?", false, "", 0, 0, 0, false, 0, ""},
        {"getsize.exe x 1 10 1 2 20 ?", false, "", 0, 0, 0, false, 0, ""},
        {"getsize.exe x 1 0 1 0 20 ?", false, "", 0, 0, 0, false, 0, ""},
        {"getsize.exe x 1 10 1 0 0 ?", false, "", 0, 0, 0, false, 0, ""},
        // The older form with a password in third place is refused, not
        // misread.
        {"getsize.exe x 1 pass 10 1 0 20 ?", false, "", 0, 0, 0, false, 0, ""},
        {"getsize.exe", false, "", 0, 0, 0, false, 0, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        const auto a = parseArguments(commandWords(r.line));
        ASSERT_EQ(a.has_value(), r.ok);
        if (!r.ok) continue;
        EXPECT_EQ(a->remoteName, r.remoteName);
        EXPECT_EQ(a->size, r.size);
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

// Samples as the window takes them (tick, size on the server) and the rate
// shown after the last one; -1 = no rate shown.
TEST(GetsizeRate, MovingAverageOfOneFile)
{
    using S = std::vector<std::pair<std::uint32_t, long long>>;
    struct Row {
        const char* what;
        S samples;
        long long rate;
    };
    S steady, bursts, slowBursts, stalled, restarted, wrapped;
    for (std::uint32_t t = 0; t <= 6000; t += 300) steady.push_back({t, 100LL * t});  // 100 000 B/s
    // 1 MB written at each whole second, sampled every 300 ms.
    for (std::uint32_t t = 0; t <= 5700; t += 300) bursts.push_back({t, 1000000LL * (t / 1000)});
    // 4 MB every 4 seconds: the last growth lies beyond the window.
    for (std::uint32_t t = 0; t <= 11500; t += 500) slowBursts.push_back({t, 4000000LL * (t / 4000)});
    for (std::uint32_t t = 0; t <= 13000; t += 500) stalled.push_back({t, t <= 2000 ? 1000LL * t : 2000000});
    // An older, larger copy is replaced: only the new growth counts.
    restarted = {{0, 9000000}, {500, 9000000}, {1000, 0}};
    for (std::uint32_t t = 1300; t <= 3400; t += 300) restarted.push_back({t, 1000LL * (t - 1000)});
    for (std::uint32_t i = 0; i <= 10; ++i) wrapped.push_back({0xFFFFFC00u + i * 300, 2LL * i * 300});

    const Row rows[] = {
        {"nothing yet", {}, -1},
        {"one sample", {{0, 5000}}, -1},
        {"growing, but less than the shortest span", {{0, 0}, {300, 100000}, {1900, 900000}}, -1},
        {"shortest span reached", {{0, 0}, {300, 100000}, {2000, 1000000}}, 500000},
        {"steady upload", steady, 100000},
        {"one-second bursts", bursts, 1000000},
        {"bursts farther apart than the window", slowBursts, 1000000},
        {"no growth yet, an older copy of the same size", {{0, 700}, {1500, 700}, {3000, 700}}, -1},
        {"stood still for ten seconds", stalled, 0},
        {"file started anew", restarted, 1000000},
        {"tick count wraps", wrapped, 2000},
        {"slower than one byte per second", {{0, 10}, {1000, 10}, {2500, 11}}, 1},
        {"quiet for longer than the measured span", {{0, 0}, {3000, 3000000}, {9000, 3000000}}, 500000},
    };
    for (const Row& r : rows) {
        RateMeter m;
        for (auto [t, bytes] : r.samples) m.add(t, bytes);
        EXPECT_EQ(m.bytesPerSecond().value_or(-1), r.rate) << r.what;
    }
}

// What the window shows at every poll of an upload that a server writes in
// one-second bursts: once there is a rate, it stays near the true one.
TEST(GetsizeRate, SteadyWhileAServerWritesInBursts)
{
    RateMeter m;
    bool shown = false;
    for (std::uint32_t t = 0; t <= 30000; t += 300) {
        m.add(t, 1048576LL * (t / 1000));
        const std::optional<long long> rate = m.bytesPerSecond();
        if (shown) {
            ASSERT_TRUE(rate.has_value()) << t;
        }
        if (!rate) continue;
        shown = true;
        EXPECT_GE(*rate, 1048576 * 85 / 100) << t;
        EXPECT_LE(*rate, 1048576 * 115 / 100) << t;
    }
    EXPECT_TRUE(shown);
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
    EXPECT_EQ(statusText(42, std::nullopt, false), "4 %");
    EXPECT_EQ(statusText(420, std::nullopt, true), "42 % \xB7 markiert");
    EXPECT_TRUE(isMarked("1"));
    EXPECT_FALSE(isMarked("0"));
    EXPECT_FALSE(isMarked(""));
    EXPECT_FALSE(isMarked("ja"));
}
