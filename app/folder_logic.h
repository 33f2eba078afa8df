// Pure rules of the folder-selection window: reading folder names out of a
// LIST line, the "ftp://" path label, the selection rules of the folder
// list, going into and up out of folders, the folder history Dirs1..Dirs10,
// and the key timing (Tab repeat, double click). No window code here.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace app::folders {

// Folder history: slots 1..10 used, as in ProgramState::dirHistory.
using DirSlots = std::array<std::string, 11>;
constexpr int kDirSlots = 10;

// The folder named by one line of the server's long listing, or nothing
// when the line is no folder ("d" first), names "." or is empty. In the
// usual form "perms links owner group size Mon DD HH:MM name" the name is
// everything after the date, blanks included; other forms give the last
// blank-separated word. ".." counts only away from the login folder.
std::optional<std::string> folderOfListLine(const std::string& line, bool atLoginFolder);

// "ftp://" + (server + "/" + path + "/" with each "//" made "/").
std::string pathLabel(const std::string& serverName, const std::string& path);

// Index to select after filling the list: 1 when entry 0 is ".." and more
// entries follow, else 0.
int initialSelection(int count, const std::string& entry0);

// One navigation step from `dir` into `target` ("..": up one level).
struct Navigation {
    std::string dir;       // the new folder, no leading or trailing "/"
    std::string reselect;  // the folder just left when going up, else ""
};
Navigation navigate(const std::string& dir, const std::string& target);

// One leading and one trailing "/" removed.
std::string stripOuterSlashes(const std::string& dir);

// Selection after the list entry at `removed` was deleted and `countAfter`
// entries remain: the entry that followed when it was the last but one,
// else the one before it (-1: none).
int selectionAfterDelete(int removed, int countAfter);

// The history box lists the non-empty slots in order; the slot (1..10)
// behind box entry `boxIndex`, or 0 when there is none.
int slotOfBoxEntry(const DirSlots& slots, int boxIndex);

// Removes slot `slot` (1..10): the later slots move up one, slot 10 becomes
// empty. Every slot from `slot` to 10 has changed.
void removeSlot(DirSlots& slots, int slot);

// Puts the chosen folder at the top: a new folder pushes the others down
// (the oldest falls out of slot 10); a known one swaps places with slot 1.
// The login folder (empty) is not remembered: the box cannot show it, so
// it would only push a real folder out. Returns whether slots changed.
bool rememberChosen(DirSlots& slots, const std::string& dir);

// Tab held down: moves at once, again after 500 ms, then every 100 ms.
class TabRepeat {
public:
    explicit TabRepeat(std::uint32_t now) : deadline_(now + kIdle) {}
    // One poll; true when the focus is to move now.
    bool step(bool tabDown, std::uint32_t now);

private:
    static constexpr std::uint32_t kIdle = 900000;
    bool flag_ = false;
    bool fast_ = false;
    std::uint32_t deadline_;
};

// Double click over the folder list from polled button state: press, release
// and press again within 500 ms, the second press less than 5 pixels away
// from the first in x and in y. The press that completes one must be
// released before a press counts as the first of another.
class DoubleClick {
public:
    // One poll; true when this poll completes a double click.
    bool step(bool overList, bool buttonDown, std::uint32_t now, int x, int y);
    int state() const { return state_; }

private:
    int state_ = 0;
    std::uint32_t deadline_ = 0;
    int x_ = 0, y_ = 0;
};

// True when tick count `now` lies after `deadline` (wrap-safe).
inline bool passed(std::uint32_t now, std::uint32_t deadline)
{
    return static_cast<std::int32_t>(now - deadline) > 0;
}

} // namespace app::folders
