// The upload history of a configuration and the deletion of older uploads.
#pragma once
#include <string>
#include <vector>

namespace app {

// The history step after a successful upload of `remoteName`;
// `earlierInRun` names the files uploaded before it in this run, which it
// never deletes.
void historyStep(const std::string& remoteName, const std::vector<std::string>& earlierInRun);

} // namespace app
