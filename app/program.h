// The application's main routine, run by the runtime on the program thread.
#pragma once

namespace app {
void mainRoutine();
}
