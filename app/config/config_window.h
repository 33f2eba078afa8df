// The configuration window: edit the ten configurations; ends the program
// when it is left.
#pragma once

namespace app {

[[noreturn]] void runConfigWindow();

} // namespace app
