// Code page 1252 <-> UTF-8 for names on the wire, and the FEAT reply's UTF8.
#include "ftp/name_encoding.h"

#include <cctype>

namespace ftp {
namespace {

// Code points of the bytes 0x80..0x9F; 0 marks the five the code page leaves
// undefined, which stand for the control character of their own number.
constexpr char32_t kHighRow[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char32_t codePointOf(unsigned char byte)
{
    if (byte < 0x80 || byte >= 0xA0) return byte;
    const char32_t c = kHighRow[byte - 0x80];
    return c != 0 ? c : byte;
}

// The code page byte of a code point, or '?' when it has none.
char byteOf(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (int i = 0; i < 32; ++i) {
        const char32_t mapped = kHighRow[i] != 0 ? kHighRow[i] : char32_t(0x80 + i);
        if (mapped == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one character at `at`; false for anything that is not well-formed
// UTF-8 (stray continuation bytes, overlong forms, surrogates, beyond
// U+10FFFF, cut-off sequences).
bool nextCodePoint(std::string_view text, std::size_t& at, char32_t& c)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    int extra = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        c = lead;
        ++at;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, min = 0x80, c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, min = 0x800, c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, min = 0x10000, c = lead & 0x07;
    } else {
        return false;
    }
    if (at + extra >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
        const unsigned char b = byte(at + k);
        if ((b & 0xC0) != 0x80) return false;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    at += extra + 1;
    return true;
}

bool isReplyLine(const std::string& line)
{
    return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])) &&
           (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

} // namespace

std::string utf8FromCp1252(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char ch : text) appendUtf8(out, codePointOf(static_cast<unsigned char>(ch)));
    return out;
}

std::string cp1252FromUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        if (!nextCodePoint(text, at, c)) return std::string(text);
        out += byteOf(c);
    }
    return out;
}

bool featuresListUtf8(const std::vector<std::string>& replyLines)
{
    for (const std::string& line : replyLines) {
        if (isReplyLine(line)) continue;
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos) continue;
        std::string name = line.substr(start, line.find_first_of(" \t\r", start) - start);
        for (char& ch : name)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        if (name == "UTF8") return true;
    }
    return false;
}

} // namespace ftp
