#include "app/getsize/getsize_logic.h"

#include <algorithm>
#include <cstdlib>

namespace getsize {
namespace {

bool toNumber(const std::string& s, long long& out)
{
    if (s.empty()) return false;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (*end != '\0') return false;
    out = v;
    return true;
}

std::string joined(const std::vector<std::string>& words, std::size_t from, std::size_t to)
{
    std::string s;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from) s += ' ';
        s += words[i];
    }
    return s;
}

} // namespace

std::vector<std::string> commandWords(const std::string& line)
{
    std::size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    if (i < line.size() && line[i] == '"') {
        const std::size_t close = line.find('"', i + 1);
        i = close == std::string::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && line[i] != ' ') ++i;
    }
    std::vector<std::string> words;
    std::string w;
    for (; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ' || line[i] == '\t') {
            if (!w.empty()) words.push_back(w);
            w.clear();
        } else {
            w += line[i];
        }
    }
    return words;
}

std::optional<Arguments> parseArguments(const std::vector<std::string>& words)
{
    // remoteName size window config more channel directory...
    if (words.size() < 7) return std::nullopt;
    Arguments a;
    long long window = 0, config = 0, more = 0, channel = 0;
    a.remoteName = words[0];
    if (!toNumber(words[1], a.size) || !toNumber(words[2], window) || !toNumber(words[3], config) ||
        !toNumber(words[4], more) || !toNumber(words[5], channel))
        return std::nullopt;
    if (window == 0 || channel == 0 || config < 1 || config > 10 || (more != 0 && more != 1)) return std::nullopt;
    a.mainWindow = static_cast<std::int32_t>(window);
    a.configNumber = static_cast<int>(config);
    a.more = more == 1;
    a.channel = static_cast<std::int32_t>(channel);
    a.directory = joined(words, 6, words.size());
    return a;
}

std::optional<ChannelText> parseChannelText(const std::string& text)
{
    const std::vector<std::string> w = commandWords("x " + text);
    if (w.size() != 3) return std::nullopt;
    ChannelText c;
    long long more = 0;
    c.remoteName = w[0];
    if (!toNumber(w[1], c.size) || !toNumber(w[2], more) || (more != 0 && more != 1))
        return std::nullopt;
    c.more = more == 1;
    return c;
}

void RateMeter::add(std::uint32_t milliseconds, long long bytes)
{
    if (!changes_.empty() && bytes < changes_.back().bytes) changes_.clear();
    if (changes_.empty() || bytes != changes_.back().bytes) changes_.push_back({milliseconds, bytes});
    now_ = milliseconds;
    while (changes_.size() > 2 && now_ - changes_[1].ms >= kLongestSpanMs) changes_.pop_front();
}

std::optional<long long> RateMeter::bytesPerSecond() const
{
    if (changes_.empty()) return std::nullopt;
    const Sample& last = changes_.back();
    const std::uint32_t quiet = now_ - last.ms;
    if (quiet >= kLongestSpanMs) return 0;
    // The newest change at least kWindowMs before the last, else the first.
    std::size_t base = 0;
    for (std::size_t i = changes_.size() - 1; i-- > 0;) {
        if (last.ms - changes_[i].ms >= kWindowMs) {
            base = i;
            break;
        }
    }
    const std::uint32_t span = last.ms - changes_[base].ms;
    if (span < kMinSpanMs) return std::nullopt;
    const long long grown = last.bytes - changes_[base].bytes;
    return std::max(1LL, grown * 1000 / static_cast<long long>(std::max(span, quiet)));
}

bool CompletionWatch::complete(long long serverSize, std::uint32_t milliseconds)
{
    if (localSize_ < 0) return false;
    if (serverSize < localSize_) {
        sawSmaller_ = true;
        reached_ = false;
        return false;
    }
    if (sawSmaller_) return true;
    if (!reached_) {
        reached_ = true;
        reachedAt_ = milliseconds;
    }
    return milliseconds - reachedAt_ >= 2000;
}

int permille(long long done, long long total)
{
    if (total <= 0) return done >= 0 && total == 0 ? 1000 : 0;
    if (done <= 0) return 0;
    if (done >= total) return 1000;
    return static_cast<int>(static_cast<long double>(done) * 1000 / total);
}

std::string groupedNumber(long long n)
{
    std::string digits = std::to_string(n < 0 ? -n : n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) out += '.';
        out += digits[i];
    }
    return n < 0 ? "-" + out : out;
}

std::string nameText(const std::string& remoteName, long long size)
{
    if (size < 0) return remoteName;
    return remoteName + " (" + groupedNumber(size) + " Bytes)";
}

std::string statusText(int permille, std::optional<long long> bytesPerSecond, bool marked)
{
    std::string s = std::to_string(permille / 10) + " %";
    if (bytesPerSecond) s += " · " + groupedNumber(*bytesPerSecond) + " Bytes/s";
    if (marked) s += " · markiert";
    return s;
}

bool isMarked(const std::string& protectValue)
{
    return std::strtol(protectValue.c_str(), nullptr, 10) != 0;
}

} // namespace getsize
