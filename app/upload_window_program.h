// The upload-window program getsize.exe as the upload run holds it: started
// once, for the first file; ended by the run only after a final failure;
// otherwise it ends by itself. Its process and thread handles are closed at
// the end of the run, which never waits for the program.
#pragma once
#include <string>

#include "runtime/handles.h"

namespace app {

class UploadWindowProgram {
public:
    // CreateProcessA with the command line, no inherited handles and no
    // folder of its own, so the executable is found by the program search
    // order (the folder of Quillpost.exe first). False when it did not start.
    bool start(const std::string& commandLine);
    // Ends the program with the exit code it reports just before.
    void terminate();
    // Lets go of both handles; the program goes on.
    void close();
    HANDLE process() const { return process_.get(); }

private:
    rt::OwnedHandle process_;
    rt::OwnedHandle thread_;
};

} // namespace app
