// Why an encrypted (TLS) connection could not be used: the reason, the
// certificate the server showed and an English detail; and the SHA-256
// fingerprint of a certificate as text. Free of Windows headers, so the
// command interface and the application can pass it on.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    Changed,       // not the certificate trusted for this server
};
const char* tlsProblemName(TlsProblem p);

struct CertificateDate {
    int year = 0, month = 0, day = 0;  // UTC
};

// What is shown of a server's certificate.
struct CertificateFacts {
    std::string subject;
    std::string issuer;
    CertificateDate validFrom, validTo;
    std::string sha256;  // the 32 bytes of the SHA-256 hash of the certificate (its DER form)
};

struct TlsFailure {
    TlsProblem problem = TlsProblem::None;
    std::string subject;  // the certificate's subject, when one was seen
    std::string detail;   // English detail for the reply text
    // For Untrusted, Expired and WrongName: every one of the three that
    // applies (problem first); a certificate with any other fault is
    // refused as Certificate instead.
    std::vector<TlsProblem> reasons;
    CertificateFacts certificate;  // when one was seen
};

// Whether the user may be asked to trust the certificate: a sound handshake
// whose certificate is only untrusted, out of date or for another name.
bool trustCanBeAsked(const TlsFailure& failure);

// "AB:CD:..." in capitals, as `openssl x509 -fingerprint -sha256` prints it.
std::string fingerprintText(std::string_view hash);
// The 32 bytes of a SHA-256 fingerprint written as 64 hex digits, in pairs
// separated by ":" (or by nothing), either case; nothing for anything else.
std::optional<std::string> parseFingerprint(std::string_view text);

} // namespace ftp
