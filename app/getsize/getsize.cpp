// getsize.exe, the upload-window program: started by the upload run for its
// first file, it shows the progress of every file of the run. The progress is
// the size of the file on the server, asked over an FTP connection of its
// own with the run's configuration; later files are learnt from the text of
// the run's channel control. The run never waits for this program.
//
// It ends when the last file is complete on the server, when the run's main
// window is gone, or after the user aborted the run or closed the window.
#include <windows.h>
#include <cstdlib>
#include <optional>
#include "app/config/config_file.h"
#include "app/getsize/getsize_logic.h"
#include "app/getsize/upload_window.h"
#include "app/server_session.h"
#include "app/state.h"
#include "ftp/ftp_command.h"
#include "runtime/ini.h"
#include "runtime/strings.h"
#include "runtime/process.h"
#include "runtime/system.h"

namespace getsize {
namespace {

constexpr DWORD kPollMs = 300;  // SIZE every 300 ms costs the server nothing
constexpr int kProbes = 10;

HWND windowOf(std::int32_t handle)
{
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(handle));
}

std::string workingFolder()
{
    std::string dir = rt::currentDirectory();
    if (dir.empty() || dir.back() != '\\') dir += '\\';
    return dir;
}

// Text of the run's channel control, which belongs to another process.
std::string channelText(HWND channel)
{
    char buf[512] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(channel, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                             SMTO_ABORTIFHUNG, 1000, &length))
        return {};
    return buf;
}

// The exact size is in the value's text; its integer stops at 2 GiB.
long long serverSize(const std::string& remoteName)
{
    return std::strtoll(ftp::FtpCommand("getfilesize", {rt::Value(remoteName)}).s.c_str(), nullptr, 10);
}

// Signs on like the upload run, with the configuration's own password, and
// enters the same directory: the run probes "/" and then enters the
// directory relative to it ("?" = stay).
bool connectLikeTheRun(const app::UploadSettings& set, const Arguments& args, HWND runWindow)
{
    app::connectAsConfigured(set);
    int probes = 0;
    while (ftp::FtpCommand("setdir", {rt::Value("/")}).i == 0) {
        if (++probes >= kProbes || !IsWindow(runWindow)) break;
        Sleep(200);
    }
    if (ftp::connectedFlag() != 1) return false;
    // Many servers answer SIZE only in binary mode.
    ftp::FtpCommand("setbinary", {rt::Value(1)});
    if (args.directory != "?") ftp::FtpCommand("setdir", {rt::Value(args.directory)});
    return true;
}

// After an abort the run is gone mid-transfer; a partial file would be
// served as if complete, so it is removed once the server has let go of it.
void removePartialFile(const std::string& remoteName, long long localSize)
{
    long long last = serverSize(remoteName);
    for (int i = 0; i < 10; ++i) {
        Sleep(kPollMs);
        const long long now = serverSize(remoteName);
        if (now == last) break;
        last = now;
    }
    if (last >= 0 && last < localSize) ftp::FtpCommand("deletefile", {rt::Value(remoteName)});
}

void mainRoutine()
{
    const std::optional<Arguments> args = parseArguments(commandWords(GetCommandLineA()));
    if (!args) return;
    const HWND runWindow = windowOf(args->mainWindow);
    const HWND channel = windowOf(args->channel);
    const std::string iniPath = workingFolder() + "Quillpost.ini";
    const std::string section = app::sectionName(args->configNumber);

    UploadWindow window(iniPath, section, runWindow);
    if (!window.create()) return;

    std::string remoteName = args->remoteName;
    long long localSize = args->size;
    bool more = args->more;
    window.setName(nameText(remoteName, localSize));

    const bool connected = connectLikeTheRun(app::readUploadSettings(iniPath, args->configNumber), *args,
                                             runWindow);
    CompletionWatch watch(localSize);
    RateMeter rate;
    std::string lastChannel;
    for (;;) {
        if (window.abortRequested()) {
            if (connected) removePartialFile(remoteName, localSize);
            break;
        }
        if (window.closeRequested() || !IsWindow(runWindow)) break;

        const std::string text = channelText(channel);
        if (!text.empty() && text != lastChannel) {
            lastChannel = text;
            if (const std::optional<ChannelText> next = parseChannelText(text)) {
                remoteName = next->remoteName;
                localSize = next->size;
                more = next->more;
                watch = CompletionWatch(localSize);
                rate.reset();
                window.setName(nameText(remoteName, localSize));
            }
        }

        window.showMarked(isMarked(rt::iniRead(iniPath, section, "Protect")));
        if (!connected) {
            window.setStatus("Keine Verbindung zum Server");
        } else {
            const long long size = serverSize(remoteName);
            const std::uint32_t now = GetTickCount();
            if (size >= 0) rate.add(now, size);
            const int done = size >= 0 ? permille(size, localSize) : 0;
            window.setProgress(done);
            window.setStatus(statusText(done, rate.bytesPerSecond(), window.marked()));
            if (!more && watch.complete(size, now)) break;
        }
        Sleep(kPollMs);
    }
    window.destroy();
    if (connected) ftp::FtpCommand("disconnect");
}

} // namespace
} // namespace getsize

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    ftp::installIntoRuntime();
    return rt::processEntry(instance, getsize::mainRoutine);
}
