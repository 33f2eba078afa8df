// Schannel client sessions: credentials, the handshake loop, the
// certificate check, record encryption and decryption, close_notify.
#include "ftp/tls_session.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "ftp/ftp_error.h"
#include "ftp/tls_record.h"

namespace ftp {
namespace {

// Defined by the headers only for later targets than ours (XP): CALG_SHA_256
// (Windows XP SP3 on) and the SSL policy's SECURITY_FLAG_IGNORE_* checks
// (shared with WinINet and WinHTTP).
constexpr ALG_ID kSha256 = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreDateInvalid = 0x00002000;
constexpr DWORD kIgnoreNameInvalid = 0x00001000;

constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                ISC_REQ_STREAM;

std::string hexCode(long code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::wstring widen(const std::string& text)
{
    std::wstring wide;
    for (unsigned char c : text) wide.push_back(wchar_t(c));  // host names are ASCII
    return wide;
}

// Owners for what Schannel and crypt32 hand out.
struct ContextBuffer {
    void* p = nullptr;
    ~ContextBuffer() { if (p) FreeContextBuffer(p); }
};
struct CertificateRef {
    PCCERT_CONTEXT p = nullptr;
    ~CertificateRef() { if (p) CertFreeCertificateContext(p); }
};
struct ChainRef {
    PCCERT_CHAIN_CONTEXT p = nullptr;
    ~ChainRef() { if (p) CertFreeCertificateChain(p); }
};

std::string nameText(const CERT_NAME_BLOB& name)
{
    char text[512];
    const DWORD n = CertNameToStrA(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(&name), CERT_X500_NAME_STR,
                                   text, sizeof text);
    return n > 1 ? std::string(text, n - 1) : std::string();
}

CertificateDate dateOf(const FILETIME& t)
{
    SYSTEMTIME s{};
    if (!FileTimeToSystemTime(&t, &s)) return {};
    return {s.wYear, s.wMonth, s.wDay};
}

// SHA-256 of the certificate's DER bytes, by the CryptoAPI provider that
// has it (PROV_RSA_AES); empty when there is none.
std::string sha256Of(PCCERT_CONTEXT cert)
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return {};
    BYTE hash[32];
    DWORD size = sizeof hash;
    const BOOL ok = CryptHashCertificate(provider, kSha256, 0, cert->pbCertEncoded, cert->cbCertEncoded,
                                         hash, &size);
    CryptReleaseContext(provider, 0);
    return ok && size == sizeof hash ? std::string(reinterpret_cast<const char*>(hash), size) : std::string();
}

CertificateFacts factsOf(PCCERT_CONTEXT cert)
{
    return {nameText(cert->pCertInfo->Subject), nameText(cert->pCertInfo->Issuer),
            dateOf(cert->pCertInfo->NotBefore), dateOf(cert->pCertInfo->NotAfter), sha256Of(cert)};
}

// The policy check's flag that passes over a reason, so that the next
// check shows whether another one applies too.
DWORD ignoring(TlsProblem p)
{
    switch (p) {
    case TlsProblem::Untrusted: return kIgnoreUnknownCa;
    case TlsProblem::Expired: return kIgnoreDateInvalid;
    case TlsProblem::WrongName: return kIgnoreNameInvalid;
    default: return 0;
    }
}

} // namespace

const char* tlsProblemName(TlsProblem p)
{
    switch (p) {
    case TlsProblem::None: return "None";
    case TlsProblem::Refused: return "Refused";
    case TlsProblem::Handshake: return "Handshake";
    case TlsProblem::Untrusted: return "Untrusted";
    case TlsProblem::Expired: return "Expired";
    case TlsProblem::WrongName: return "WrongName";
    case TlsProblem::Certificate: return "Certificate";
    case TlsProblem::Changed: return "Changed";
    }
    return "?";
}

bool sslPolicyError(PCCERT_CHAIN_CONTEXT chain, const std::wstring& serverName, DWORD ignored, DWORD& error)
{
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = ignored;
    ssl.pwszServerName = const_cast<wchar_t*>(serverName.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) return false;
    error = status.dwError;
    return true;
}

TlsProblem certificateProblem(DWORD policyError)
{
    switch (static_cast<HRESULT>(policyError)) {
    case 0: return TlsProblem::None;
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_UNTRUSTEDTESTROOT:
    case CERT_E_UNTRUSTEDCA:
    case CERT_E_CHAINING:
    case TRUST_E_CERT_SIGNATURE:
        return TlsProblem::Untrusted;
    case CERT_E_EXPIRED:
    case CERT_E_VALIDITYPERIODNESTING:
        return TlsProblem::Expired;
    case CERT_E_CN_NO_MATCH:
        return TlsProblem::WrongName;
    default:
        return TlsProblem::Certificate;
    }
}

// ---- credentials ------------------------------------------------------------

TlsCredentials::TlsCredentials()
{
    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    // The certificate is checked by TlsSession itself, with a reason to show.
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    const SECURITY_STATUS status = AcquireCredentialsHandleW(
        nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr,
        nullptr, &handle_, &expiry);
    if (status != SEC_E_OK)
        throw FtpFailure("TLS: AcquireCredentialsHandle failed (" + hexCode(status) + ")");
}

TlsCredentials::~TlsCredentials() { FreeCredentialsHandle(&handle_); }

// ---- handshake ----------------------------------------------------------------

TlsSession::TlsSession(std::shared_ptr<TlsCredentials> credentials, std::string serverName, std::string trusted)
    : credentials_(std::move(credentials)), serverName_(widen(serverName)), trusted_(std::move(trusted))
{
}

TlsSession::~TlsSession()
{
    if (haveContext_) DeleteSecurityContext(&context_);
}

void TlsSession::fail(TlsProblem problem, const std::string& detail)
{
    if (failure_.problem != TlsProblem::None) return;
    failure_.problem = problem;
    failure_.detail = detail;
}

TlsSession::Step TlsSession::Start(std::string& out)
{
    std::string none;
    return handshakeStep(none, out);
}

TlsSession::Step TlsSession::Continue(std::string& in, std::string& out)
{
    return handshakeStep(in, out);
}

TlsSession::Step TlsSession::handshakeStep(std::string& in, std::string& out)
{
    for (;;) {
        // One record per call (more only when Schannel asks for them):
        // what follows the server's Finished is application data, and not
        // every Schannel reports the bytes it left (SECBUFFER_EXTRA), so
        // none may be handed over with the handshake.
        std::size_t given = 0;
        if (haveContext_) {
            const auto* data = reinterpret_cast<const unsigned char*>(in.data());
            for (std::size_t i = 0; i < handshakeRecords_; ++i) {
                const TlsRecordFrame f = frameRecord(data + given, in.size() - given);
                if (f.status == TlsRecordFrame::Invalid) {
                    fail(TlsProblem::Handshake, "the server does not answer in TLS");
                    return Step::Failed;
                }
                // A renegotiation starts with one call without input, which
                // yields the new ClientHello.
                if (f.status == TlsRecordFrame::Partial) {
                    if (given == 0 && renegotiating_) break;
                    return Step::Continue;
                }
                given += f.size;
            }
        }
        SecBuffer inBuffers[2] = {{ULONG(given), SECBUFFER_TOKEN, in.data()},
                                  {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
        SecBuffer outBuffers[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, outBuffers};
        ULONG attributes = 0;
        TimeStamp expiry;
        const SECURITY_STATUS status = InitializeSecurityContextW(
            credentials_->handle(), haveContext_ ? &context_ : nullptr,
            const_cast<wchar_t*>(serverName_.c_str()), kContextFlags, 0, 0,
            haveContext_ ? &inDesc : nullptr, 0, haveContext_ ? nullptr : &context_, &outDesc,
            &attributes, &expiry);
        renegotiating_ = false;
        ContextBuffer token{outBuffers[0].pvBuffer};
        if (!haveContext_ && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED))
            haveContext_ = true;
        if (token.p && outBuffers[0].cbBuffer > 0)
            out.append(static_cast<const char*>(token.p), outBuffers[0].cbBuffer);

        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            ++handshakeRecords_;  // a message that spans records
            continue;
        }
        handshakeRecords_ = 1;
        std::size_t used = given;
        if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer <= given)
            used = given - inBuffers[1].cbBuffer;
        in.erase(0, used);

        if (status == SEC_E_OK) {
            if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
                fail(TlsProblem::Handshake, "no stream sizes");
                return Step::Failed;
            }
            if (!checkCertificate()) return Step::Failed;
            established_ = true;
            return Step::Done;
        }
        if (status == SEC_I_CONTINUE_NEEDED || status == SEC_I_INCOMPLETE_CREDENTIALS) {
            if (!in.empty()) continue;  // the next record, or wait for it
            return Step::Continue;
        }
        fail(TlsProblem::Handshake, "InitializeSecurityContext failed (" + hexCode(status) + ")");
        return Step::Failed;
    }
}

bool TlsSession::checkCertificate()
{
    CertificateRef cert;
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert.p) != SEC_E_OK ||
        !cert.p) {
        fail(TlsProblem::Certificate, "the server sent no certificate");
        return false;
    }
    failure_.certificate = factsOf(cert.p);
    failure_.subject = failure_.certificate.subject;
    if (failure_.certificate.sha256.empty()) {
        fail(TlsProblem::Certificate, "no SHA-256 of the certificate");
        return false;
    }
    // The certificate the user chose to trust, exactly, whatever its chain.
    if (!trusted_.empty()) {
        if (failure_.certificate.sha256 == trusted_) return true;
        fail(TlsProblem::Changed, "not the trusted certificate");
        return false;
    }
    return checkChain(cert.p);
}

bool TlsSession::checkChain(PCCERT_CONTEXT cert)
{
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    ChainRef chain;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &chainPara, 0, nullptr, &chain.p)) {
        fail(TlsProblem::Untrusted, "no certificate chain (" + hexCode(long(GetLastError())) + ")");
        failure_.reasons = {TlsProblem::Untrusted};
        return false;
    }
    // The policy names one fault at a time: each one found is passed over
    // in the next check, until none is left, or one comes that cannot be
    // asked about, or one the policy cannot pass over.
    std::vector<TlsProblem> reasons;
    DWORD ignored = 0;
    HRESULT first = 0;
    for (;;) {
        DWORD error = 0;
        if (!sslPolicyError(chain.p, serverName_, ignored, error)) {
            fail(TlsProblem::Certificate, "policy check failed (" + hexCode(long(GetLastError())) + ")");
            return false;
        }
        const TlsProblem problem = certificateProblem(error);
        if (problem == TlsProblem::None) break;
        if (reasons.empty()) first = static_cast<HRESULT>(error);
        const DWORD flag = ignoring(problem);
        if (flag == 0) {
            // Not to be asked about (revoked, wrong use, ...): refused.
            fail(problem, "certificate refused (" + hexCode(long(error)) + ")");
            return false;
        }
        if ((ignored & flag) != 0) break;
        reasons.push_back(problem);
        ignored |= flag;
    }
    if (reasons.empty()) return true;
    fail(reasons.front(), "certificate refused (" + hexCode(long(first)) + ")");
    failure_.reasons = reasons;
    return false;
}

// ---- records --------------------------------------------------------------------

void TlsSession::Encrypt(const char* data, std::size_t count, std::string& out)
{
    if (!established_) throw FtpFailure("TLS: connection not established");
    while (count > 0) {
        const std::size_t n = count < sizes_.cbMaximumMessage ? count : sizes_.cbMaximumMessage;
        scratch_.resize(sizes_.cbHeader + n + sizes_.cbTrailer);
        char* const p = scratch_.data();
        std::memcpy(p + sizes_.cbHeader, data, n);
        SecBuffer b[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, p},
                          {ULONG(n), SECBUFFER_DATA, p + sizes_.cbHeader},
                          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, p + sizes_.cbHeader + n},
                          {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
        const SECURITY_STATUS status = EncryptMessage(&context_, 0, &desc, 0);
        if (status != SEC_E_OK) throw FtpFailure("TLS: EncryptMessage failed (" + hexCode(status) + ")");
        out.append(p, std::size_t(b[0].cbBuffer) + b[1].cbBuffer + b[2].cbBuffer);
        data += n;
        count -= n;
    }
}

TlsSession::Decrypted TlsSession::Decrypt(std::string& in, std::string& plain)
{
    for (;;) {
        const TlsRecordFrame f =
            frameRecord(reinterpret_cast<const unsigned char*>(in.data()), in.size());
        if (f.status == TlsRecordFrame::Partial) return Decrypted::Ok;
        if (f.status == TlsRecordFrame::Invalid) {
            fail(TlsProblem::Handshake, "the server does not answer in TLS");
            return Decrypted::Failed;
        }
        scratch_.assign(in.data(), f.size);
        in.erase(0, f.size);
        SecBuffer b[4] = {{ULONG(f.size), SECBUFFER_DATA, scratch_.data()},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
        const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
        std::size_t produced = 0;
        for (const SecBuffer& s : b) {
            if (s.BufferType == SECBUFFER_DATA && s.pvBuffer && s.cbBuffer > 0) {
                plain.append(static_cast<const char*>(s.pvBuffer), s.cbBuffer);
                produced += s.cbBuffer;
            }
        }
        // Bytes Schannel did not take go back to the front (a record is
        // handed over whole, so there should be none).
        for (const SecBuffer& s : b) {
            if (s.BufferType == SECBUFFER_EXTRA && s.cbBuffer > 0 && s.cbBuffer <= f.size)
                in.insert(0, scratch_.data() + (f.size - s.cbBuffer), s.cbBuffer);
        }
        if (status == SEC_I_CONTEXT_EXPIRED) return Decrypted::Closed;
        if (status == SEC_I_RENEGOTIATE) {
            renegotiating_ = true;
            return Decrypted::Renegotiate;
        }
        if (status != SEC_E_OK) {
            fail(TlsProblem::Handshake, "DecryptMessage failed (" + hexCode(status) + ")");
            return Decrypted::Failed;
        }
        // A TLS 1.2 close_notify is an alert record that yields no data.
        if (f.type == TlsContent::Alert && produced == 0) return Decrypted::Closed;
    }
}

std::string TlsSession::Shutdown()
{
    if (!established_) return {};
    DWORD kind = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof kind, SECBUFFER_TOKEN, &kind};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&context_, &controlDesc) != SEC_E_OK) return {};
    SecBuffer outBuffers[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, outBuffers};
    ULONG attributes = 0;
    TimeStamp expiry;
    const SECURITY_STATUS status = InitializeSecurityContextW(
        credentials_->handle(), &context_, const_cast<wchar_t*>(serverName_.c_str()), kContextFlags,
        0, 0, nullptr, 0, nullptr, &outDesc, &attributes, &expiry);
    ContextBuffer token{outBuffers[0].pvBuffer};
    established_ = false;
    if (FAILED(status) || !token.p) return {};
    return std::string(static_cast<const char*>(token.p), outBuffers[0].cbBuffer);
}

} // namespace ftp
