// Whether a failed sign-on is worth trying again: a passing failure (the
// server busy, the connection refused, reset or closed, a reply that cannot
// be read, no answer in time) may not happen a moment later; a final one
// (a wrong login, a refused or untrusted encrypted connection, a name that
// does not resolve, a setting the sign-on cannot start without) happens
// again. Retrying a wrong login could lock the account. Pure logic.
#pragma once
#include <string>

#include "ftp/tls_failure.h"

namespace ftp {

enum class SignOnFailure { None, Passing, Final };
const char* signOnFailureName(SignOnFailure kind);

// What a failed sign-on left behind.
struct SignOnOutcome {
    bool refused = false;     // it did not start: a setting was missing or wrong
    bool lookupFailed = false;
    int socketError = 0;      // the Winsock error of a failed lookup or connect
    int code = 0;             // the reply code (the server's, or 426/500 made up here)
    std::string reply;        // the reply line that ended it
    TlsProblem tls = TlsProblem::None;
};

SignOnFailure classifySignOn(const SignOnOutcome& outcome);

// A reply line that is a well-formed reply (RFC 959 4.2: three digits, the
// first 1-5, the second 0-5, then a blank, "-" or the end of the line).
bool wellFormedReply(const std::string& line);

} // namespace ftp
