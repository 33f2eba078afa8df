// The command-line split and the retried posting of the first message.
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <string>
#include <vector>
#include "runtime/core_internal.h"
#include "runtime/process.h"

namespace {

using Parts = std::vector<std::string>;

struct SplitCase {
    const char* line;
    Parts parts;
};

class Split : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Split, ByBlanksAndQuotes)
{
    EXPECT_EQ(rt::splitCommandLine(GetParam().line), GetParam().parts) << "line: " << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Split,
    ::testing::Values(
        // Program path, a quoted path with a blank, an unquoted name.
        SplitCase{R"(C:\Q\Quillpost.exe "C:\My Files\a b.txt" c.txt)",
                  {R"(C:\Q\Quillpost.exe)", R"(C:\My Files\a b.txt)", "c.txt"}},
        SplitCase{R"("C:\Program Files\Q\Quillpost.exe" 3)", {R"(C:\Program Files\Q\Quillpost.exe)", "3"}},
        // Several blanks give no empty parameters; leading and trailing ones neither.
        SplitCase{"  prog    1     x  ", {"prog", "1", "x"}},
        // A tab does not separate.
        SplitCase{"prog a\tb", {"prog", "a\tb"}},
        // A missing closing quote takes the rest of the line, blanks included.
        SplitCase{R"(prog "C:\open end  )", {"prog", R"(C:\open end  )"}},
        // A closing quote followed by characters ends the parameter there.
        SplitCase{R"(prog "a b"c d)", {"prog", "a b", "c", "d"}},
        // A quote inside an unquoted parameter is an ordinary character.
        SplitCase{R"(prog ab"c d")", {"prog", R"(ab"c)", R"(d")"}},
        // An empty quoted parameter is kept.
        SplitCase{R"(prog "" x)", {"prog", "", "x"}},
        // No escapes: a backslash before a quote stays and the quote closes.
        SplitCase{R"(prog "a\" b)", {"prog", R"(a\)", "b"}},
        SplitCase{"", {}}, SplitCase{"   ", {}},
        // Code page 1252 bytes pass unchanged.
        SplitCase{"prog \xC4rger.txt", {"prog", "\xC4rger.txt"}}));

// The first message to a thread that has no queue yet is retried until the
// queue exists, and arrives.
struct LateQueue {
    std::atomic<bool> got{false};
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

DWORD WINAPI lateQueue(LPVOID p)
{
    auto* s = static_cast<LateQueue*>(p);
    SetEvent(s->started);
    Sleep(300);  // no queue during this time
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // now it has one
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_POSTMESSAGE) == WAIT_OBJECT_0 &&
        PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_APP + 7 && msg.wParam == 42)
        s->got = true;
    return 0;
}

DWORD WINAPI endAtOnce(LPVOID)
{
    return 0;
}

TEST(PostUntilAccepted, WaitsForTheQueue)
{
    LateQueue shared;
    DWORD id = 0;
    HANDLE t = CreateThread(nullptr, 0, lateQueue, &shared, 0, &id);
    ASSERT_EQ(WaitForSingleObject(shared.started, 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(PostThreadMessageA(id, WM_APP + 7, 42, 0));  // the plain post is lost
    EXPECT_TRUE(rt::detail::postUntilAccepted(id, WM_APP + 7, 42, 0));
    ASSERT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    CloseHandle(t);
    CloseHandle(shared.started);
    EXPECT_TRUE(shared.got.load());
}

TEST(PostUntilAccepted, GivesUpOnAThreadThatIsGone)
{
    DWORD id = 0;
    HANDLE t = CreateThread(nullptr, 0, endAtOnce, nullptr, 0, &id);
    ASSERT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(rt::detail::postUntilAccepted(id, WM_APP, 0, 0));
    CloseHandle(t);
}

} // namespace
