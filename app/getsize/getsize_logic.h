// Pure parts of the upload-window program: its command line, the channel
// text, the transfer rate, the decision that a file is complete and the
// texts it shows. No window or socket code.
#pragma once
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace getsize {

// The command line as the upload run writes it:
//   remoteName size mainWindow configNumber more channel directory
// The directory is the rest of the line as it stands. No password: it is
// read from the configuration, so no process list ever shows it.
struct Arguments {
    std::string remoteName;
    long long size = 0;  // local size; -1 missing, -2 a folder
    std::int32_t mainWindow = 0;
    int configNumber = 0;
    bool more = false;
    std::int32_t channel = 0;
    std::string directory;  // "?" = the folder the upload run starts in
};

// Words of a command line after the program path (which may be quoted);
// words are separated by blanks.
std::vector<std::string> commandWords(const std::string& line);
std::optional<Arguments> parseArguments(const std::vector<std::string>& words);

// The channel text for a later file: remoteName size more.
struct ChannelText {
    std::string remoteName;
    long long size = 0;
    bool more = false;
    bool operator==(const ChannelText&) const = default;
};
std::optional<ChannelText> parseChannelText(const std::string& text);

// Bytes per second of one file's growth on the server, averaged over the
// last few seconds. A server that writes in bursts leaves the size standing
// still between them, so the rate is taken between the moments the size
// changed: the last change and the newest change at least kWindowMs before
// it. There is no rate until two changes lie kMinSpanMs apart; a quiet time
// longer than that span stretches the average, and a file that stood still
// for kLongestSpanMs reads 0. A file that shrinks was started anew and is
// measured from there.
class RateMeter {
public:
    static constexpr std::uint32_t kWindowMs = 3000;
    static constexpr std::uint32_t kMinSpanMs = 2000;
    static constexpr std::uint32_t kLongestSpanMs = 10000;

    void add(std::uint32_t milliseconds, long long bytes);
    std::optional<long long> bytesPerSecond() const;
    void reset() { changes_.clear(); }

private:
    struct Sample {
        std::uint32_t ms;
        long long bytes;
    };
    // The first sample and each sample whose size differs from the one
    // before, oldest first; tick counts may wrap.
    std::deque<Sample> changes_;
    std::uint32_t now_ = 0;  // tick of the latest sample
};

// Whether the file on the server is complete. A size already reached at the
// first look may be an older copy that the upload is about to replace, so it
// counts only after the file was seen smaller (or missing), or after it has
// stayed that size for two seconds.
class CompletionWatch {
public:
    explicit CompletionWatch(long long localSize) : localSize_(localSize) {}
    bool complete(long long serverSize, std::uint32_t milliseconds);

private:
    long long localSize_;
    bool sawSmaller_ = false;
    bool reached_ = false;
    std::uint32_t reachedAt_ = 0;
};

// Progress in thousandths, 0 to 1000.
int permille(long long done, long long total);
// 20971520 -> "20.971.520".
std::string groupedNumber(long long n);
// "big.bin (20.971.520 Bytes)"
std::string nameText(const std::string& remoteName, long long size);
// "37 % · 4.194.304 Bytes/s", "37 %" while there is no rate, with
// " · markiert" when marked.
std::string statusText(int permille, std::optional<long long> bytesPerSecond, bool marked);
// The stored mark: read as a number, anything non-numeric is 0.
bool isMarked(const std::string& protectValue);

} // namespace getsize
