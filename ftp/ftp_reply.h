// Texts of the control connection, free of sockets: cutting received bytes
// into reply lines, reading a reply line's code, the values carried in
// replies, and building command texts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ftp {

// Input buffer of the control connection: 4096 bytes, 4095 usable. Bytes go
// in at the free end; complete lines (cut at LF, trailing CR and LF removed)
// come out at the front. A line that does not fit the buffer is cut at 4095
// bytes and given out as it stands; the rest of it, up to its LF, is dropped
// so that it is never read as a reply of its own.
class ReplyBuffer {
public:
    static constexpr std::size_t kSize = 4096;

    char* freeSpace() { return buf_ + fill_; }
    int freeSize() const { return int(kSize - 1 - fill_); }
    // Records n bytes written at freeSpace().
    void commit(int n);
    // Takes the next complete line; false when none is complete.
    bool nextLine(std::string& line);
    void clear() { fill_ = 0; skipping_ = false; }
    std::size_t fill() const { return fill_; }

private:
    char buf_[kSize];
    std::size_t fill_ = 0;
    bool skipping_ = false;  // inside the dropped rest of an over-long line
};

struct ReplyLineInfo {
    bool isReply = false;       // starts with a digit
    int code = 0;               // leading number
    bool continuation = false;  // "-" right after the number
};

// Classifies a reply line: lines not starting with a digit are no reply.
ReplyLineInfo parseReplyLine(const std::string& line);

// Reading replies line by line (RFC 959, 4.2). A reply whose first line has
// "-" after its code stays open until a line that starts with the same code
// followed by a blank or by the end of the line; every line in between is
// text, whatever it begins with ("1. Be nice", "230-more", "250 is fine").
enum class ReplyPart {
    Ignored,  // outside a reply and not starting with a digit
    Text,     // first or inner line of a reply that is still open
    Final,    // the line that completes a reply
};
struct ReplyStep {
    ReplyPart part = ReplyPart::Ignored;
    int code = 0;          // code of the reply the line belongs to
    std::string openCode;  // digits of the reply still open after the line; empty when none
};
// The step for `line`, given the digits of the reply open before it (empty
// when none).
ReplyStep readReplyLine(const std::string& openCode, const std::string& line);

// The text between the first pair of double quotes after the code, with a
// doubled quote read as one; empty when there is none.
std::string quotedDirectory(const std::string& line);

// The values that replies carry are read here and nowhere else.

// The size in a 213 reply to SIZE (RFC 3659: "213 SP size"): the number that
// starts the text after the code, blanks and tabs skipped. Empty when the
// text starts with no digit ("213", "213 size is 12") or the number does not
// fit 63 bits.
std::optional<std::int64_t> sizeInReply(const std::string& line);

// The data port of a 227 reply to PASV: after "(" four address fields are
// skipped, then h and l give h * 256 + l, taken as 16 bits. The address
// fields are never used; the data connection goes to the control
// connection's peer. A reply without "(" is read from its first digit after
// the code. Empty when fewer than six numbers are found or the port is 0.
std::optional<std::uint16_t> passivePort(const std::string& reply);

// The data port of a 229 reply to EPSV (RFC 2428): "(" and a delimiter,
// any printable character but a digit, three times, then the port in
// decimal and the delimiter once more: "229 Entering Extended Passive Mode
// (|||6446|)". The connection goes to the control connection's peer, as for
// PASV. Empty for anything else (another character among the delimiters,
// an address between them, no digits, a port of 0 or above 65535).
std::optional<std::uint16_t> extendedPassivePort(const std::string& reply);

// "USER name", or through a proxy "USER name@host" with ":port" appended
// when the port is neither "ftp" nor "21". An IPv6 host stands in brackets
// ("USER name@[::1]:2121"), so that the proxy can tell the port from it.
std::string userCommand(const std::string& user, bool viaProxy, const std::string& host,
                        const std::string& port);

// True when the text holds CR, LF or NUL and so must never go onto the
// control connection.
bool hasLineBreakOrNul(const std::string& text);

} // namespace ftp
