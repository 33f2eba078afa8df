// The upload-window program as the run holds it: the run keeps its process
// handle to the end, so that a final failure can still end the program, and
// then lets go of it.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/upload_window_program.h"

namespace {

bool isOpenHandle(HANDLE h)
{
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != 0;
}

TEST(UploadWindowProgram, HandleHeldUntilClosed)
{
    app::UploadWindowProgram program;
    ASSERT_TRUE(program.start("cmd.exe /c exit 3"));
    const HANDLE process = program.process();
    ASSERT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
    // Ended, and still held: its exit code can be read.
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(process, &code));
    EXPECT_EQ(code, 3u);

    program.close();
    EXPECT_EQ(program.process(), nullptr);
    EXPECT_FALSE(isOpenHandle(process));
}

TEST(UploadWindowProgram, NothingHeldWhenTheProgramIsMissing)
{
    app::UploadWindowProgram program;
    EXPECT_FALSE(program.start("no-such-program-here.exe"));
    EXPECT_EQ(program.process(), nullptr);
    program.terminate();  // nothing to end
}

} // namespace
