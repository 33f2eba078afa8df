// Number/text conversions of the runtime and the value function.
#include "runtime/value.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include "runtime/errors.h"
#include "runtime/internal.h"
#include "runtime/strings.h"

namespace rt {

namespace {

std::string padToNumWidth(std::string text)
{
    const int width = numWidth();
    if (width > 0 && text.size() < static_cast<std::size_t>(width))
        text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    return text;
}

int digitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

// "$ff", "&17", "%101", each with an optional "-" after the prefix. The
// digits accumulate in 32 bits, so "$FFFFFFFF" is -1 like any 32-bit word.
std::int32_t readPrefixed(const std::string& t, int base)
{
    std::size_t k = 1;
    bool negative = false;
    if (k < t.size() && t[k] == '-') {
        negative = true;
        ++k;
    }
    std::uint32_t n = 0;
    for (; k < t.size() && digitValue(t[k]) < base; ++k)
        n = n * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digitValue(t[k]));
    if (negative) n = 0u - n;
    return static_cast<std::int32_t>(n);
}

// The longest prefix that reads as a decimal number (sign, digits, point,
// digits, exponent); 0 when there is none.
double readDecimal(const std::string& t)
{
    std::size_t k = 0;
    bool negative = false;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) negative = t[k++] == '-';
    const std::size_t start = k;
    std::size_t digits = 0;
    while (k < t.size() && t[k] >= '0' && t[k] <= '9') ++k, ++digits;
    if (k < t.size() && t[k] == '.') {
        ++k;
        while (k < t.size() && t[k] >= '0' && t[k] <= '9') ++k, ++digits;
    }
    if (digits == 0) return 0.0;
    if (k < t.size() && (t[k] == 'e' || t[k] == 'E')) {
        std::size_t e = k + 1;
        if (e < t.size() && (t[e] == '+' || t[e] == '-')) ++e;
        if (e < t.size() && t[e] >= '0' && t[e] <= '9') {
            while (e < t.size() && t[e] >= '0' && t[e] <= '9') ++e;
            k = e;
        }
    }
    double d = 0.0;
    std::from_chars(t.data() + start, t.data() + k, d);  // out of range leaves 0 or gives inf
    return negative ? -d : d;
}

std::int32_t truncateToInt(double d)
{
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return 2147483647;
    if (d <= -2147483648.0) return -2147483647 - 1;
    return static_cast<std::int32_t>(d);
}

} // namespace

Value::Value(std::int32_t v) : type(Integer), i(v), f(v), s(intToText(v)) {}

Value::Value(const std::string& text) : type(String), s(text)
{
    const Value n = value(text);
    i = n.i;
    f = n.f;
}

Value::Value(const char* text) : Value(std::string(text ? text : "")) {}

std::string intToText(std::int32_t v)
{
    return padToNumWidth(std::to_string(v));
}

std::string floatToText(double v)
{
    int decimals = rt::decimals();
    if (decimals < 0) decimals = 0;
    if (decimals > 40) decimals = 40;
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string text(buf, r.ec == std::errc() ? r.ptr : buf);
    // A negative number that rounds to zero is written without its sign.
    if (!text.empty() && text[0] == '-' && text.find_first_of("123456789") == std::string::npos)
        text.erase(0, 1);
    const std::size_t point = text.find('.');
    if (point != std::string::npos) text[point] = detail::decimalSeparator();
    return padToNumWidth(std::move(text));
}

Value value(const std::string& text)
{
    Value v;
    v.type = Value::Number;
    v.s = trim(text);
    const std::string& t = v.s;
    if (t.empty()) {
        v.i = 0;
        v.f = 0.0;
    } else if (t[0] == '$' || t[0] == '&' || t[0] == '%') {
        v.i = readPrefixed(t, t[0] == '$' ? 16 : t[0] == '&' ? 8 : 2);
        v.f = v.i;
    } else {
        v.f = readDecimal(t);
        v.i = truncateToInt(v.f);
    }
    return v;
}

std::int32_t toInt(const std::string& text)
{
    return value(text).i;
}

} // namespace rt
