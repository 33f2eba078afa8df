// String functions of the runtime. Positions are 1-based; every result is
// a new string. Texts are code page 1252 bytes.
#pragma once
#include <cstdint>
#include <string>

namespace rt {

std::string left(const std::string& s, int n);
std::string right(const std::string& s, int n);
std::string middle(const std::string& s, int p, int n);
std::string character(int c);
std::string trim(const std::string& s);
std::string del(const std::string& s, int p, int n);  // p <= 0: error 204, then as p = 1
// Upper and lower case of the code page's letters (ASCII and the accented
// letters of code page 1252; "ß" and "µ" have no single-letter partner).
std::string upper(const std::string& s);
std::string lower(const std::string& s);
int count(const std::string& s, const std::string& d);
std::string part(const std::string& s, int n, const std::string& d);  // n == 0: error 205
// A start position below 1 searches from the start.
int position(const std::string& d, const std::string& s, int p = 1);
std::string replace(const std::string& s, const std::string& d, const std::string& r);

// Under the "regex" switch, position and replace read d as a regular
// expression (ECMAScript; in replace, r may name groups as $1) and record
// the first match: its 1-based position (0 none) and length. An invalid
// pattern raises warning 284 with the pattern.
int regexMatchPosition();
int regexMatchLength();

} // namespace rt
