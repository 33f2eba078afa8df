// QuillpostSetup.exe: creates the Send-To shortcuts "FTP - Upload N.lnk" of
// the ten configurations. Run it in the base folder (the folder that holds,
// or will hold, Quillpost.ini); Quillpost.exe is looked for beside this
// program, then in the base folder.
//
// A configuration whose shortcut already exists where the configuration
// says (its stored name, in the Send-To folder when active, else in the base
// folder) is left alone, so running the program again changes nothing. A
// configuration without a stored name gets ConfigName "Upload N" written:
// the configuration window moves a shortcut by its stored name, so without
// it the first activation would not find the file.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <cstdio>
#include <string>
#include "app/setup/shortcut_plan.h"

namespace {

std::string moduleFolder()
{
    char buf[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, buf, MAX_PATH);
    std::string path = buf;
    return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string currentFolder()
{
    char buf[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, buf);
    std::string path = buf;
    if (path.empty() || path.back() != '\\') path += '\\';
    return path;
}

std::string sendToFolder()
{
    char buf[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_SENDTO, nullptr, 0, buf) != S_OK) return {};
    return buf;
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string iniValue(const std::string& ini, const std::string& section, const std::string& key)
{
    char buf[258] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buf, 256, ini.c_str());
    return buf;
}

template <class T> struct ComPtr {
    T* p = nullptr;
    ~ComPtr() { if (p) p->Release(); }
};

// Writes one shortcut through the shell's link interface.
bool createShortcut(const std::string& linkPath, const std::string& target, const std::string& args,
                    const std::string& workDir)
{
    ComPtr<IShellLinkA> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link.p))))
        return false;
    link.p->SetPath(target.c_str());
    link.p->SetArguments(args.c_str());
    link.p->SetWorkingDirectory(workDir.c_str());
    link.p->SetIconLocation(target.c_str(), 0);
    ComPtr<IPersistFile> file;
    if (FAILED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p)))) return false;
    wchar_t wide[MAX_PATH * 2] = {};
    MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH * 2);
    return SUCCEEDED(file.p->Save(wide, TRUE));
}

} // namespace

int main()
{
    const std::string base = currentFolder();
    std::string target = moduleFolder() + "Quillpost.exe";
    if (!exists(target)) target = base + "Quillpost.exe";
    if (!exists(target)) {
        std::printf("Quillpost.exe nicht gefunden / not found: %s\n", target.c_str());
        return 1;
    }
    if (FAILED(CoInitialize(nullptr))) return 1;

    const std::string ini = base + "Quillpost.ini";
    const std::string sendTo = sendToFolder();
    int created = 0, failed = 0;
    for (int n = 1; n <= setup::kConfigurations; ++n) {
        const std::string section = "Set" + std::to_string(n);
        setup::StoredConfig stored{iniValue(ini, section, "ConfigName"), iniValue(ini, section, "Active")};
        const std::string link = setup::shortcutPath(n, stored, base, sendTo);
        if (stored.configName.empty())
            WritePrivateProfileStringA(section.c_str(), "ConfigName", setup::displayName(n, stored).c_str(),
                                       ini.c_str());
        if (exists(link)) continue;
        // The working folder without its final separator, as Explorer shows it.
        std::string workDir = base.substr(0, base.size() - 1);
        if (createShortcut(link, target, std::to_string(n), workDir)) {
            std::printf("%s\n", link.c_str());
            ++created;
        } else {
            std::printf("Fehler / failed: %s\n", link.c_str());
            ++failed;
        }
    }
    std::printf("%d Verknüpfungen angelegt / shortcuts created\n", created);
    CoUninitialize();
    return failed ? 1 : 0;
}
