// INI access through the Windows private-profile functions. Values are cut
// to 255 characters on reading; a missing file, section or key reads "".
// A file name that begins with "HKEY_" (any case) names a registry key
// instead: the section is a subkey of it and the key a value name.
#pragma once
#include <cstdint>
#include <string>

namespace rt {

std::string iniRead(const std::string& file, const std::string& section, const std::string& key);
// A failed write raises warning 303 with the file name (305 with the name for
// a registry root that does not exist).
void iniWrite(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value);
// The integer as text under "numwidth".
void iniWrite(const std::string& file, const std::string& section, const std::string& key,
              std::int32_t value);

} // namespace rt
