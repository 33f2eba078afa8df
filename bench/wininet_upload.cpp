// The bench's yardstick: a plain uploader on WinINet, the FTP client built
// into Windows. Started like Quillpost (configuration number, then file
// paths) in the base folder, it reads the same section of Quillpost.ini,
// unscrambles the password with the program's own code, uploads the files
// into ServerDirectory under the same remote names and puts their addresses
// into the clipboard. Exit code 0 when every file was stored.
#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <string>

#include "app/address.h"
#include "app/config/scramble.h"
#include "app/upload_run.h"

namespace {

std::string iniText(const std::string& ini, const std::string& section, const char* key)
{
    char buf[1024] = {};
    GetPrivateProfileStringA(section.c_str(), key, "", buf, sizeof buf, ini.c_str());
    return buf;
}

bool putIntoClipboard(const std::string& text)
{
    HWND owner = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1);
    if (!owner || !block || !OpenClipboard(owner)) return false;
    std::memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    EmptyClipboard();
    const bool ok = SetClipboardData(CF_TEXT, block) != nullptr;
    CloseClipboard();
    DestroyWindow(owner);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    const std::string ini = std::string(folder) + "\\Quillpost.ini";
    const std::string section = std::string("Set") + argv[1];
    const auto key = [&](const char* k) { return iniText(ini, section, k); };

    const std::string password = app::unscramble(key("Password"));
    const int port = std::atoi(key("ServerPort").c_str());
    const DWORD flags = std::atoi(key("PassiveMode").c_str()) != 0 ? INTERNET_FLAG_PASSIVE : 0;
    HINTERNET net = InternetOpenA("wininet_upload", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET ftp = InternetConnectA(net, key("ServerName").c_str(), INTERNET_PORT(port ? port : 21),
                                     key("Username").c_str(), password.c_str(),
                                     INTERNET_SERVICE_FTP, flags, 0);
    if (!ftp) return 3;
    const std::string dir = key("ServerDirectory");
    if (dir.find_first_not_of(' ') != std::string::npos && !FtpSetCurrentDirectoryA(ftp, dir.c_str()))
        return 4;

    std::string clipText;
    for (int i = 2; i < argc; ++i) {
        const std::string remoteName = app::remoteNameOf(argv[i]);
        if (!FtpPutFileA(ftp, argv[i], remoteName.c_str(), FTP_TRANSFER_TYPE_BINARY, 0)) return 5;
        if (i > 2) clipText += "\r\n";
        clipText += app::fileAddress(key("ServerWWWName"), key("ServerWWWDirectory"), remoteName);
    }
    InternetCloseHandle(ftp);
    InternetCloseHandle(net);
    if (std::atoi(key("UseClipboardFunction").c_str()) != 0 && !putIntoClipboard(clipText)) return 6;
    return 0;
}
