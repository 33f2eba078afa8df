#include "ftp/ftp_reply.h"

#include <cstdint>
#include <cstring>

#include "ftp/resolve.h"

namespace ftp {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

void ReplyBuffer::commit(int n)
{
    if (n > 0) fill_ += std::size_t(n);
}

bool ReplyBuffer::nextLine(std::string& line)
{
    for (;;) {
        char* lf = static_cast<char*>(std::memchr(buf_, '\n', fill_));
        if (skipping_) {
            // Still inside the rest of a line that was too long: drop it.
            if (!lf) {
                fill_ = 0;
                return false;
            }
            skipping_ = false;
            const std::size_t used = std::size_t(lf - buf_) + 1;
            std::memmove(buf_, buf_ + used, fill_ - used);
            fill_ -= used;
            continue;
        }
        std::size_t used, len;
        if (lf) {
            len = std::size_t(lf - buf_);
            used = len + 1;
        } else if (fill_ >= kSize - 1) {
            // No room left and no line end: give out what there is.
            len = used = fill_;
            skipping_ = true;
        } else {
            return false;
        }
        while (len > 0 && (buf_[len - 1] == '\r' || buf_[len - 1] == '\n')) --len;
        line.assign(buf_, len);
        std::memmove(buf_, buf_ + used, fill_ - used);
        fill_ -= used;
        return true;
    }
}

ReplyLineInfo parseReplyLine(const std::string& line)
{
    ReplyLineInfo info;
    if (line.empty() || !isDigit(line[0])) return info;
    info.isReply = true;
    std::size_t i = 0;
    long code = 0;
    while (i < line.size() && isDigit(line[i])) {
        if (code < 100000000) code = code * 10 + (line[i] - '0');
        ++i;
    }
    info.code = int(code);
    info.continuation = i < line.size() && line[i] == '-';
    return info;
}

ReplyStep readReplyLine(const std::string& openCode, const std::string& line)
{
    ReplyStep step;
    if (!openCode.empty()) {
        step.code = parseReplyLine(openCode).code;
        const bool closes = line.compare(0, openCode.size(), openCode) == 0 &&
                            (line.size() == openCode.size() || line[openCode.size()] == ' ');
        step.part = closes ? ReplyPart::Final : ReplyPart::Text;
        if (!closes) step.openCode = openCode;
        return step;
    }
    const ReplyLineInfo info = parseReplyLine(line);
    if (!info.isReply) return step;
    step.code = info.code;
    if (info.continuation) {
        step.part = ReplyPart::Text;
        step.openCode = line.substr(0, line.find('-'));
    } else {
        step.part = ReplyPart::Final;
    }
    return step;
}

std::string quotedDirectory(const std::string& line)
{
    std::size_t i = 0;
    while (i < line.size() && isDigit(line[i])) ++i;
    i = line.find('"', i);
    if (i == std::string::npos) return {};
    std::string dir;
    for (++i; i < line.size(); ++i) {
        if (line[i] != '"') {
            dir += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
            dir += '"';
            ++i;
        } else {
            return dir;
        }
    }
    return {};  // no closing quote: not a pair
}

std::optional<std::int64_t> sizeInReply(const std::string& line)
{
    std::size_t i = 0;
    while (i < line.size() && isDigit(line[i])) ++i;  // the code
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || !isDigit(line[i])) return std::nullopt;
    std::int64_t n = 0;
    for (; i < line.size() && isDigit(line[i]); ++i) {
        const int digit = line[i] - '0';
        if (n > (INT64_MAX - digit) / 10) return std::nullopt;
        n = n * 10 + digit;
    }
    return n;
}

std::optional<std::uint16_t> passivePort(const std::string& reply)
{
    std::size_t pos = reply.find('(');
    if (pos != std::string::npos) {
        ++pos;
    } else {
        pos = 0;
        while (pos < reply.size() && isDigit(reply[pos])) ++pos;  // the reply code
        while (pos < reply.size() && !isDigit(reply[pos])) ++pos;
    }
    unsigned fields[6];
    for (int i = 0; i < 6; ++i) {
        while (pos < reply.size() && reply[pos] == ' ') ++pos;
        if (pos >= reply.size() || !isDigit(reply[pos])) return std::nullopt;
        unsigned v = 0;
        while (pos < reply.size() && isDigit(reply[pos])) {
            v = v * 10 + unsigned(reply[pos] - '0');
            if (v > 0xFFFF) return std::nullopt;
            ++pos;
        }
        fields[i] = v;
        while (pos < reply.size() && reply[pos] == ' ') ++pos;
        if (i < 5) {
            if (pos >= reply.size() || reply[pos] != ',') return std::nullopt;
            ++pos;
        }
    }
    const auto port = std::uint16_t((fields[4] * 256 + fields[5]) & 0xFFFF);
    if (port == 0) return std::nullopt;
    return port;
}

std::optional<std::uint16_t> extendedPassivePort(const std::string& reply)
{
    std::size_t pos = reply.find('(');
    if (pos == std::string::npos || pos + 4 >= reply.size()) return std::nullopt;
    const char delimiter = reply[pos + 1];
    if (delimiter < 33 || delimiter > 126 || isDigit(delimiter)) return std::nullopt;
    if (reply[pos + 2] != delimiter || reply[pos + 3] != delimiter) return std::nullopt;
    pos += 4;
    unsigned port = 0;
    const std::size_t digits = pos;
    while (pos < reply.size() && isDigit(reply[pos])) {
        port = port * 10 + unsigned(reply[pos] - '0');
        if (port > 0xFFFF) return std::nullopt;
        ++pos;
    }
    if (pos == digits || pos >= reply.size() || reply[pos] != delimiter || port == 0) return std::nullopt;
    return std::uint16_t(port);
}

std::string userCommand(const std::string& user, bool viaProxy, const std::string& host,
                        const std::string& port)
{
    std::string cmd = "USER " + user;
    if (viaProxy) {
        cmd += "@" + bracketedHost(host);
        if (port != "ftp" && port != "21") cmd += ":" + port;
    }
    return cmd;
}

bool hasLineBreakOrNul(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

} // namespace ftp
