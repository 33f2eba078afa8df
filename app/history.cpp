// The history step: reads History1..20 and Protect of the configuration,
// lets decideHistory choose, deletes the old server files and writes the
// keys back at once.
#include "app/history.h"
#include "app/history_logic.h"
#include "app/state.h"
#include "ftp/ftp_command.h"
#include "runtime/ini.h"
#include "runtime/value.h"

namespace app {

void historyStep(const std::string& remoteName, const std::vector<std::string>& earlierInRun)
{
    ProgramState& st = state();
    const std::string section = sectionName(st.configNumber);
    const UploadSettings& set = st.uploadSettings;

    const int protect = rt::toInt(rt::iniRead(st.iniPath, section, "Protect"));
    for (int i = 1; i <= kHistorySize; ++i)
        st.historyList[i] = rt::iniRead(st.iniPath, section, "History" + std::to_string(i));

    HistorySlots slots;
    for (int i = 1; i <= kHistorySize; ++i)
        slots[i] = st.historyList[i];
    const HistoryOutcome out = decideHistory(slots, remoteName, protect, set.DelClick, set.DelOld, earlierInRun);

    // The result is not looked at: a file already gone leaves the history all the same.
    for (const std::string& name : out.deletions)
        ftp::FtpCommand("DeleteFile", {rt::Value(name)});

    for (int j = 1; j <= kHistorySize; ++j) {
        st.historyList[j] = out.history[j];
        rt::iniWrite(st.iniPath, section, "History" + std::to_string(j), out.history[j]);
    }
    if (out.resetProtect)
        rt::iniWrite(st.iniPath, section, "Protect", "0");
}

} // namespace app
