// The decision part of the upload history step, over plain arrays: which
// server files to delete and what History1..History20 hold afterwards. The
// INI and FTP side lives in app/history.cpp.
#pragma once
#include <array>
#include <string>
#include <vector>

namespace app {

using HistorySlots = std::array<std::string, 21>;  // slots 1..20 used

// Files kept on the server (the new upload included) for a DelOld index;
// 0 for an index outside 1..6, which deletes nothing.
int keepCount(int delOld);

struct HistoryOutcome {
    bool recorded = false;              // the upload went into History1
    std::vector<std::string> deletions; // "DeleteFile" arguments, in order
    HistorySlots history;               // History1..History20 to write
    bool resetProtect = false;          // write "0" to Protect
};

// `slots` = History1..20 as read; `protect` = numeric value of Protect;
// `earlierInRun` = the names uploaded before this one in the same run.
// Neither the name just uploaded (in any letter case: a server may not tell
// them apart) nor a file of this run is ever deleted: an entry naming the
// upload in another letter case leaves the history like the same name, and
// entries of this run stay recorded, so a keep count smaller than the run
// deletes only older files.
HistoryOutcome decideHistory(const HistorySlots& slots, const std::string& remoteName,
                             int protect, int delClick, int delOld,
                             const std::vector<std::string>& earlierInRun = {});

} // namespace app
