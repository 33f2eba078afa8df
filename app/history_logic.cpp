#include "app/history_logic.h"

#include <algorithm>
#include "runtime/strings.h"

namespace app {

int keepCount(int delOld)
{
    static const int keep[] = {0, 1, 2, 3, 5, 10, 20};
    return delOld >= 1 && delOld <= 6 ? keep[delOld] : 0;
}

namespace {

bool blankOnly(const std::string& s)
{
    return s.find_first_not_of(' ') == std::string::npos;
}

// Moves the entries up over empty (or blank) slots, keeping their order.
void closeGaps(HistorySlots& s)
{
    for (bool moved = true; moved;) {
        moved = false;
        for (int i = 1; i <= 19; ++i) {
            if (blankOnly(s[i]) && !s[i + 1].empty()) {
                s[i] = std::move(s[i + 1]);
                s[i + 1].clear();
                moved = true;
            }
        }
    }
}

// Letter case aside, as a server on a case-blind file system compares.
bool sameFile(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && rt::lower(a) == rt::lower(b);
}

} // namespace

HistoryOutcome decideHistory(const HistorySlots& slots, const std::string& remoteName,
                             int protect, int delClick, int delOld,
                             const std::vector<std::string>& earlierInRun)
{
    // A marked upload (Protect set) is protected; DelClick inverts the mark.
    const bool marked = protect != 0;
    const bool isProtected = delClick != 0 ? !marked : marked;

    HistorySlots s = slots;
    s[0].clear();
    // An earlier upload under the same name is neither deleted nor kept twice.
    for (int i = 1; i <= 20; ++i)
        if (sameFile(s[i], remoteName))
            s[i].clear();

    // Gaps close before deleting: a gap left by the name just uploaded must
    // not cost an older file its place among the kept ones.
    closeGaps(s);

    HistoryOutcome out;
    const int keep = keepCount(delOld);
    if (!isProtected && keep > 0) {
        const auto ofThisRun = [&](const std::string& name) {
            return std::any_of(earlierInRun.begin(), earlierInRun.end(),
                               [&](const std::string& run) { return sameFile(run, name); });
        };
        for (int i = keep; i <= 20; ++i) {
            if (!s[i].empty() && !ofThisRun(s[i])) {
                out.deletions.push_back(s[i]);
                s[i].clear();
            }
        }
    }

    closeGaps(s);

    if (isProtected) {
        out.history = s;
        out.resetProtect = true;
    } else {
        out.recorded = true;
        out.history[1] = remoteName;
        for (int j = 2; j <= 20; ++j)
            out.history[j] = s[j - 1];
    }
    return out;
}

} // namespace app
