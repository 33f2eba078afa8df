// INI access through the Windows private-profile functions. Values are cut
// to 255 characters on reading; a missing file, section or key reads "".
#pragma once
#include <cstdint>
#include <string>

namespace rt {

std::string iniRead(const std::string& file, const std::string& section, const std::string& key);
// A failed write raises warning 303 with the file name.
void iniWrite(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value);
void iniWrite(const std::string& file, const std::string& section, const std::string& key,
              std::int32_t value);

} // namespace rt
