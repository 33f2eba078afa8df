#include "app/folder_logic.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace app::folders {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimBlanks(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

struct Field {
    std::size_t begin, end;
};

std::vector<Field> fieldsOf(const std::string& line)
{
    std::vector<Field> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) ++i;
        if (i == line.size()) break;
        std::size_t b = i;
        while (i < line.size() && !isBlank(line[i])) ++i;
        out.push_back({b, i});
    }
    return out;
}

bool allDigits(const std::string& s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool isMonth(const std::string& s)
{
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    if (s.size() != 3) return false;
    std::string l;
    for (char c : s) l += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* m : months)
        if (l == m) return true;
    return false;
}

bool isDay(const std::string& s) { return s.size() <= 2 && allDigits(s); }

bool isTimeOrYear(const std::string& s)
{
    if (s.size() == 4 && allDigits(s)) return true;
    std::size_t colon = s.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 2) return false;
    return allDigits(s.substr(0, colon)) && s.size() - colon - 1 == 2 && allDigits(s.substr(colon + 1));
}

// Name part of a long-listing line: everything after "Mon DD HH:MM" (or
// the year) when such a date is found, else the text after the last blank.
std::string nameOf(const std::string& rawLine)
{
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    std::vector<Field> f = fieldsOf(line);
    auto text = [&](std::size_t i) { return line.substr(f[i].begin, f[i].end - f[i].begin); };
    for (std::size_t i = 1; i + 2 < f.size(); ++i) {
        if (isMonth(text(i)) && isDay(text(i + 1)) && isTimeOrYear(text(i + 2)))
            return i + 3 < f.size() ? line.substr(f[i + 3].begin) : std::string();
    }
    const std::size_t blank = line.rfind(' ');
    return blank == std::string::npos ? line : line.substr(blank + 1);
}

} // namespace

std::optional<std::string> folderOfListLine(const std::string& line, bool atLoginFolder)
{
    if (line.empty() || line[0] != 'd') return std::nullopt;
    std::string name = trimBlanks(nameOf(line));
    if (name.empty() || name == ".") return std::nullopt;
    if (name == ".." && atLoginFolder) return std::nullopt;
    return name;
}

std::string pathLabel(const std::string& serverName, const std::string& path)
{
    const std::string joined = serverName + "/" + path + "/";
    std::string out = "ftp://";
    for (std::size_t i = 0; i < joined.size();) {
        if (joined.compare(i, 2, "//") == 0) {
            out += '/';
            i += 2;
        } else {
            out += joined[i++];
        }
    }
    return out;
}

int initialSelection(int count, const std::string& entry0)
{
    return (entry0 == ".." && count > 1) ? 1 : 0;
}

Navigation navigate(const std::string& dir, const std::string& target)
{
    Navigation nav;
    const std::size_t slash = dir.rfind('/');
    const std::string last = slash == std::string::npos ? dir : dir.substr(slash + 1);
    if (target == ".." && !last.empty()) {
        nav.reselect = last;
        nav.dir = dir;
        if (!nav.dir.empty() && nav.dir.back() == '/') nav.dir.pop_back();
        const std::size_t cut = nav.dir.rfind('/');
        nav.dir.erase(cut == std::string::npos ? 0 : cut + 1);
    } else {
        nav.dir = dir + "/" + target;
        if (nav.dir.back() == '/') nav.dir.pop_back();
    }
    for (int i = 0; i < 2; ++i)
        if (!nav.dir.empty() && nav.dir.front() == '/') nav.dir.erase(0, 1);
    if (!nav.dir.empty() && nav.dir.back() == '/') nav.dir.pop_back();
    return nav;
}

std::string stripOuterSlashes(const std::string& dir)
{
    std::string d = dir;
    if (!d.empty() && d.front() == '/') d.erase(0, 1);
    if (!d.empty() && d.back() == '/') d.pop_back();
    return d;
}

int selectionAfterDelete(int removed, int countAfter)
{
    return countAfter - 1 == removed ? removed : removed - 1;
}

int slotOfBoxEntry(const DirSlots& slots, int boxIndex)
{
    if (boxIndex < 0) return 0;
    int seen = 0;
    for (int k = 1; k <= kDirSlots; ++k) {
        if (slots[k].empty()) continue;
        if (seen++ == boxIndex) return k;
    }
    return 0;
}

void removeSlot(DirSlots& slots, int slot)
{
    if (slot < 1 || slot > kDirSlots) return;
    for (int k = slot; k < kDirSlots; ++k) slots[k] = slots[k + 1];
    slots[kDirSlots].clear();
}

bool rememberChosen(DirSlots& slots, const std::string& dir)
{
    if (dir.empty()) return false;
    for (int k = 1; k <= kDirSlots; ++k) {
        if (slots[k] == dir) {
            std::swap(slots[1], slots[k]);
            return true;
        }
    }
    for (int j = kDirSlots; j >= 2; --j) slots[j] = slots[j - 1];
    slots[1] = dir;
    return true;
}

bool TabRepeat::step(bool tabDown, std::uint32_t now)
{
    if (!tabDown || passed(now, deadline_)) {
        flag_ = false;
        fast_ = passed(now, deadline_);
        deadline_ = now + kIdle;
    }
    if (tabDown && !flag_) {
        flag_ = true;
        deadline_ = now + (fast_ ? 100 : 500);
        return true;
    }
    return false;
}

bool DoubleClick::step(bool overList, bool buttonDown, std::uint32_t now, int x, int y)
{
    switch (state_) {
    case 0:
        if (overList && buttonDown) {
            state_ = 1;
            deadline_ = now + 500;
            x_ = x;
            y_ = y;
        }
        break;
    case 1:
        if (passed(now, deadline_)) state_ = 0;
        else if (overList && !buttonDown) state_ = 2;
        break;
    case 2:
        if (passed(now, deadline_)) state_ = 0;
        else if (buttonDown)
            state_ = (overList && std::abs(x - x_) < 5 && std::abs(y - y_) < 5) ? 3 : 0;
        break;
    case 3:  // reported in the previous poll; the press that completed it
             // must end before a new first press counts
        state_ = buttonDown ? 4 : 0;
        break;
    default:  // 4: that press still held
        if (!buttonDown) state_ = 0;
        break;
    }
    return state_ == 3;
}

} // namespace app::folders
