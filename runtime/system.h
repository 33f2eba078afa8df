// System helpers: program path, directories, version, clipboard, shell,
// sleep on the GUI thread.
#pragma once
#include <cstdint>
#include <string>

namespace rt {

std::string programPath();        // param(0) made absolute
std::string programDirectory();   // ends with "\"
std::string currentDirectory(const std::string& path = "");  // of the path's drive; "" = current
std::string osVersion();          // "major.minor"
// Copies the text to the clipboard as CF_TEXT, owner the main window; the
// clipboard is not emptied first.
void setClipboardText(const std::string& text);
std::intptr_t shellExecute(const std::string& file, const std::string& verb, int showMode);
// Sleeps on the GUI thread (request 40977), then yields the caller.
void sleepMs(int ms);

} // namespace rt
