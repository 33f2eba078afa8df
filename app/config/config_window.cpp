// Interim entry of the configuration window until the window itself lands.
#include "app/config/config_window.h"
#include "runtime/process.h"

namespace app {

void runConfigWindow()
{
    rt::endProgram();
}

} // namespace app
