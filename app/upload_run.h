// The upload run: connect, choose the folder, upload every file of the
// command line, keep the history, put the (checked) addresses into the
// clipboard.
// Ends the program on every path.
#pragma once
#include <string>

namespace app {

[[noreturn]] void runUpload();

// Server file name of a local path: blanks become "_", then the text after
// the last "\".
std::string remoteNameOf(const std::string& localPath);

} // namespace app
