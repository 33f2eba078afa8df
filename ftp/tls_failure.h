// Why an encrypted (TLS) connection could not be used: the reason, the
// certificate's subject and an English detail. Free of Windows headers, so
// the command interface and the application can pass it on.
#pragma once
#include <string>

namespace ftp {

// Why a TLS connection could not be used.
enum class TlsProblem {
    None,
    Refused,       // the server refused AUTH TLS
    Handshake,     // the handshake failed or the peer spoke no TLS
    Untrusted,     // the chain does not lead to a trusted root
    Expired,       // the certificate (or one of its chain) is out of date
    WrongName,     // the certificate is for another name
    Certificate,   // another certificate fault (revoked, wrong use, ...)
};
const char* tlsProblemName(TlsProblem p);

struct TlsFailure {
    TlsProblem problem = TlsProblem::None;
    std::string subject;  // the certificate's subject, when one was seen
    std::string detail;   // English detail for the reply text
};

} // namespace ftp
