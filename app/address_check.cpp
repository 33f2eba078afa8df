// Checking addresses through WinHTTP, one worker thread per address.
#include "app/address_check.h"

#include "ftp/tls_session.h"  // winsock2.h before windows.h; the certificate verdicts
#include "runtime/handles.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>

namespace app {

namespace {

using Clock = std::chrono::steady_clock;

// A late worker still gets to report its own time-out before the
// collector gives up on it.
constexpr auto kGrace = std::chrono::seconds(2);
// Enough for WinHTTP's synchronous calls; reserved, not committed, so a
// run of many files does not use up the 32-bit address space.
constexpr SIZE_T kWorkerStack = 256 * 1024;
constexpr wchar_t kUserAgent[] = L"Quillpost/1.2";
// A cache between us and the web server may hold an answer from before the
// upload (a 404 of the address tried too early); it must ask again.
constexpr wchar_t kNoCache[] = L"Cache-Control: no-cache\r\nPragma: no-cache\r\n";

struct InternetTraits {
    using Handle = HINTERNET;
    static Handle empty() { return nullptr; }
    static void close(Handle h) { WinHttpCloseHandle(h); }
};
using InternetHandle = rt::Owned<InternetTraits>;

struct CertificateTraits {
    using Handle = PCCERT_CONTEXT;
    static Handle empty() { return nullptr; }
    static void close(Handle h) { CertFreeCertificateContext(h); }
};
struct ChainTraits {
    using Handle = PCCERT_CHAIN_CONTEXT;
    static Handle empty() { return nullptr; }
    static void close(Handle h) { CertFreeCertificateChain(h); }
};

std::wstring wide(const std::string& text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// Takes over a string that WinHTTP allocated for us.
std::wstring takeGlobal(LPWSTR text)
{
    if (!text)
        return {};
    std::wstring out = text;
    GlobalFree(text);
    return out;
}

// One WinHTTP session for all checks of a run, with the proxy settings of
// the user's Internet options: a named proxy with its bypass list, or a
// configuration script or automatic detection asked per address; without
// either, WinHTTP's own default. WinHTTP handles may be used from several
// threads at once.
class WebSession {
public:
    WebSession()
    {
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
        std::wstring proxy, bypass;
        if (WinHttpGetIEProxyConfigForCurrentUser(&ie)) {
            autoDetect_ = ie.fAutoDetect != FALSE;
            autoConfigUrl_ = takeGlobal(ie.lpszAutoConfigUrl);
            proxy = takeGlobal(ie.lpszProxy);
            bypass = takeGlobal(ie.lpszProxyBypass);
        }
        if (proxy.empty())
            handle_.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
        else
            handle_.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(),
                                      bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0));
        if (!handle_)
            openError_ = GetLastError();
    }

    HINTERNET get() const { return handle_.get(); }
    DWORD openError() const { return openError_; }

    // The proxy that the automatic configuration names for `url`; the
    // session's own stays where it names none.
    void applyAutomaticProxy(HINTERNET request, const std::wstring& url) const
    {
        if (!autoDetect_ && autoConfigUrl_.empty())
            return;
        WINHTTP_AUTOPROXY_OPTIONS options{};
        if (!autoConfigUrl_.empty()) {
            options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = autoConfigUrl_.c_str();
        } else {
            options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info{};
        if (!WinHttpGetProxyForUrl(handle_.get(), url.c_str(), &options, &info))
            return;
        WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
        takeGlobal(info.lpszProxy);
        takeGlobal(info.lpszProxyBypass);
    }

private:
    InternetHandle handle_;
    DWORD openError_ = 0;
    bool autoDetect_ = false;
    std::wstring autoConfigUrl_;
};

bool isSecureError(DWORD e)
{
    switch (e) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return true;
    default:
        return false;
    }
}

// Wine gives some socket errors as they are.
AddressVerdict verdictOfError(DWORD e)
{
    AddressVerdict v;
    switch (e) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
        v.problem = AddressProblem::NoAnswer;
        break;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNREFUSED:
    case WSAECONNRESET:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        v.problem = AddressProblem::NoConnection;
        break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case WSAHOST_NOT_FOUND:
        v.problem = AddressProblem::UnknownHost;
        break;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        v.problem = AddressProblem::Invalid;
        break;
    case ERROR_WINHTTP_REDIRECT_FAILED:
        v.problem = AddressProblem::Redirect;
        break;
    default:
        v.problem = AddressProblem::Other;
        v.error = e;
        break;
    }
    return v;
}

std::string headerText(HINTERNET request, DWORD which)
{
    DWORD size = 0;
    WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    text.resize(size / sizeof(wchar_t));
    return narrow(text);
}

// The chain of the certificate that WinHTTP refused, checked as for FTPS,
// so that the box can say why.
ftp::TlsProblem chainProblem(PCCERT_CONTEXT certificate, const std::wstring& host)
{
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                                 &chain))
        return ftp::TlsProblem::Untrusted;
    const rt::Owned<ChainTraits> chainOwner(chain);
    DWORD error = 0;
    if (!ftp::sslPolicyError(chain, host, 0, error)) return ftp::TlsProblem::Certificate;
    return ftp::certificateProblem(error);
}

// One address against its deadline, on a worker thread.
class Check {
public:
    Check(const WebSession& session, const std::string& address, std::int64_t fileSize, Clock::time_point deadline)
        : session_(session), url_(wide(address)), fileSize_(fileSize), deadline_(deadline) {}

    AddressVerdict run()
    {
        if (!session_.get())
            return verdictOfError(session_.openError());
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = static_cast<DWORD>(-1);
        parts.dwUrlPathLength = static_cast<DWORD>(-1);
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!WinHttpCrackUrl(url_.c_str(), static_cast<DWORD>(url_.size()), 0, &parts) ||
            parts.dwHostNameLength == 0) {
            AddressVerdict v;
            v.problem = AddressProblem::Invalid;
            return v;
        }
        host_.assign(parts.lpszHostName, parts.dwHostNameLength);
        path_.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
        if (parts.lpszExtraInfo)
            path_.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        if (path_.empty())
            path_ = L"/";
        secure_ = parts.nScheme == INTERNET_SCHEME_HTTPS;
        connection_.reset(WinHttpConnect(session_.get(), host_.c_str(), parts.nPort, 0));
        if (!connection_)
            return verdictOfError(GetLastError());

        Answer answer = ask(L"HEAD", false);
        // Servers that refuse HEAD are asked for the file itself; its body is
        // never read.
        if (answer.error == 0 && (answer.status == 405 || answer.status == 501))
            answer = ask(L"GET", false);
        if (answer.error != 0) {
            if (secure_ && isSecureError(answer.error))
                return certificateVerdict();
            return verdictOfError(answer.error);
        }
        return judgeAnswer(static_cast<int>(answer.status), answer.statusText, answer.length, answer.encoding,
                           fileSize_);
    }

private:
    struct Answer {
        DWORD error = 0;
        DWORD status = 0;
        std::string statusText, length, encoding;
        InternetHandle request;
    };

    // What is left of the check's time, for every phase of the next request.
    int remainingMs() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return static_cast<int>(std::max<long long>(left, 0));
    }

    // One request; `diagnose`: certificate faults ignored and no redirects,
    // only to see the certificate. The request stays open in the answer.
    Answer ask(const wchar_t* verb, bool diagnose)
    {
        Answer a;
        const int ms = remainingMs();
        if (ms <= 0) {
            a.error = ERROR_WINHTTP_TIMEOUT;
            return a;
        }
        a.request.reset(WinHttpOpenRequest(connection_.get(), verb, path_.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, secure_ ? WINHTTP_FLAG_SECURE : 0));
        HINTERNET r = a.request.get();
        if (!r) {
            a.error = GetLastError();
            return a;
        }
        // Set on the request: Wine's WinHTTP does not pass the session's
        // time-outs on to it.
        WinHttpSetTimeouts(r, ms, ms, ms, ms);
        DWORD responseMs = static_cast<DWORD>(ms);
        WinHttpSetOption(r, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof responseMs);
        session_.applyAutomaticProxy(r, url_);
        if (diagnose) {
            DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                           SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
            WinHttpSetOption(r, WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore);
            DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
            WinHttpSetOption(r, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
        }
        if (!WinHttpSendRequest(r, kNoCache, static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(r, nullptr)) {
            a.error = GetLastError();
            return a;
        }
        DWORD size = sizeof a.status;
        if (!WinHttpQueryHeaders(r, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &a.status, &size, WINHTTP_NO_HEADER_INDEX)) {
            a.error = GetLastError();
            return a;
        }
        a.statusText = headerText(r, WINHTTP_QUERY_STATUS_TEXT);
        a.length = headerText(r, WINHTTP_QUERY_CONTENT_LENGTH);
        a.encoding = headerText(r, WINHTTP_QUERY_CONTENT_ENCODING);
        return a;
    }

    // WinHTTP refused the encrypted connection. A second connection that
    // takes any certificate only fetches the server's certificate to name
    // the reason; its answer is never looked at.
    AddressVerdict certificateVerdict()
    {
        AddressVerdict v;
        v.problem = AddressProblem::Tls;
        const Answer probe = ask(L"HEAD", true);
        if (!probe.request)
            return v;
        PCCERT_CONTEXT certificate = nullptr;
        DWORD size = sizeof certificate;
        if (!WinHttpQueryOption(probe.request.get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) ||
            !certificate)
            return v;
        const rt::Owned<CertificateTraits> owner(certificate);
        v.problem = AddressProblem::Certificate;
        v.certificate = chainProblem(certificate, host_);
        if (v.certificate == ftp::TlsProblem::None)
            v.certificate = ftp::TlsProblem::Certificate;  // refused for a reason the chain does not show
        return v;
    }

    const WebSession& session_;
    std::wstring url_;
    std::int64_t fileSize_;
    Clock::time_point deadline_;
    std::wstring host_, path_;
    bool secure_ = false;
    InternetHandle connection_;
};

struct Job {
    std::shared_ptr<const WebSession> session;
    std::string address;
    std::int64_t fileSize = 0;
    Clock::time_point deadline;
    // Written by the worker before it ends; read only once its thread has
    // ended, which orders the two.
    AddressVerdict verdict;
};

DWORD WINAPI checkThread(void* parameter)
{
    // The worker's own reference keeps the job (and the session) alive if
    // the collector stops waiting for it.
    const std::unique_ptr<std::shared_ptr<Job>> job(static_cast<std::shared_ptr<Job>*>(parameter));
    Job& j = **job;
    j.verdict = Check(*j.session, j.address, j.fileSize, j.deadline).run();
    return 0;
}

} // namespace

struct AddressChecks::Impl {
    struct Started {
        std::shared_ptr<Job> job;
        rt::OwnedHandle thread;  // empty when the check ran on the caller's thread
    };
    std::shared_ptr<const WebSession> session;
    std::vector<Started> started;
};

AddressChecks::AddressChecks() : impl_(std::make_unique<Impl>()) {}

AddressChecks::~AddressChecks() = default;

void AddressChecks::start(const std::string& address, std::int64_t fileSize)
{
    if (!impl_->session)
        impl_->session = std::make_shared<const WebSession>();
    auto job = std::make_shared<Job>();
    job->session = impl_->session;
    job->address = address;
    job->fileSize = fileSize;
    job->deadline = Clock::now() + std::chrono::seconds(kAddressCheckSeconds);
    auto* parameter = new std::shared_ptr<Job>(job);
    HANDLE thread = CreateThread(nullptr, kWorkerStack, checkThread, parameter, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                 nullptr);
    if (!thread) {
        // No thread to be had: the same check, bounded the same way, here.
        delete parameter;
        job->verdict = Check(*job->session, job->address, job->fileSize, job->deadline).run();
    }
    impl_->started.push_back({std::move(job), rt::OwnedHandle(thread)});
}

std::vector<AddressVerdict> AddressChecks::collect()
{
    std::vector<AddressVerdict> verdicts;
    for (Impl::Started& s : impl_->started) {
        if (s.thread) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(s.job->deadline + kGrace -
                                                                                    Clock::now())
                                  .count();
            if (WaitForSingleObject(s.thread.get(), static_cast<DWORD>(std::max<long long>(left, 0))) !=
                WAIT_OBJECT_0) {
                AddressVerdict late;
                late.problem = AddressProblem::NoAnswer;
                verdicts.push_back(late);
                continue;
            }
        }
        verdicts.push_back(s.job->verdict);
    }
    return verdicts;
}

} // namespace app
