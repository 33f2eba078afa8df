// Numbered runtime errors and warnings with their German texts, the error
// level, and the named switches.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include "runtime/value.h"

namespace rt {

// The table text for a number ("" for numbers without one).
const char* errorText(int number);

// Reports: log line when a log file is set, then box or silence by the error
// level. An error ends the program unless the level is -1.
void raiseError(int number, std::optional<std::string> argument = std::nullopt);
void raiseWarning(int number, std::optional<std::string> argument = std::nullopt);

int lastReportKind();     // 1 warning, 2 error
int lastReportNumber();
std::string lastReportArgument();

int errorLevel();
void setErrorLevel(int level);

// Sets a switch by name (case-insensitive); returns the old value. Unknown
// names go to the registered switch procedures, else error 262.
Value setSwitch(const std::string& name, const Value& value);
// Current value of a switch (for the runtime's own reads).
Value switchValue(const std::string& name);
void registerSwitchProc(const std::string& name, std::function<void(const Value&)> proc);
void registerErrorProc(std::function<void()> proc);

} // namespace rt
