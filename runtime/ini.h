// INI access through the Windows private-profile functions. Values are cut
// to 255 characters on reading; a missing file, section or key reads "".
// The profile functions strip blanks at both ends of a value and one pair of
// enclosing quotes when reading; a string value that would lose characters
// that way is written inside double quotes, so it reads back whole.
// A file name that begins with "HKEY_" (any case) names a registry key
// instead: the section is a subkey of it and the key a value name.
#pragma once
#include <cstdint>
#include <string>

namespace rt {

std::string iniRead(const std::string& file, const std::string& section, const std::string& key);
// The same, with the whole value however long (for values such as an
// encrypted password, which are far longer than 255 characters).
std::string iniReadWhole(const std::string& file, const std::string& section, const std::string& key);
// The text written for a string value: in double quotes when its first or
// last character is one the profile functions strip (blank, tab and the
// like), or when the whole value stands in a pair of matching quotes;
// otherwise the value unchanged.
std::string profileValueText(const std::string& value);

// A failed write raises warning 303 with the file name (305 with the name for
// a registry root that does not exist).
void iniWrite(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value);
// The integer as text under "numwidth", unquoted: its padding blanks are not
// part of the value read back.
void iniWrite(const std::string& file, const std::string& section, const std::string& key,
              std::int32_t value);

} // namespace rt
