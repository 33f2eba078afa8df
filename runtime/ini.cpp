// INI access: private-profile files, or registry keys named like files.
#include "runtime/ini.h"

#include <windows.h>
#include <vector>
#include "runtime/errors.h"
#include "runtime/value.h"

namespace rt {

namespace {

// 258 bytes with 256 offered: values are cut to 255 characters.
constexpr DWORD kValueBuffer = 258;
constexpr DWORD kValueOffered = 256;

bool isRegistryName(const std::string& file)
{
    return file.size() >= 5 && _strnicmp(file.c_str(), "HKEY_", 5) == 0;
}

// "HKEY_CURRENT_USER\Software\X" + section: the root and the subkey path.
bool registryPath(const std::string& file, const std::string& section, HKEY& root, std::string& path)
{
    static const struct { const char* name; HKEY key; } roots[] = {
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}, {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {"HKEY_USERS", HKEY_USERS},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    const std::size_t slash = file.find('\\');
    const std::string rootName = file.substr(0, slash);
    for (const auto& r : roots) {
        if (_stricmp(rootName.c_str(), r.name) != 0) continue;
        root = r.key;
        path = slash == std::string::npos ? std::string() : file.substr(slash + 1);
        if (!section.empty()) path += (path.empty() ? "" : "\\") + section;
        return true;
    }
    return false;
}

// A registry value as text: at most `limit` characters, or whole when
// `limit` is 0.
std::string registryRead(const std::string& file, const std::string& section, const std::string& key,
                         std::size_t limit)
{
    HKEY root, h;
    std::string path;
    if (!registryPath(file, section, root, path)) return {};
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return {};
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExA(h, key.c_str(), nullptr, &type, nullptr, &size);
    std::vector<char> buf(static_cast<std::size_t>(size) + 2, '\0');
    if (rc == ERROR_SUCCESS)
        rc = RegQueryValueExA(h, key.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) return {};
    if (type == REG_DWORD) return std::to_string(*reinterpret_cast<const DWORD*>(buf.data()));
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
    std::string text = buf.data();
    if (limit != 0 && text.size() > limit) text.resize(limit);
    return text;
}

void registryWrite(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value)
{
    HKEY root, h;
    std::string path;
    if (!registryPath(file, section, root, path)) {
        raiseWarning(305, file);
        return;
    }
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) != ERROR_SUCCESS) {
        raiseWarning(303, file);
        return;
    }
    const LONG rc = RegSetValueExA(h, key.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) raiseWarning(303, file);
}

// Characters the profile functions remove at either end of a value.
bool strippedAtEnds(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

bool writeProfileText(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& text)
{
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), text.c_str(), file.c_str()) != FALSE;
}

} // namespace

std::string profileValueText(const std::string& value)
{
    if (value.empty()) return value;
    const char first = value.front(), last = value.back();
    const bool enclosed = value.size() >= 2 && (first == '"' || first == '\'') && last == first;
    if (strippedAtEnds(first) || strippedAtEnds(last) || enclosed) return '"' + value + '"';
    return value;
}

std::string iniRead(const std::string& file, const std::string& section, const std::string& key)
{
    if (isRegistryName(file)) return registryRead(file, section, key, kValueOffered - 1);
    char buf[kValueBuffer] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buf, kValueOffered, file.c_str());
    return buf;
}

std::string iniReadWhole(const std::string& file, const std::string& section, const std::string& key)
{
    if (isRegistryName(file)) return registryRead(file, section, key, 0);
    // The reader says nothing about the length: a value that fills the
    // buffer to its last character may have been cut, so it is read again
    // into a larger one.
    for (DWORD size = 1024;; size *= 2) {
        std::vector<char> buf(size, '\0');
        const DWORD copied = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buf.data(), size,
                                                      file.c_str());
        if (copied + 1 < size || size >= (1u << 20)) return std::string(buf.data(), copied);
    }
}

void iniWrite(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value)
{
    if (isRegistryName(file)) {
        registryWrite(file, section, key, value);
        return;
    }
    if (!writeProfileText(file, section, key, profileValueText(value))) raiseWarning(303, file);
}

void iniWrite(const std::string& file, const std::string& section, const std::string& key,
              std::int32_t value)
{
    const std::string text = intToText(value);
    if (isRegistryName(file)) {
        registryWrite(file, section, key, text);
        return;
    }
    if (!writeProfileText(file, section, key, text)) raiseWarning(303, file);
}

} // namespace rt
