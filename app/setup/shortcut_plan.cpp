#include "app/setup/shortcut_plan.h"

namespace setup {

std::string displayName(int n, const StoredConfig& stored)
{
    return stored.configName.empty() ? "Upload " + std::to_string(n) : stored.configName;
}

std::string shortcutPath(int n, const StoredConfig& stored, const std::string& baseFolder,
                         const std::string& sendToFolder)
{
    const std::string file = "FTP - " + displayName(n, stored) + ".lnk";
    if (stored.active == "1" && !sendToFolder.empty()) return sendToFolder + "\\" + file;
    return baseFolder + file;
}

} // namespace setup
