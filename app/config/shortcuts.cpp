// Finding the Send-To folder, and moving and renaming the shortcuts when a
// configuration is saved.
#include "app/config/shortcuts.h"
#include "app/state.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/foreign.h"
#include "runtime/ini.h"
#include "runtime/strings.h"
#include "runtime/value.h"
#include <windows.h>

namespace app {
namespace {

// A move through the runtime's file table; a failure (missing source,
// existing target, locked file) only sets the I/O result, which nobody
// needs here.
void moveFile(const std::string& from, const std::string& to)
{
    rt::fileAssign(1, from);
    rt::fileRename(1, to);
    rt::fileClose(1);
}

bool equalIgnoringCase(const std::string& a, const std::string& b) { return rt::lower(a) == rt::lower(b); }

} // namespace

std::string FindSendToFolder(int folderId)
{
    const int owner = static_cast<int>(rt::callByName("USER32", "GetForegroundWindow"));
    void* idList = nullptr;
    const auto result = rt::callByName("SHELL32", "SHGetSpecialFolderLocation", {owner, folderId, &idList});
    if (static_cast<std::int32_t>(result) != 0 || idList == nullptr) return {};
    // The shell writes up to MAX_PATH characters.
    char buffer[MAX_PATH + 1] = {};
    const auto converted = rt::callByName("SHELL32", "SHGetPathFromIDListA", {idList, buffer});
    rt::callByName("OLE32", "CoTaskMemFree", {idList});
    return static_cast<std::int32_t>(converted) != 0 ? std::string(buffer) : std::string();
}

std::string shortcutPath(const std::string& folder, const std::string& name)
{
    return folder + "\\FTP - " + name + ".lnk";
}

void UpdateShortcut(int configNumber, bool activated, const std::string& newName)
{
    const ProgramState& st = state();
    const std::string section = sectionName(configNumber);
    const std::string oldName = rt::iniRead(st.iniPath, section, "ConfigName");
    const int storedActive = rt::toInt(rt::iniRead(st.iniPath, section, "Active"));

    if ((activated ? 1 : 0) != storedActive) {
        if (activated)
            moveFile(shortcutPath(st.baseFolder, oldName), shortcutPath(st.sendToFolder, oldName));
        else
            moveFile(shortcutPath(st.sendToFolder, oldName), shortcutPath(st.baseFolder, oldName));
    }

    if (newName == oldName) return;
    // The size query of a missing shortcut must stay silent.
    rt::setErrorLevel(-1);
    // An active configuration renamed only in letter case finds its own
    // shortcut under the new name; that is no duplicate.
    const bool ownShortcut = activated && equalIgnoringCase(newName, oldName);
    if (!ownShortcut && rt::fileSize(shortcutPath(st.sendToFolder, newName)) > 0) {
        rt::msgBox("Die Bezeichnung " + newName +
                       " existiert schon!\r\n\r\nDie restlichen Daten werden aktualisiert und die alte "
                       "Bezeichnung beibehalten.",
                   "Achtung:", MB_OK | MB_ICONEXCLAMATION);
    } else {
        const std::string& folder = activated ? st.sendToFolder : st.baseFolder;
        moveFile(shortcutPath(folder, oldName), shortcutPath(folder, newName));
        rt::iniWrite(st.iniPath, section, "ConfigName", newName);
    }
    rt::setErrorLevel(0);
}

} // namespace app
