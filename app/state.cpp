// Program-wide state: one instance for the life of the process.
#include "app/state.h"

namespace app {

ProgramState& state()
{
    static ProgramState programState;
    return programState;
}

std::string sectionName(int configNumber)
{
    return "Set" + std::to_string(configNumber);
}

} // namespace app
