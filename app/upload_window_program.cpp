#include "app/upload_window_program.h"

#include <vector>

#include "runtime/foreign.h"

namespace app {

bool UploadWindowProgram::start(const std::string& commandLine)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;  // 68 in the 32-bit product
    PROCESS_INFORMATION info{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');  // CreateProcessA may write into its command line
    if (!rt::callByName("KERNEL32", "CreateProcessA", {0, line.data(), 0, 0, 0, 0, 0, 0, &startup, &info}))
        return false;
    process_.reset(info.hProcess);
    thread_.reset(info.hThread);
    return true;
}

void UploadWindowProgram::terminate()
{
    DWORD exitCode = 0;
    rt::callByName("KERNEL32", "GetExitCodeProcess", {process_.get(), &exitCode});
    rt::callByName("KERNEL32", "TerminateProcess", {process_.get(), static_cast<unsigned long>(exitCode)});
}

void UploadWindowProgram::close()
{
    process_.reset();
    thread_.reset();
}

} // namespace app
