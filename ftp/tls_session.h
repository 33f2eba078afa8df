// TlsSession: the client side of one TLS connection through Windows' own
// TLS (Schannel, SSPI), free of sockets. Bytes from the wire go in, bytes
// for the wire come out; the socket layer (xsocket_tls.cpp) moves them.
//
// The server's certificate is checked here after every handshake, never
// skipped: the chain must end in a trusted root, be in its validity period
// and name the configured server, or the certificate must be the one the
// user chose to trust (its SHA-256 hash). A refusal carries the
// certificate's facts and every reason the user could be asked about. Schannel's own check is switched off so
// that the outcome and its reason are the same on every Windows (Wine's
// Schannel checks nothing at all).
//
// Control and data connections share one TlsCredentials: Schannel resumes a
// session only for the same credentials and server name, and servers such
// as vsftpd (require_ssl_reuse) refuse data connections that do not resume
// the control connection's session.
#pragma once
#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <memory>
#include <string>

#include "ftp/tls_failure.h"

namespace ftp {

// Maps a CertVerifyCertificateChainPolicy error to a problem.
TlsProblem certificateProblem(DWORD policyError);

// Windows' SSL policy check of a server certificate's chain for the name,
// passing over the faults in `ignored` (SECURITY_FLAG_IGNORE_*): the
// policy's error, 0 when the chain passes. False when the check could not
// run at all.
bool sslPolicyError(PCCERT_CHAIN_CONTEXT chain, const std::wstring& serverName, DWORD ignored, DWORD& error);

class TlsCredentials {
public:
    // Throws FtpFailure when Schannel refuses the credentials.
    TlsCredentials();
    ~TlsCredentials();
    TlsCredentials(const TlsCredentials&) = delete;
    TlsCredentials& operator=(const TlsCredentials&) = delete;
    CredHandle* handle() { return &handle_; }

private:
    CredHandle handle_{};
};

class TlsSession {
public:
    enum class Step { Continue, Done, Failed };
    enum class Decrypted { Ok, Closed, Renegotiate, Failed };

    // serverName: the name the certificate must carry (host name or dotted
    // address, as configured). trusted: the SHA-256 hash of the one
    // certificate to accept whatever its chain, dates and names (empty: the
    // usual check); any other certificate fails as Changed.
    TlsSession(std::shared_ptr<TlsCredentials> credentials, std::string serverName, std::string trusted = {});
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Starts the handshake; `out` receives the ClientHello.
    Step Start(std::string& out);
    // Takes the whole records at the front of `in` (the rest stays) and
    // appends the bytes to send to `out`. Done comes only after the
    // certificate check has passed; Failed leaves the reason in Failure().
    Step Continue(std::string& in, std::string& out);
    bool Established() const { return established_; }

    // Plaintext in, records for the wire appended to `out`.
    void Encrypt(const char* data, std::size_t count, std::string& out);
    // Decrypts the whole records at the front of `in` into `plain`; a
    // partial record stays in `in` (Ok). Stops at a close_notify (Closed),
    // at a renegotiation request (Renegotiate: the handshake runs again
    // through Continue) or at a fault (Failed).
    Decrypted Decrypt(std::string& in, std::string& plain);
    // The close_notify alert to send before closing; empty when Schannel
    // gives none.
    std::string Shutdown();

    const TlsFailure& Failure() const { return failure_; }

private:
    Step handshakeStep(std::string& in, std::string& out);
    bool checkCertificate();
    bool checkChain(PCCERT_CONTEXT cert);
    void fail(TlsProblem problem, const std::string& detail);

    std::shared_ptr<TlsCredentials> credentials_;
    std::wstring serverName_;
    std::string trusted_;
    CtxtHandle context_{};
    bool haveContext_ = false;
    bool established_ = false;
    bool renegotiating_ = false;
    std::size_t handshakeRecords_ = 1;  // records handed to one handshake call
    SecPkgContext_StreamSizes sizes_{};
    std::string scratch_;  // one record being encrypted or decrypted
    TlsFailure failure_;
};

} // namespace ftp
