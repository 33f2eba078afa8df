// Password scrambling: a position-dependent substitution over a fixed table
// of 36 rows, each an arrangement of the same 123 characters (code page
// 1252). It keeps a casual reader of the INI file from seeing the password;
// it is not encryption.
#pragma once
#include <string>
#include <string_view>

namespace app {

constexpr int kScrambleRows = 36;
constexpr int kScrambleRowLength = 123;
// Texts longer than this are replaced by "toolong" before either operation.
constexpr int kMaxPasswordLength = 35;

// Row r (0..35) of the table; row 0 is the character set itself.
std::string_view scrambleRow(int r);

// The stored form of a password. Characters outside row 0 are dropped.
std::string scramble(const std::string& password);
// The password of a stored form; undoes scramble for texts over row 0.
std::string unscramble(const std::string& stored);

} // namespace app
