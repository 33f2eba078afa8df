// Interim entry of the folder selection until the window itself lands.
#include "app/folder_select.h"

namespace app {

void runFolderSelection() {}

} // namespace app
