// FTPS in FtpComponent. Explicit (RFC 4217): "AUTH TLS" and the handshake
// right after the greeting. Implicit: the handshake as soon as the
// connection stands, the greeting inside TLS ("PBSZ 0" and "PROT P" after the login are plain
// rows of the table of requests), and the sessions for the data
// connections, resuming the control connection's session.
// A refusal or a failed certificate check ends the sign-on; there is no
// fallback to plain FTP.
#include "ftp/ftp_component.h"

namespace ftp {

TlsFailure FtpComponent::LastTlsFailure() const
{
    std::lock_guard<std::mutex> lock(textMutex_);
    return tlsFailure_;
}

void FtpComponent::noteTlsFailure(const TlsFailure& failure)
{
    std::lock_guard<std::mutex> lock(textMutex_);
    // The first reason counts; an empty failure starts a new operation.
    if (failure.problem == TlsProblem::None || tlsFailure_.problem == TlsProblem::None)
        tlsFailure_ = failure;
}

// The certificate must name the host we connect to: through a proxy that
// passes TLS through, that is the proxy.
std::string FtpComponent::serverNameForTls() const
{
    return UseProxy == 1 ? ProxyHost : Host;
}

// 234 to AUTH TLS: the request stays open until the handshake is through.
void FtpComponent::authTlsReply(int code)
{
    if (code != 234) {
        error_ = code;
        fillFailText();
        TlsFailure refused;
        refused.problem = TlsProblem::Refused;
        refused.detail = "AUTH TLS refused";
        noteTlsFailure(refused);
        finishRequest(code);
        return;
    }
    // Plain text behind the 234 line would belong to no one: it is dropped.
    input_.clear();
    ctrl_.OnTlsReady = [this](bool ok) { guarded([&] { controlTlsReady(ok); }); };
    ctrl_.StartTls(newTlsSession());
}

// The greeting, and everything after it, comes inside TLS; the Open step
// stays in AwaitGreeting meanwhile.
void FtpComponent::startImplicitTls()
{
    tlsCredentials_ = std::make_shared<TlsCredentials>();
    ctrl_.OnTlsReady = [this](bool ok) { guarded([&] { controlTlsReady(ok); }); };
    ctrl_.StartTls(newTlsSession());
}

void FtpComponent::controlTlsReady(bool ok)
{
    if (ok) {
        display("! TLS established");
        // Implicit FTPS: the greeting decides the Open step.
        if (!requestIs(FtpRequest::Open)) finishRequest(0);
        return;
    }
    TlsFailure failure;
    if (const TlsSession* tls = ctrl_.Tls()) failure = tls->Failure();
    if (failure.problem == TlsProblem::None) failure.problem = TlsProblem::Handshake;
    noteTlsFailure(failure);
    std::string text = "500 TLS: " + failure.detail;
    if (!failure.subject.empty()) text += " (" + failure.subject + ")";
    display("! " + text);
    setReply(500, text);
    error_ = 500;
    fillFailText();
    ctrl_.Close();  // the close finishes the request with the error
}

std::unique_ptr<TlsSession> FtpComponent::dataTlsSession()
{
    if (!tlsCredentials_) throw FtpFailure("TLS: not signed on with TLS");
    return newTlsSession();
}

std::unique_ptr<TlsSession> FtpComponent::newTlsSession()
{
    return std::make_unique<TlsSession>(tlsCredentials_, serverNameForTls(), TrustedCertificate);
}

} // namespace ftp
