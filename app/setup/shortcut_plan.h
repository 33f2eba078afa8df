// Where the set-up program puts the shortcut of a configuration: the name
// and location the configuration window would give it.
#pragma once
#include <string>

namespace setup {

constexpr int kConfigurations = 10;

struct StoredConfig {
    std::string configName;  // ConfigName as stored ("" = never saved)
    std::string active;      // Active as stored
};

// Name shown in the Send-To menu: the stored name, else "Upload N".
std::string displayName(int n, const StoredConfig& stored);
// base + "FTP - " + name + ".lnk" (base ends with "\"), or in the Send-To
// folder when the configuration is active and that folder is known.
std::string shortcutPath(int n, const StoredConfig& stored, const std::string& baseFolder,
                         const std::string& sendToFolder);

} // namespace setup
