// The http:// address of an uploaded file, as it goes into the clipboard.
// Pure text functions, no runtime or window calls.
#pragma once
#include <string>

namespace app {

// Replaces every non-overlapping occurrence of `what` by `with`, left to
// right in one pass ("///" with "//" -> "/" gives "//").
std::string replaceAll(const std::string& text, const std::string& what, const std::string& with);

// Percent-encodes a server file name for a URL path: every byte outside the
// path-segment characters (letters, digits, "-._~!$&'()*+,;=:@") becomes
// "%" and two upper-case hex digits of the byte. The bytes are the name as
// the server stores it: code page 1252, or UTF-8 on a server that speaks it,
// which is what a browser sends for the name. A "/" is kept, because the
// server stores such a name below that folder.
std::string encodeFileName(const std::string& storedName);

// The directory part of an address for a folder chosen on the server: the
// shown path as ever when the server stores it under the same bytes (a
// server in code page 1252, or plain ASCII), else the server's bytes
// percent-encoded like a file name, "/" kept.
std::string chosenDirectoryPart(const std::string& shown, const std::string& stored);

// "http://" + (wwwName + "/" + directory + "/" + encoded storedName) with
// every "//" reduced to "/" in one pass.
std::string fileAddress(const std::string& wwwName, const std::string& directory,
                        const std::string& storedName);

} // namespace app
