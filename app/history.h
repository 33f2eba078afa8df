// The upload history of a configuration and the deletion of older uploads.
#pragma once
#include <string>

namespace app {

// The history step after a successful upload of `remoteName`.
void historyStep(const std::string& remoteName);

} // namespace app
