// The failure thrown inside the FTP component: an exception carrying its
// English text. The command interface catches it.
#pragma once
#include <stdexcept>
#include <string>

namespace ftp {

class FtpFailure : public std::runtime_error {
public:
    explicit FtpFailure(const std::string& text, int code = 0)
        : std::runtime_error(text), code_(code) {}
    // The Windows Sockets error code behind the failure, 0 for refusals.
    int code() const { return code_; }

private:
    int code_;
};

} // namespace ftp
