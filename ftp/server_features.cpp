#include "ftp/server_features.h"

#include <algorithm>
#include <iterator>

#include "ftp/name_encoding.h"

namespace ftp {
namespace {

std::string upper(std::string s)
{
    for (char& ch : s)
        if (ch >= 'a' && ch <= 'z') ch = char(ch - 'a' + 'A');
    return s;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHex(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

std::string lower(std::string s)
{
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
    return s;
}

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t i = 0;
    for (;;) {
        i = text.find_first_not_of(" \t", i);
        if (i == std::string::npos) return out;
        const std::size_t end = text.find_first_of(" \t", i);
        out.push_back(text.substr(i, end == std::string::npos ? std::string::npos : end - i));
        if (end == std::string::npos) return out;
        i = end;
    }
}

// A line of the reply itself ("211-Features:", "211 End"), not a feature.
bool isReplyLine(const std::string& line)
{
    return line.size() >= 3 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]) &&
           (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

// The hash checks in the order they are preferred.
constexpr HashMethod kPreference[] = {
    {HashCommand::Hash, HashAlgorithm::Sha256}, {HashCommand::XSha256, HashAlgorithm::Sha256},
    {HashCommand::Hash, HashAlgorithm::Sha1},   {HashCommand::XSha1, HashAlgorithm::Sha1},
    {HashCommand::Hash, HashAlgorithm::Md5},    {HashCommand::XMd5, HashAlgorithm::Md5},
    {HashCommand::Hash, HashAlgorithm::Crc32},  {HashCommand::XCrc, HashAlgorithm::Crc32},
};

bool offers(const ServerFeatures& f, const HashMethod& m)
{
    switch (m.command) {
    case HashCommand::Hash: {
        const std::string name = hashAlgorithmName(m.algorithm);
        return std::find(f.hashAlgorithms.begin(), f.hashAlgorithms.end(), name) != f.hashAlgorithms.end();
    }
    case HashCommand::XSha256: return f.xsha256;
    case HashCommand::XSha1: return f.xsha1;
    case HashCommand::XMd5: return f.xmd5;
    case HashCommand::XCrc: return f.xcrc;
    case HashCommand::None: break;
    }
    return false;
}

} // namespace

const char* hashAlgorithmName(HashAlgorithm algorithm)
{
    switch (algorithm) {
    case HashAlgorithm::Sha256: return "SHA-256";
    case HashAlgorithm::Sha1: return "SHA-1";
    case HashAlgorithm::Md5: return "MD5";
    case HashAlgorithm::Crc32: return "CRC32";
    }
    return "?";
}

std::size_t hashDigits(HashAlgorithm algorithm)
{
    switch (algorithm) {
    case HashAlgorithm::Sha256: return 64;
    case HashAlgorithm::Sha1: return 40;
    case HashAlgorithm::Md5: return 32;
    case HashAlgorithm::Crc32: return 8;
    }
    return 0;
}

const char* hashCommandVerb(HashCommand command)
{
    switch (command) {
    case HashCommand::None: return "";
    case HashCommand::Hash: return "HASH";
    case HashCommand::XSha256: return "XSHA256";
    case HashCommand::XSha1: return "XSHA1";
    case HashCommand::XMd5: return "XMD5";
    case HashCommand::XCrc: return "XCRC";
    }
    return "";
}

ServerFeatures featuresOf(const std::vector<std::string>& replyLines)
{
    ServerFeatures f;
    f.utf8 = featuresListUtf8(replyLines);
    for (const std::string& line : replyLines) {
        if (isReplyLine(line)) continue;
        const std::vector<std::string> w = words(line);
        if (w.empty()) continue;
        const std::string name = upper(w[0]);
        if (name == "REST" && w.size() > 1 && upper(w[1]) == "STREAM") {
            f.restStream = true;
        } else if (name == "HASH" && w.size() > 1) {
            std::size_t start = 0;
            const std::string list = upper(w[1]);
            while (start <= list.size()) {
                std::size_t end = list.find(';', start);
                if (end == std::string::npos) end = list.size();
                std::string algorithm = list.substr(start, end - start);
                const bool selected = !algorithm.empty() && algorithm.back() == '*';
                if (selected) algorithm.pop_back();
                if (!algorithm.empty()) {
                    f.hashAlgorithms.push_back(algorithm);
                    if (selected) f.hashSelected = algorithm;
                }
                start = end + 1;
            }
        } else if (name == "XSHA256") {
            f.xsha256 = true;
        } else if (name == "XSHA1") {
            f.xsha1 = true;
        } else if (name == "XMD5") {
            f.xmd5 = true;
        } else if (name == "XCRC") {
            f.xcrc = true;
        }
    }
    return f;
}

bool listsHashCommand(const ServerFeatures& f)
{
    return !f.hashAlgorithms.empty() || f.xsha256 || f.xsha1 || f.xmd5 || f.xcrc;
}

HashMethod chooseHashMethod(const ServerFeatures& f)
{
    for (HashMethod m : kPreference) {
        if (!offers(f, m)) continue;
        if (m.command == HashCommand::Hash) m.selectFirst = f.hashSelected != hashAlgorithmName(m.algorithm);
        return m;
    }
    return {};
}

bool probeFindsCommand(int code)
{
    return code == 501 || code == 550 || (code >= 200 && code < 300);
}

HashMethod methodOfCommand(HashCommand command)
{
    for (const HashMethod& m : kPreference)
        if (m.command == command && command != HashCommand::Hash) return m;
    return {};
}

std::optional<std::string> hashInReply(const HashMethod& method, int code, const std::string& line)
{
    const std::size_t digits = hashDigits(method.algorithm);
    std::vector<std::string> w = words(line);
    if (!w.empty()) w.erase(w.begin());  // the code
    if (method.command == HashCommand::Hash) {
        // "213 SHA-256 0-49 <hex> name": the algorithm asked for, from byte 0.
        if (code != 213 || w.size() < 3 || upper(w[0]) != hashAlgorithmName(method.algorithm)) return std::nullopt;
        const std::size_t dash = w[1].find('-');
        if (dash == std::string::npos || w[1].substr(0, dash) != "0") return std::nullopt;
        if (w[2].size() != digits || !isHex(w[2])) return std::nullopt;
        return lower(w[2]);
    }
    if (code < 200 || code >= 300 || method.command == HashCommand::None) return std::nullopt;
    for (auto it = w.rbegin(); it != w.rend(); ++it)
        if (it->size() == digits && isHex(*it)) return lower(*it);
    if (method.algorithm != HashAlgorithm::Crc32) return std::nullopt;
    for (auto it = w.rbegin(); it != w.rend(); ++it)
        if (it->size() < digits && isHex(*it)) return std::string(digits - it->size(), '0') + lower(*it);
    return std::nullopt;
}

std::uint32_t hashReplyBoundMs(std::int64_t fileSize)
{
    const std::int64_t extra = fileSize > 0 ? fileSize / 10000 : 0;  // ms at 10 MB/s
    const std::int64_t bound = 15000 + extra;
    return bound > 0x7FFFFFFF ? 0x7FFFFFFFu : std::uint32_t(bound);
}

} // namespace ftp
