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
// level. An error ends the program unless the level is -1. A warning asks OK
// or Cancel under level 1, ends the program under level 2 and is silent
// below 1.
void raiseError(int number, std::optional<std::string> argument = std::nullopt);
void raiseWarning(int number, std::optional<std::string> argument = std::nullopt);

int lastReportKind();     // 1 warning, 2 error
int lastReportNumber();
std::string lastReportArgument();

int errorLevel();
// -2 turns fast mode on (the level stays); the current level again turns
// fast mode off while it is on; any other level becomes the error level.
void setErrorLevel(int level);

// Sets a switch by name (case-insensitive); returns the old value. Unknown
// names go to the registered switch procedures (which get the value in the
// parameter area as parameter 1), else error 262 and an empty value.
Value setSwitch(const std::string& name, const Value& value);
// Current value of a switch (for the runtime's own reads); an empty value
// for names that are not switches.
Value switchValue(const std::string& name);
void registerSwitchProc(const std::string& name, std::function<void(const Value&)> proc);
// Called instead of silence for reports under the silencing levels, when the
// "onerror" switch is on; never re-entered.
void registerErrorProc(std::function<void()> proc);

// Switch values read by the runtime (safe from either thread).
bool trueColor();               // "truecolor"
int messageMode();              // "messagemode"
int autoPaint();                // "autopaint"
int decimals();                 // "decimals"
int numWidth();                 // "numwidth"
bool regexMode();               // "regex"
bool onErrorSwitch();           // "onerror"
std::string listDelimiter();    // "listdel"
std::string logFile();          // "logfile"; "" = no log
// Character set for new fonts from "charset": 0 ANSI (0), 1 OEM (255),
// 2 symbol (2), -1 default (1), any other value as given.
int fontCharset();

} // namespace rt
