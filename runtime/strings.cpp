// String functions of the runtime.
#include "runtime/strings.h"

#include <atomic>
#include <regex>
#include <vector>
#include "runtime/errors.h"

namespace rt {

namespace {

std::atomic<int> g_matchPosition{0};
std::atomic<int> g_matchLength{0};

void recordMatch(int position, int length)
{
    g_matchPosition.store(position);
    g_matchLength.store(length);
}

// Case partners in code page 1252: ASCII, 0xC0-0xDE with 0xE0-0xFE (except
// the multiplication and division signs), Š/š, Œ/œ, Ž/ž and Ÿ/ÿ.
unsigned char toUpper1252(unsigned char c)
{
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
    switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
    }
}

unsigned char toLower1252(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    switch (c) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return c;
    }
}

bool compileRegex(const std::string& pattern, std::regex& re)
{
    try {
        re.assign(pattern, std::regex::ECMAScript);
        return true;
    } catch (const std::regex_error&) {
        raiseWarning(284, pattern);
        return false;
    }
}

// The parts of s between occurrences of d (d not empty).
std::vector<std::string> split(const std::string& s, const std::string& d)
{
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = s.find(d, from)) != std::string::npos; from = at + d.size())
        parts.push_back(s.substr(from, at - from));
    parts.push_back(s.substr(from));
    return parts;
}

} // namespace

std::string left(const std::string& s, int n)
{
    if (n <= 0) return {};
    return s.substr(0, static_cast<std::size_t>(n));
}

std::string right(const std::string& s, int n)
{
    if (n <= 0 || static_cast<std::size_t>(n) > s.size()) return {};
    return s.substr(s.size() - static_cast<std::size_t>(n));
}

std::string middle(const std::string& s, int p, int n)
{
    if (n <= 0 || p <= 0 || static_cast<std::size_t>(p) > s.size()) return {};
    return s.substr(static_cast<std::size_t>(p - 1), static_cast<std::size_t>(n));
}

std::string character(int c)
{
    return std::string(1, static_cast<char>(c));
}

std::string trim(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return s.substr(b, e - b);
}

std::string del(const std::string& s, int p, int n)
{
    if (p <= 0) {
        raiseError(204);
        p = 1;
    }
    if (n <= 0 || static_cast<std::size_t>(p) > s.size()) return s;
    std::string r = s;
    r.erase(static_cast<std::size_t>(p - 1), static_cast<std::size_t>(n));
    return r;
}

std::string upper(const std::string& s)
{
    std::string r = s;
    for (char& c : r) c = static_cast<char>(toUpper1252(static_cast<unsigned char>(c)));
    return r;
}

std::string lower(const std::string& s)
{
    std::string r = s;
    for (char& c : r) c = static_cast<char>(toLower1252(static_cast<unsigned char>(c)));
    return r;
}

int count(const std::string& s, const std::string& d)
{
    if (d.empty()) return 0;
    int n = 0;
    for (std::size_t at = s.find(d); at != std::string::npos; at = s.find(d, at + d.size())) ++n;
    return n;
}

std::string part(const std::string& s, int n, const std::string& d)
{
    if (n == 0) {
        raiseError(205);
        return {};
    }
    if (d.empty() || s.find(d) == std::string::npos) return n == 1 || n == -1 ? s : std::string();
    const std::vector<std::string> parts = split(s, d);
    const long long total = static_cast<long long>(parts.size());
    const long long index = n > 0 ? n - 1 : total + n;
    if (index < 0 || index >= total) return {};
    return parts[static_cast<std::size_t>(index)];
}

int position(const std::string& d, const std::string& s, int p)
{
    if (p < 1) p = 1;
    if (d.empty() || static_cast<std::size_t>(p) > s.size()) return 0;
    const std::size_t from = static_cast<std::size_t>(p - 1);
    if (regexMode()) {
        std::regex re;
        if (!compileRegex(d, re)) return 0;
        std::smatch m;
        if (!std::regex_search(s.begin() + static_cast<std::ptrdiff_t>(from), s.end(), m, re)) {
            recordMatch(0, 0);
            return 0;
        }
        const int at = static_cast<int>(from + static_cast<std::size_t>(m.position(0))) + 1;
        recordMatch(at, static_cast<int>(m.length(0)));
        return at;
    }
    const std::size_t at = s.find(d, from);
    return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

std::string replace(const std::string& s, const std::string& d, const std::string& r)
{
    if (d.empty()) return s;
    if (regexMode()) {
        std::regex re;
        if (!compileRegex(d, re)) return s;
        std::smatch m;
        if (std::regex_search(s, m, re))
            recordMatch(static_cast<int>(m.position(0)) + 1, static_cast<int>(m.length(0)));
        else
            recordMatch(0, 0);
        return std::regex_replace(s, re, r);
    }
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = s.find(d, from)) != std::string::npos; from = at + d.size()) {
        out.append(s, from, at - from);
        out += r;
    }
    out.append(s, from, std::string::npos);
    return out;
}

int regexMatchPosition()
{
    return g_matchPosition.load();
}

int regexMatchLength()
{
    return g_matchLength.load();
}

} // namespace rt
