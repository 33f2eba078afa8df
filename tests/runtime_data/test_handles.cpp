// Handle owners: each real handle is closed exactly once, by whoever holds
// it last; a released handle stays open.
#include <gtest/gtest.h>

#include "runtime/handles.h"

namespace {

bool isOpen(HANDLE h)
{
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != 0;
}

TEST(Handles, ClosedOnceByTheLastOwner)
{
    HANDLE raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        rt::OwnedHandle first(raw);
        rt::OwnedHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), raw);
        rt::OwnedHandle third;
        third = std::move(second);
        EXPECT_TRUE(isOpen(raw));
    }
    EXPECT_FALSE(isOpen(raw));
}

TEST(Handles, ResetClosesTheOldAndReleaseKeepsOpen)
{
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    rt::OwnedHandle owner(a);
    owner.reset(b);
    EXPECT_FALSE(isOpen(a));
    EXPECT_EQ(owner.release(), b);
    EXPECT_FALSE(owner);
    EXPECT_TRUE(isOpen(b));
    CloseHandle(b);
}

TEST(Handles, StreamReportsItsClose)
{
    char path[MAX_PATH];
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "qph", 0, path);
    rt::OwnedStream s(std::fopen(path, "wb"));
    ASSERT_TRUE(s);
    EXPECT_GE(std::fputs("x", s.get()), 0);
    EXPECT_TRUE(s.close());
    EXPECT_FALSE(s);
    EXPECT_TRUE(s.close());  // nothing open: nothing to fail
    DeleteFileA(path);
}

} // namespace
