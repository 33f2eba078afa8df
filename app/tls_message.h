// The German texts about encrypted connections: the "Fehler:" box when one
// could not be used, the "Achtung:" question whether to trust a certificate
// that Windows does not, the box for a certificate other than the trusted
// one, a server that insists on resumed TLS sessions, and the
// configuration window's line about the trusted certificate. Pure text.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "ftp/tls_failure.h"

namespace app {

// Empty for problem None.
std::string tlsFailureMessage(const ftp::TlsFailure& failure, const std::string& serverName);

using ftp::CertificateDate;
using ftp::CertificateFacts;
using ftp::fingerprintText;

// The "Achtung:" question (Yes/No) before any login: the server's name, the
// reasons (Untrusted, Expired, WrongName; in this order, each once), the
// certificate's subject, issuer, validity and fingerprint, and whether to
// trust it for this configuration from now on.
std::string trustQuestion(const std::string& serverName, const CertificateFacts& certificate,
                          const std::vector<ftp::TlsProblem>& reasons);

// The "Fehler:" box for a server whose certificate is not the trusted one.
// `trusted` is the stored fingerprint text.
std::string certificateChangedMessage(const std::string& serverName, const std::string& trusted,
                                      const CertificateFacts& shown);

// A reply that refuses a data connection because its TLS session did not
// resume the control connection's (vsftpd's 522, FileZilla Server's 425).
bool isSessionReuseRefusal(int code, const std::string& reply);
// The "Fehler:" box for it: the cause, the server's reply, the file.
std::string sessionReuseMessage(const std::string& serverName, const std::string& reply,
                                const std::string& remoteName);

// The configuration window's line for a stored TrustedCertificate: none, or
// the start of its fingerprint.
std::string trustedCertificateCaption(const std::string& stored);

} // namespace app
