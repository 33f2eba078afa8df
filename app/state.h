// Program-wide state of the application: the lists and settings that the
// program start fills and the upload run, folder selection and configuration
// window use. Everything here lives on the program thread.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include "runtime/windows.h"

namespace app {

constexpr int kMaxFiles = 200;
constexpr int kHistorySize = 20;
constexpr int kDirHistorySize = 10;
constexpr int kConfigCount = 10;

// Settings of configuration `configNumber`, read once in upload mode.
struct UploadSettings {
    int UseClipboardFunction = 0;
    int DirSel = 0;
    int Ask = 0;
    int DelOld = 0;
    int DelClick = 0;
    std::string ProxyServer;
    std::string ProxyPort;
    std::string ServerName;
    int PassiveMode = 0;
    std::string ServerPort;
    std::string Username;
    std::string Password;  // as typed: decrypted (or unscrambled)
    std::string ServerDirectory;  // normalised: no leading/trailing "/"
    std::string ServerWWWName;
    std::string ServerWWWDirectory;
    int UseTLS = 0;  // 1: explicit FTPS, 2: implicit FTPS; either required, never plain FTP
    int CheckAddress = 0;  // 1: an address goes into the clipboard only once the web server serves the file
    std::string TrustedCertificate;  // fingerprint "AB:CD:..." of the one certificate accepted, or ""
};

struct ProgramState {
    std::array<std::string, kMaxFiles + 1> fileList;        // slots 1..fileCount
    int fileCount = 0;
    int currentFile = 0;
    std::array<std::string, kHistorySize + 1> historyList;  // slots 1..20
    std::array<std::string, kDirHistorySize + 1> dirHistory;  // slots 1..10
    std::string sendToFolder;
    std::string baseFolder;  // working directory at start + "\"
    std::string iniPath;     // baseFolder + "Quillpost.ini"
    int configNumber = 0;
    rt::Handle uploadWindowChannel = 0;
    UploadSettings uploadSettings;
    // The folder chosen in the folder window as the server names it; it
    // differs from ServerDirectory on a UTF-8 server for names beyond ASCII.
    std::string chosenDirectoryOnServer;
};

ProgramState& state();

// "Set" + number.
std::string sectionName(int configNumber);

} // namespace app
