// Foreign calls against the running runtime: loading and releasing, modules
// found by file name, the argument counts, the GUI thread.
#include <gtest/gtest.h>
#include "runtime/errors.h"
#include "runtime/foreign.h"
#include "runtime/process.h"
#include "runtime/system.h"

namespace {

struct ForeignTest : ::testing::Test {
    std::string probe = rt::programDirectory() + "rtprobe.dll";
    void SetUp() override
    {
        rt::setErrorLevel(-1);
        ASSERT_EQ(GetModuleHandleA("rtprobe.dll"), nullptr) << "probe library loaded before the test";
    }
    void TearDown() override { rt::setErrorLevel(1); }
};

TEST_F(ForeignTest, LibraryNotYetLoadedIsLoadedCalledAndReleased)
{
    EXPECT_EQ(rt::callByName(probe, "probeSum3", {1, 2, 3}), 123);
    EXPECT_EQ(GetModuleHandleA("rtprobe.dll"), nullptr);
}

TEST_F(ForeignTest, LoadedLibraryIsFoundByItsFileNameWhateverThePath)
{
    const HMODULE loaded = LoadLibraryA(probe.c_str());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(rt::callByName("C:\\no\\such\\folder\\rtprobe.dll", "probeSum3", {4, 5, 6}), 456);
    EXPECT_EQ(rt::callByName("D:/elsewhere/rtprobe.dll", "probeSum3", {7, 8, 9}), 789);
    EXPECT_EQ(GetModuleHandleA("rtprobe.dll"), loaded);  // not released: we loaded it
    FreeLibrary(loaded);
    EXPECT_EQ(GetModuleHandleA("rtprobe.dll"), nullptr);
}

TEST_F(ForeignTest, ThirtyTwoArgumentsArriveInPlaceAndMoreAreRefused)
{
    const std::initializer_list<rt::Arg> args = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                                 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                                                 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
    EXPECT_EQ(rt::callByName(probe, "probeSum32", args), 11440);  // the sum of k * k
    EXPECT_EQ(rt::callByName(probe, "probeSum32", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                                                   18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33}),
              -1);
    EXPECT_EQ(rt::lastReportNumber(), 207);
    EXPECT_EQ(rt::lastReportArgument(), "probeSum32");
    EXPECT_EQ(GetModuleHandleA("rtprobe.dll"), nullptr);
}

TEST_F(ForeignTest, CallsRunOnTheGuiThreadAndGiveThirtyTwoBitResults)
{
    ASSERT_FALSE(rt::onGuiThread());
    EXPECT_EQ(static_cast<DWORD>(rt::callByName(probe, "probeThread")), rt::guiThreadId());
    EXPECT_EQ(rt::callByName(probe, "probeMinusOne"), -1);
    EXPECT_EQ(rt::callByName("USER32", "GetSystemMetrics", {SM_CXSCREEN}), GetSystemMetrics(SM_CXSCREEN));
}

TEST_F(ForeignTest, MissingLibraryAndFunctionAreErrors247And248)
{
    EXPECT_EQ(rt::callByName("C:\\no\\rtdata-none.dll", "f", {1}), -1);
    EXPECT_EQ(rt::lastReportKind(), 2);
    EXPECT_EQ(rt::lastReportNumber(), 247);
    EXPECT_EQ(rt::lastReportArgument(), "C:\\no\\rtdata-none.dll");

    EXPECT_EQ(rt::callByName(probe, "probeNone"), -1);
    EXPECT_EQ(rt::lastReportNumber(), 248);
    EXPECT_EQ(rt::lastReportArgument(), "probeNone");
    EXPECT_EQ(GetModuleHandleA("rtprobe.dll"), nullptr);  // released again
}

TEST_F(ForeignTest, FunctionAddressOnlyInLoadedModulesAndCallByAddress)
{
    EXPECT_EQ(rt::functionAddress("rtprobe.dll", "probeSum3"), nullptr);
    EXPECT_EQ(rt::lastReportNumber(), 248);
    EXPECT_EQ(GetModuleHandleA("rtprobe.dll"), nullptr);

    const HMODULE loaded = LoadLibraryA(probe.c_str());
    void* fn = rt::functionAddress("rtprobe.dll", "probeSum3");
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(rt::callByAddress(fn, {3, 2, 1}), 321);
    EXPECT_EQ(rt::functionAddress("rtprobe.dll", "nothing"), nullptr);
    EXPECT_EQ(rt::lastReportArgument(), "nothing");
    FreeLibrary(loaded);
    EXPECT_EQ(rt::callByAddress(nullptr, {1}), -1);
}

TEST_F(ForeignTest, StringsTravelAsTheirBufferAddress)
{
    char buf[32] = {};
    const std::string text = "Grüße";
    EXPECT_EQ(rt::callByName("KERNEL32", "lstrlenA", {text}), 5);
    rt::callByName("KERNEL32", "lstrcpyA", {buf, text});
    EXPECT_EQ(std::string(buf), text);
}

} // namespace
