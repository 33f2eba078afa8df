// Runtime values: the string (std::string holding code page 1252 bytes) and
// the value record that carries parameters, results and switch values, with
// the number/text conversions under the "numwidth" and "decimals" switches.
#pragma once
#include <cstdint>
#include <string>

namespace rt {

// Value record: all three representations are always filled.
struct Value {
    enum Type : int { Integer = 1, Number = 2, String = 3 };
    int type = Integer;
    std::int32_t i = 0;
    double f = 0.0;
    std::string s;
    void* aux = nullptr;  // memory area, when the value is one

    Value() : s("0") {}
    Value(std::int32_t v);          // type 1, text under "numwidth"
    Value(const std::string& text);  // type 3, numbers read from the text
    Value(const char* text);
};

// Integer and floating-point numbers as text, under "numwidth"/"decimals".
std::string intToText(std::int32_t v);
std::string floatToText(double v);

// The value function: "$" hex, "&" octal, "%" binary, else decimal float;
// trimmed first; empty gives 0. Result type 2.
Value value(const std::string& text);
// Shorthand for value(text).i.
std::int32_t toInt(const std::string& text);

} // namespace rt
