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
// "%" and two upper-case hex digits of the code page 1252 byte. A "/" is
// kept, because the server stores such a name below that folder.
std::string encodeFileName(const std::string& remoteName);

// "http://" + (wwwName + "/" + directory + "/" + encoded remoteName) with
// every "//" reduced to "/" in one pass.
std::string fileAddress(const std::string& wwwName, const std::string& directory,
                        const std::string& remoteName);

} // namespace app
