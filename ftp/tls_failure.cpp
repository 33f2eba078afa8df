#include "ftp/tls_failure.h"

#include <algorithm>

namespace ftp {
namespace {

bool askable(TlsProblem p)
{
    return p == TlsProblem::Untrusted || p == TlsProblem::Expired || p == TlsProblem::WrongName;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

bool trustCanBeAsked(const TlsFailure& failure)
{
    return askable(failure.problem) && failure.certificate.sha256.size() == 32 &&
           std::all_of(failure.reasons.begin(), failure.reasons.end(), askable);
}

std::string fingerprintText(std::string_view hash)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char b : hash) {
        if (!text.empty()) text += ':';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::optional<std::string> parseFingerprint(std::string_view text)
{
    const bool paired = text.size() == 95;
    if (!paired && text.size() != 64) return std::nullopt;
    std::string hash;
    for (std::size_t i = 0; i < text.size(); i += paired ? 3 : 2) {
        const int high = hexValue(text[i]), low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        if (paired && i + 2 < text.size() && text[i + 2] != ':') return std::nullopt;
        hash += static_cast<char>(high << 4 | low);
    }
    return hash;
}

} // namespace ftp
