// The Send-To shortcuts "FTP - " + name + ".lnk": an active configuration's
// shortcut lies in the user's Send-To folder, an inactive one in the base
// folder. Quillpost only moves and renames them; it never creates them.
#pragma once
#include <string>

namespace app {

// Shell identifier of the user's Send-To folder.
constexpr int kSendToFolderId = 9;

// Path of a special folder without a trailing separator, or "" when the
// shell cannot name it. Quillpost asks only for kSendToFolderId.
std::string FindSendToFolder(int folderId = kSendToFolderId);

// folder + "\FTP - " + name + ".lnk" (plain concatenation).
std::string shortcutPath(const std::string& folder, const std::string& name);

// The shortcut step of saving configuration configNumber, run after the
// name field has been cleaned and before any other key is written. Uses
// state().iniPath, state().baseFolder and state().sendToFolder and the
// stored Active and ConfigName of the section:
// 1. activated differs from the stored Active: moves the shortcut under its
//    stored name between the base folder and the Send-To folder;
// 2. newName differs from the stored ConfigName: with the error level -1
//    (0 afterwards) tests for a non-empty Send-To shortcut of newName; when
//    one exists shows the "Achtung:" box and keeps the old name, otherwise
//    renames the shortcut in its folder and writes ConfigName = newName.
// Failed moves are ignored.
void UpdateShortcut(int configNumber, bool activated, const std::string& newName);

} // namespace app
