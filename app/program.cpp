// The main routine: prepares the program-wide data, lowers the priority and
// decides between upload mode (a configuration number and files) and
// configuration mode (no parameter or one).
#include "app/program.h"
#include "app/config/config_file.h"
#include "app/config/config_window.h"
#include "app/config/shortcuts.h"
#include "app/state.h"
#include "app/upload_run.h"
#include "runtime/handles.h"
#include "runtime/runtime.h"
#include <windows.h>

namespace app {
namespace {

constexpr UINT kCloseMessage = 0x10;    // WM_CLOSE
constexpr UINT kCommandMessage = 0x111; // WM_COMMAND
constexpr int kUploadWindowStyle = 26;  // minimise box, system menu, no menu
constexpr char kMutexName[] = "Quillpost";
constexpr char kConfigWindowTitle[] = "Quillpost 1.2";

// One configuration window at a time: held until the process ends.
rt::OwnedHandle configWindowMutex;

// The GUI thread has a message queue once a thread message can be posted
// to it; only then can the two inputs be attached.
void waitForGuiThread()
{
    while (!PostThreadMessageA(rt::guiThreadId(), 0, 0, 0)) Sleep(0);
    AttachThreadInput(GetCurrentThreadId(), rt::guiThreadId(), TRUE);
}

// Below normal from Windows 2000 on, idle before.
void lowerPriority()
{
    void* const setPriorityClass = rt::functionAddress("KERNEL32", "SetPriorityClass");
    void* const getCurrentProcess = rt::functionAddress("KERNEL32", "GetCurrentProcess");
    const int major = rt::toInt(rt::part(rt::osVersion(), 1, "."));
    // The pseudo handle of the current process is -1 on every build.
    const int process = static_cast<int>(rt::callByAddress(getCurrentProcess));
    rt::callByAddress(setPriorityClass, {process, major > 4 ? BELOW_NORMAL_PRIORITY_CLASS : IDLE_PRIORITY_CLASS});
}

void takeBaseFolder(ProgramState& st)
{
    st.baseFolder = rt::currentDirectory() + "\\";
    st.iniPath = st.baseFolder + "Quillpost.ini";
}

[[noreturn]] void refuse(const std::string& text)
{
    rt::msgBox(text, "Fehler:", MB_OK | MB_ICONSTOP);
    rt::endProgram();
}

[[noreturn]] void uploadMode(ProgramState& st)
{
    // A main window that is never seen: off screen, size 0, then hidden.
    rt::registerUserMessages({kCloseMessage, kCommandMessage});
    rt::setWindowStyle(kUploadWindowStyle);
    const int screenWidth = static_cast<int>(rt::callByName("USER32", "GetSystemMetrics", {SM_CXSCREEN}));
    rt::setWindowPosition(screenWidth, 0, 0, 0);
    st.uploadWindowChannel = rt::create(
        "edit", {rt::Value(rt::mainWindow()), rt::Value(""), rt::Value(0), rt::Value(0), rt::Value(0), rt::Value(0)});
    rt::show(rt::mainWindow(), SW_HIDE);

    takeBaseFolder(st);
    st.configNumber = rt::toInt(rt::param(1));

    // Dropping files silently would leave the user believing all were sent.
    const int files = rt::paramCount() - 1;
    if (files > kMaxFiles)
        refuse("Es wurden " + std::to_string(files) + " Dateien übergeben.\r\n\r\nQuillpost kann höchstens " +
               std::to_string(kMaxFiles) +
               " Dateien auf einmal hochladen. Bitte wählen Sie weniger Dateien aus; es wurde nichts hochgeladen.");
    for (int i = 1; i <= files; ++i) {
        st.fileList[i] = rt::param(i + 1);
        ++st.fileCount;
    }

    st.uploadSettings = readUploadSettings(st.iniPath, st.configNumber);
    runUpload();
}

[[noreturn]] void configurationMode(ProgramState& st)
{
    // Both calls on this thread and back to back: the last error belongs to
    // the thread and must be the one CreateMutexA left.
    configWindowMutex.reset(CreateMutexA(nullptr, TRUE, kMutexName));
    const DWORD lastError = GetLastError();
    if (!configWindowMutex || lastError != 0) {
        const rt::Handle first = rt::findWindow(kConfigWindowTitle);
        for (int flash = 1; flash <= 6; ++flash) {
            rt::callByName("USER32", "FlashWindow", {first, TRUE});
            if (flash < 6) rt::sleepMs(500);
        }
        rt::endProgram();
    }
    st.configNumber = 1;
    takeBaseFolder(st);
    runConfigWindow();
}

} // namespace

void mainRoutine()
{
    waitForGuiThread();
    rt::setSwitch("Truecolor", rt::Value(1));
    lowerPriority();
    ProgramState& st = state();
    st.sendToFolder = FindSendToFolder(kSendToFolderId);
    if (rt::paramCount() > 1)
        uploadMode(st);
    else
        configurationMode(st);
}

} // namespace app
