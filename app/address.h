// The web address of an uploaded file, as it goes into the clipboard.
// Pure text functions, no runtime or window calls.
#pragma once
#include <string>

namespace app {

// Replaces every non-overlapping occurrence of `what` by `with`, left to
// right in one pass ("///" with "//" -> "/" gives "//").
std::string replaceAll(const std::string& text, const std::string& what, const std::string& with);

// Percent-encodes one segment of a URL path: every byte outside the
// path-segment characters (letters, digits, "-._~!$&'()*+,;=:@") becomes
// "%" and two upper-case hex digits of the byte, "/" included. The bytes are
// the name as the server stores it: code page 1252, or UTF-8 on a server
// that speaks it, which is what a browser sends for the name.
std::string encodePathSegment(const std::string& bytes);

// The web host as typed: "https://" before it gives https addresses,
// "http://" or none gives http ones (schemes compared without regard to
// case). The authority (host and port) is the text up to the first "/"
// after the scheme; what follows is a folder in front of every path.
// Blanks around the whole text are dropped.
struct WebHost {
    std::string scheme;     // "http" or "https"
    std::string authority;  // "w.example:8443", kept as typed
    std::string folder;     // "" or the text after the authority's "/"
};
WebHost splitWebHost(const std::string& wwwName);

// scheme "://" authority, then every non-empty segment of the host's folder,
// of `directory` and of `storedName` (split at "/") percent-encoded once and
// joined by single "/": leading, trailing and doubled "/" leave no empty
// segment behind. `directory` and `storedName` are the server's bytes.
std::string fileAddress(const std::string& wwwName, const std::string& directory,
                        const std::string& storedName);

} // namespace app
