// System helpers: program path, parameters, directories, version, clipboard,
// shell, sleep on the GUI thread.
#pragma once
#include <cstdint>
#include <string>

namespace rt {

std::string programPath();        // module file name made absolute
std::string programDirectory();   // ends with "\"
// Parameter n: 0 the program path, 1..paramCount() the command-line
// parameters; beyond the count error 208 and "".
std::string parameter(int n);
// Current directory of the drive named by the path's first letter (without
// changing the process's current directory); "" = the current directory.
std::string currentDirectory(const std::string& path = "");
std::string osVersion();          // "major.minor"
// Replaces the clipboard's contents by the text as CF_TEXT, owner the main
// window (the request window before there is one). Another program may hold
// the clipboard: it is tried for about two seconds. False when the text
// could not be put there.
bool setClipboardText(const std::string& text);
// ShellExecuteA without owner, parameters or directory ("" verb: the default
// verb); returns its result.
std::intptr_t shellExecute(const std::string& file, const std::string& verb, int showMode);
// Sleeps on the GUI thread (request 40977), then yields the caller.
void sleepMs(int ms);

} // namespace rt
