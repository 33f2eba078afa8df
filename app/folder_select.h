// The folder-selection window shown before an upload when DirSel is on.
// Returns with the server in the chosen folder and ServerDirectory set to it
// and the folder history updated; cancelling ends the program.
#pragma once

namespace app {

void runFolderSelection();

} // namespace app
