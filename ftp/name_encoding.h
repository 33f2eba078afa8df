// File and folder names on the wire. The program's names are code page 1252
// text; a server that lists UTF8 in its FEAT reply (RFC 2640) takes and
// gives them as UTF-8, every other server gets the code page's bytes as
// they are. Pure text functions, no socket or window code.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace ftp {

// Code page 1252 text as UTF-8. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of
// the same number, as Windows converts them.
std::string utf8FromCp1252(std::string_view text);

// UTF-8 text as code page 1252, for display; a character the code page
// lacks becomes "?". Text that is not valid UTF-8 (a server that announces
// UTF8 yet keeps names in an 8-bit code page) is returned unchanged.
std::string cp1252FromUtf8(std::string_view text);

// Whether the lines of a FEAT reply list the feature UTF8: one feature per
// line after the opening "211-" line, each line starting with a blank
// (RFC 2389); the feature name compares without regard to case.
bool featuresListUtf8(const std::vector<std::string>& replyLines);

} // namespace ftp
