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
std::string del(const std::string& s, int p, int n);  // p <= 0: error 204
std::string upper(const std::string& s);
std::string lower(const std::string& s);
int count(const std::string& s, const std::string& d);
std::string part(const std::string& s, int n, const std::string& d);  // n == 0: error 205
int position(const std::string& d, const std::string& s, int p = 1);
std::string replace(const std::string& s, const std::string& d, const std::string& r);

} // namespace rt
