// Process entry of Quillpost.exe: hands the instance to the runtime, which
// runs the application's main routine on its program thread.
#include <windows.h>
#include "app/program.h"
#include "ftp/ftp_command.h"
#include "runtime/process.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    ftp::installIntoRuntime();
    return rt::processEntry(instance, app::mainRoutine);
}
