// Names between code page 1252 and UTF-8, and UTF8 in FEAT replies.
#include <gtest/gtest.h>

#include "ftp/name_encoding.h"

using namespace ftp;

namespace {

TEST(NameEncoding, CodePageToUtf8)
{
    const struct { const char* cp1252; const char* utf8; } rows[] = {
        {"", ""},
        {"plain.txt", "plain.txt"},
        {"B\xE4ume.txt", "B\xC3\xA4ume.txt"},
        {"Gr\xFC\xDF" "e_2026.jpg", "Gr\xC3\xBC\xC3\x9F" "e_2026.jpg"},
        {"\xC4rger", "\xC3\x84rger"},
        {"\xDC" "bersicht.pdf", "\xC3\x9C" "bersicht.pdf"},
        {"\xA0\xFF", "\xC2\xA0\xC3\xBF"},
        {"5\x80", "5\xE2\x82\xAC"},                 // euro sign
        {"\x84\x93\x94", "\xE2\x80\x9E\xE2\x80\x9C\xE2\x80\x9D"},  // German quotes
        {"\x8A\x9F", "\xC5\xA0\xC5\xB8"},
        {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},  // undefined bytes
    };
    for (const auto& r : rows) {
        EXPECT_EQ(utf8FromCp1252(r.cp1252), r.utf8) << r.cp1252;
        EXPECT_EQ(cp1252FromUtf8(r.utf8), r.cp1252) << r.cp1252;
    }
}

TEST(NameEncoding, EveryCodePageByteRoundTrips)
{
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(cp1252FromUtf8(utf8FromCp1252(one)), one) << b;
    }
}

TEST(NameEncoding, Utf8ForDisplay)
{
    const struct { const char* utf8; const char* shown; } rows[] = {
        {"\xCE\xA9mega", "?mega"},                       // Greek capital omega
        {"\xE6\x97\xA5\xE6\x9C\xAC", "??"},               // two CJK characters
        {"x\xF0\x9F\x93\x81y", "x?y"},                    // four-byte character
        {"\xC2\x80", "?"},                                // a control character the code page lacks
        // Not UTF-8: the server keeps 8-bit names; they stay as they are.
        {"B\xE4ume", "B\xE4ume"},
        {"\xC3", "\xC3"},                                 // cut off
        {"\xC0\xAF", "\xC0\xAF"},                         // overlong "/"
        {"\xED\xA0\x80", "\xED\xA0\x80"},                 // surrogate
        {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80"},         // beyond U+10FFFF
        {"\x80x", "\x80x"},                               // stray continuation byte
    };
    for (const auto& r : rows) EXPECT_EQ(cp1252FromUtf8(r.utf8), r.shown) << r.utf8;
}

TEST(NameEncoding, Utf8InFeatReplies)
{
    using Lines = std::vector<std::string>;
    const struct { const char* what; Lines lines; bool utf8; } rows[] = {
        {"pyftpdlib", {"211-Features supported:", " EPRT", " MDTM", " SIZE", " TVFS", " UTF8", "211 End FEAT."}, true},
        {"vsftpd with utf8_filesystem", {"211-Features:", " EPRT", " PASV", " SIZE", " UTF8", "211 End"}, true},
        {"vsftpd without it", {"211-Features:", " EPRT", " PASV", " SIZE", "211 End"}, false},
        {"lower case, tab", {"211-Extensions supported:", "\tutf8", "211 END"}, true},
        {"LANG is not UTF8", {"211-Features:", " LANG EN*;DE", " MLST type*;size*;", "211 End"}, false},
        {"UTF8 only as an argument", {"211-Features:", " OPTS UTF8", "211 End"}, false},
        {"a longer word", {"211-Features:", " UTF8X", "211 End"}, false},
        {"only in the text of the first line", {"211-UTF8 follows", " SIZE", "211 End"}, false},
        {"one-line reply", {"211 No features"}, false},
        {"empty", {}, false},
    };
    for (const auto& r : rows) EXPECT_EQ(featuresListUtf8(r.lines), r.utf8) << r.what;
}

} // namespace
