// The control side of FtpComponent, in one place: the table of requests and
// the table of operations, the engine that runs them, the Open step with
// lookup, connect and greeting, the reply reader, the synchronous wait and
// cancel. The data side of a transfer is the Transfer (ftp_transfer.cpp);
// explicit FTPS is in ftp_tls.cpp.
//
// States (FtpState), the events that move them, and where (the same table,
// with the transfer's phases, is in docs/architecture.md):
//
//   Idle           start of a single request       -> AwaitReply     startRequest
//   Idle/Stepping  start of a sequence, next step  -> that step's    runNextStep
//   Idle/Stepping  the Open step                   -> Resolving      stepOpen
//   Resolving      lookup done / failed            -> AwaitGreeting / finished 500
//   AwaitGreeting  connect failed or too slow,     -> AwaitGreeting, connectDone,
//                  another address left               the next address  nextAddress
//   AwaitGreeting  220 / another code              -> Online, finished / closed
//   Idle/Stepping  a request is sent               -> AwaitReply     sendRequest
//   AwaitReply     its complete reply              -> finished       by the row's Then
//   AwaitReply     control connection closed       -> Offline, Stepping, finished 426
//   finished       a sequence with steps left      -> Stepping       finishRequest
//   finished       a single request, or no step    -> Idle           endOperation
//   any            Cancel, a wait ran out          -> Aborting, Idle cancelOnOwner
//
// After a failed step only a pending sign-off stays (runNextStep).
#include "ftp/ftp_component.h"

#include <array>
#include <exception>
#include <iterator>

#include "ftp/name_encoding.h"
#include "ftp/owner_window_proc.h"
#include "ftp/winsock_errors.h"

namespace ftp {

// ---- the table of requests ---------------------------------------------------

// What follows the command word.
enum class Arg {
    None,           // the command text alone
    User,           // "USER name", or through a proxy "USER name@host[:port]"
    Password,       // Password
    HostDir,        // HostDirName
    Remote,         // RemotePath
    RemoteIfAny,    // RemotePath, or nothing when it is empty
    NewName,        // LocalFileName (RNTO takes the new name from there)
    Raw,            // LocalFileName is the whole command
    TransferType,   // 'I' or 'A'
    RestartOffset,  // the restart offset in decimal; no request when below 1
    DataPort,       // "PASV", "PORT ...", "EPSV" or "EPRT ...", from the transfer
    HashName,       // the algorithm OPTS HASH selects ("SHA-256")
    ProbeVerb,      // the X command asked alone, to learn whether it is known
};

// What a complete reply leads to.
enum class Then {
    Finish,        // success by the accepted codes; the request is finished
    CloseControl,  // as Finish, but a success closes the control connection (QUIT)
    Greeting,      // the Open step: the greeting decides (greetingLine)
    Handshake,     // AUTH TLS: 234 starts the TLS handshake (authTlsReply)
    Transfer,      // the transfer takes every reply (Transfer::reply); Check has no data
};

// What a successful reply keeps for the caller.
enum class Keeps { Nothing, QuotedDir, Size };

struct RequestRow {
    FtpRequest request;
    const char* verb;            // the command text before the argument
    Arg arg;
    std::array<int, 3> codes;    // accepted codes; {} means every code below 500
    Then then;
    Keeps keeps;
    const char* emptyRefusal;    // thrown when the argument is empty, or none
};

// One row per request, in the order in which the pending steps of an
// operation run. For a transfer the codes are those of its first reply; the
// transfer knows the final ones (STOR 226/250, RETR also 125).
constexpr RequestRow kRequests[] = {
    {FtpRequest::Open, "", Arg::None, {220}, Then::Greeting, Keeps::Nothing, nullptr},
    {FtpRequest::AuthTls, "AUTH TLS", Arg::None, {234}, Then::Handshake, Keeps::Nothing, nullptr},
    {FtpRequest::User, "USER", Arg::User, {331, 230}, Then::Finish, Keeps::Nothing, "UserName emtpy"},
    {FtpRequest::Pass, "PASS", Arg::Password, {230}, Then::Finish, Keeps::Nothing, "Password emtpy"},
    {FtpRequest::Pbsz, "PBSZ 0", Arg::None, {200}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Prot, "PROT P", Arg::None, {200}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Cwd, "CWD", Arg::HostDir, {200, 250, 257}, Then::Finish, Keeps::QuotedDir, "HostDirName emtpy"},
    {FtpRequest::Cdup, "CDUP", Arg::None, {250}, Then::Finish, Keeps::QuotedDir, nullptr},
    {FtpRequest::Type, "TYPE", Arg::TransferType, {200}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::DataPort, "", Arg::DataPort, {200, 227, 229}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Rest, "REST", Arg::RestartOffset, {}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Retr, "RETR", Arg::RemoteIfAny, {150, 125}, Then::Transfer, Keeps::Nothing, nullptr},
    {FtpRequest::Stor, "STOR", Arg::Remote, {150, 125}, Then::Transfer, Keeps::Nothing, nullptr},
    {FtpRequest::Appe, "APPE", Arg::Remote, {150, 125}, Then::Transfer, Keeps::Nothing, nullptr},
    {FtpRequest::List, "LIST", Arg::RemoteIfAny, {150, 125}, Then::Transfer, Keeps::Nothing, nullptr},
    {FtpRequest::Nlst, "NLST", Arg::RemoteIfAny, {150, 125}, Then::Transfer, Keeps::Nothing, nullptr},
    {FtpRequest::Syst, "SYST", Arg::None, {215}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Mkd, "MKD", Arg::Remote, {257}, Then::Finish, Keeps::QuotedDir, nullptr},
    {FtpRequest::Rmd, "RMD", Arg::Remote, {250, 257}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Rnfr, "RNFR", Arg::Remote, {350}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Rnto, "RNTO", Arg::NewName, {200, 250, 257}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Size, "SIZE", Arg::Remote, {213}, Then::Finish, Keeps::Size, nullptr},
    {FtpRequest::Dele, "DELE", Arg::Remote, {250, 257}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Pwd, "PWD", Arg::None, {250, 257}, Then::Finish, Keeps::QuotedDir, nullptr},
    {FtpRequest::Raw, "", Arg::Raw, {}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Quit, "QUIT", Arg::None, {221}, Then::CloseControl, Keeps::Nothing, nullptr},
    // Asked after every login (AfterLogin), never a step.
    {FtpRequest::Feat, "FEAT", Arg::None, {211}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::Opts, "OPTS UTF8 ON", Arg::None, {}, Then::Finish, Keeps::Nothing, nullptr},
    // Asked once per connection before its first upload (LearnHashCheck).
    {FtpRequest::OptsHash, "OPTS HASH", Arg::HashName, {200}, Then::Finish, Keeps::Nothing, nullptr},
    {FtpRequest::HashProbe, "", Arg::ProbeVerb, {}, Then::Finish, Keeps::Nothing, nullptr},
    // The copy of an upload checked again (SIZE, hash) by the transfer.
    {FtpRequest::Check, "", Arg::Remote, {}, Then::Transfer, Keeps::Nothing, nullptr},
};

namespace {

constexpr std::size_t rowIndex(FtpRequest r)
{
    for (std::size_t i = 0; i < std::size(kRequests); ++i)
        if (kRequests[i].request == r) return i;
    return std::size(kRequests);
}

const RequestRow& rowOf(FtpRequest r) { return kRequests[rowIndex(r)]; }

// A set of steps: one bit per row of the table of requests, so the lowest
// pending bit is the step that runs next.
constexpr std::uint32_t steps(std::initializer_list<FtpRequest> requests)
{
    std::uint32_t set = 0;
    for (FtpRequest r : requests) set |= 1u << rowIndex(r);
    return set;
}
constexpr std::uint32_t step(FtpRequest r) { return 1u << rowIndex(r); }
static_assert(std::size(kRequests) <= 32, "a step set has 32 bits");

constexpr std::uint32_t kLogin = steps({FtpRequest::Open, FtpRequest::User, FtpRequest::Pass});

// ---- the table of operations -------------------------------------------------

// An operation is a single request, run directly, or a sequence of steps.
struct OperationRow {
    FtpOperation op;
    FtpRequest single;     // None for a sequence
    std::uint32_t steps;
};

using R = FtpRequest;
constexpr OperationRow kOperations[] = {
    {FtpOperation::ChangeDir, R::Cwd, 0},
    {FtpOperation::PrintDir, R::Pwd, 0},
    {FtpOperation::MakeDir, R::Mkd, 0},
    {FtpOperation::RemoveDir, R::Rmd, 0},
    {FtpOperation::Delete, R::Dele, 0},
    {FtpOperation::Size, R::Size, 0},
    {FtpOperation::TransferType, R::Type, 0},
    {FtpOperation::SignOff, R::Quit, 0},
    {FtpOperation::Features, R::Feat, 0},
    {FtpOperation::Utf8On, R::Opts, 0},
    {FtpOperation::SelectHash, R::OptsHash, 0},
    {FtpOperation::ProbeHash, R::HashProbe, 0},
    {FtpOperation::CheckStored, R::Check, 0},
    {FtpOperation::SignOn, R::None, kLogin},
    {FtpOperation::GetFile, R::None, steps({R::DataPort, R::Retr})},
    {FtpOperation::PutFile, R::None, steps({R::DataPort, R::Stor})},
    {FtpOperation::AppendFile, R::None, steps({R::DataPort, R::Appe})},
    {FtpOperation::ListToFile, R::None, steps({R::DataPort, R::List})},
    {FtpOperation::NamesToFile, R::None, steps({R::DataPort, R::Nlst})},
    {FtpOperation::Rename, R::None, steps({R::Rnfr, R::Rnto})},
    {FtpOperation::RestartGet, R::None, steps({R::Rest, R::DataPort, R::Retr})},
    {FtpOperation::RestartPut, R::None, steps({R::Rest, R::DataPort, R::Stor})},
    {FtpOperation::FullReceive, R::None, kLogin | steps({R::Cwd, R::Type, R::DataPort, R::Retr, R::Quit})},
    {FtpOperation::FullRestartReceive, R::None,
     kLogin | steps({R::Cwd, R::Type, R::Rest, R::DataPort, R::Retr, R::Quit})},
    {FtpOperation::FullTransmit, R::None, kLogin | steps({R::Cwd, R::Type, R::DataPort, R::Stor, R::Quit})},
    {FtpOperation::FullRestartTransmit, R::None,
     kLogin | steps({R::Cwd, R::Type, R::Rest, R::DataPort, R::Stor, R::Quit})},
    {FtpOperation::FullAppend, R::None, kLogin | steps({R::Cwd, R::Type, R::DataPort, R::Appe, R::Quit})},
    {FtpOperation::FullList, R::None, kLogin | steps({R::Cwd, R::DataPort, R::List, R::Quit})},
    {FtpOperation::FullNames, R::None, kLogin | steps({R::Cwd, R::DataPort, R::Nlst, R::Quit})},
    {FtpOperation::FullSystemType, R::None, kLogin | steps({R::Syst, R::Quit})},
    {FtpOperation::FullMakeDir, R::None, kLogin | steps({R::Cwd, R::Mkd, R::Quit})},
    {FtpOperation::FullRemoveDir, R::None, kLogin | steps({R::Cwd, R::Rmd, R::Quit})},
    {FtpOperation::FullDelete, R::None, kLogin | steps({R::Cwd, R::Dele, R::Quit})},
    {FtpOperation::FullRaw, R::None, kLogin | steps({R::Cwd, R::Raw, R::Quit})},
    {FtpOperation::FullRename, R::None, kLogin | steps({R::Cwd, R::Rnfr, R::Rnto, R::Quit})},
    {FtpOperation::FullSize, R::None, kLogin | steps({R::Cwd, R::Size, R::Quit})},
};

// FTPS: the login goes out only inside TLS (explicit: after AUTH TLS), and
// the data connections are protected after it.
constexpr std::uint32_t kProtSteps = steps({R::Pbsz, R::Prot});
constexpr std::uint32_t kTlsSteps = steps({R::AuthTls}) | kProtSteps;

// Keep-alives of the control connection: after 30 s of quiet, every 10 s.
constexpr unsigned kKeepAliveIdleMs = 30000;
constexpr unsigned kKeepAliveIntervalMs = 10000;

// A call handed from another thread to the owner thread.
struct OwnerCall {
    const std::function<void()>* fn = nullptr;
    std::exception_ptr error;
    bool ran = false;
    HANDLE done = nullptr;  // set by the owner when the call has run
};

std::string failureText(const std::exception& e)
{
    return *e.what() ? std::string(e.what()) : std::string("Unknown error.");
}

std::string winsockReply(int error)
{
    return std::string("500 ") + WinsockErrorText(error) + " (Winsock error #" +
           std::to_string(error) + ")";
}

bool codeAccepted(const RequestRow& row, int code)
{
    if (row.codes[0] == 0) return code < 500;
    for (int c : row.codes)
        if (c != 0 && c == code) return true;
    return false;
}

// The size of the local file named for a restart; -1 when it does not exist.
std::int64_t localFileSize(const std::string& path)
{
    WIN32_FIND_DATAA fd;
    const rt::OwnedFindHandle found(FindFirstFileA(path.c_str(), &fd));
    if (!found) return -1;
    return (std::int64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
}

} // namespace

const char* ftpStateName(FtpState value)
{
    // By value; 6 is not used.
    static constexpr const char* kNames[] = {"Offline", "Idle", "Stepping", "Resolving", "Online", "Aborting", "?", "AwaitGreeting", "AwaitReply"};
    const auto i = std::size_t(value);
    return i < std::size(kNames) ? kNames[i] : "?";
}

const char* ftpRequestName(FtpRequest r)
{
    switch (r) {
    case FtpRequest::None: return "None";
    case FtpRequest::Open: return "Open";
    case FtpRequest::DataPort: return "DataPort";
    case FtpRequest::Raw: return "Raw";
    case FtpRequest::HashProbe: return "HashProbe";
    case FtpRequest::Check: return "Check";
    case FtpRequest::Stat: return "STAT";
    case FtpRequest::Abor: return "ABOR";
    default: return rowOf(r).verb;
    }
}

// ---- construction ------------------------------------------------------------

FtpComponent::FtpComponent() : transfer_(*this, ctrl_)
{
    ownerThread_ = GetCurrentThreadId();
    window_.reset(createNotificationWindow());
    // The own procedure first, then the object: the class procedure must
    // never see this object in window long 0.
    SetWindowLongPtrA(window_.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ownerWindowProc<FtpComponent, &FtpComponent::handleMessage>));
    SetWindowLongPtrA(window_.get(), 0, reinterpret_cast<LONG_PTR>(this));
    finishedEvent_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));

    ctrl_.OnLookupDone = [this](int e) { guarded([&] { lookupDone(e); }); };
    ctrl_.OnConnectDone = [this](int e) { guarded([&] { connectDone(e); }); };
    ctrl_.OnDataReady = [this](int e) { guarded([&] { controlDataReady(e); }); };
    ctrl_.OnClosed = [this](int e) { guarded([&] { controlClosed(e); }); };
    // Every byte either way counts as progress of a synchronous wait.
    ctrl_.OnTraffic = [this] { moveDeadline(); };
}

FtpComponent::~FtpComponent()
{
    // No event may reach a component that is going away.
    ctrl_.ClearHooks();
    DataSocket().ClearHooks();
    ctrl_.CancelLookup();
    SetWindowLongPtrA(window_.get(), 0, 0);
}

LRESULT FtpComponent::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case kMsgRequestDone:
        if (OnRequestDone) OnRequestDone(FtpOperation(wParam), int(lParam));
        return 0;
    case kMsgStartSending:
        guarded([&] { transfer_.startSending(); });
        return 0;
    case kMsgNextAddress:
        guarded([&] { nextAddress(unsigned(wParam)); });
        return 0;
    case WM_TIMER:
        if (wParam == kAddressTimer) guarded([&] { nextAddress(0); });
        return 0;
    case kMsgRunOnOwner: {
        auto* call = reinterpret_cast<OwnerCall*>(lParam);
        call->ran = true;
        try {
            (*call->fn)();
        } catch (...) {
            call->error = std::current_exception();
        }
        SetEvent(call->done);
        return 0;
    }
    default:
        return DefWindowProcA(window_.get(), msg, wParam, lParam);
    }
}

void FtpComponent::runOnOwner(const std::function<void()>& fn)
{
    if (GetCurrentThreadId() == ownerThread_) {
        fn();
        return;
    }
    // Posted, not sent: every PeekMessage of the owner (a socket close purges
    // its events with one) would run a sent call at once, in the middle of
    // whatever handler is closing; a posted call runs only from the loop.
    OwnerCall call;
    call.fn = &fn;
    const rt::OwnedHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!done) throw FtpFailure("FTP component not ready");
    call.done = done.get();
    if (PostMessageA(window_.get(), kMsgRunOnOwner, 0, reinterpret_cast<LPARAM>(&call)))
        WaitForSingleObject(done.get(), INFINITE);
    if (call.error) std::rethrow_exception(call.error);
    if (!call.ran) throw FtpFailure("FTP component not ready");
}

// ---- shared fields ----------------------------------------------------------------

std::string FtpComponent::LastReply() const
{
    std::lock_guard<std::mutex> lock(textMutex_);
    return lastReply_;
}

std::string FtpComponent::FailText() const
{
    std::lock_guard<std::mutex> lock(textMutex_);
    return failText_;
}

std::string FtpComponent::QuotedDir() const
{
    std::lock_guard<std::mutex> lock(textMutex_);
    return quotedDir_;
}

std::vector<std::string> FtpComponent::ReplyLines() const
{
    std::lock_guard<std::mutex> lock(textMutex_);
    return replyLines_;
}

void FtpComponent::setState(FtpState s)
{
    const FtpState old = state_.exchange(s);
    if (old != s && OnStateChange) OnStateChange(old, s);
}

void FtpComponent::setReply(int code, const std::string& text)
{
    replyCode_ = code;
    setLastReply(text);
}

void FtpComponent::setLastReply(const std::string& text)
{
    std::lock_guard<std::mutex> lock(textMutex_);
    lastReply_ = text;
}

void FtpComponent::fillFailText()
{
    std::lock_guard<std::mutex> lock(textMutex_);
    if (failText_.empty()) failText_ = lastReply_;
}

void FtpComponent::setFailText(const std::string& text)
{
    std::lock_guard<std::mutex> lock(textMutex_);
    failText_ = text;
}

void FtpComponent::display(const std::string& text)
{
    if (OnDisplay) OnDisplay(text);
}

void FtpComponent::moveDeadline()
{
    deadline_ = GetTickCount() + DWORD(WaitSeconds > 0 ? WaitSeconds : 0) * 1000u;
}

void FtpComponent::allowSilence(std::uint32_t ms)
{
    const DWORD limit = DWORD(WaitSeconds > 0 ? WaitSeconds : 0) * 1000u;
    deadline_ = GetTickCount() + (ms > limit ? ms : limit);
}

bool FtpComponent::requestIs(FtpRequest r) const
{
    return machine_.request && machine_.request->request == r;
}

// ---- starting operations ------------------------------------------------------------

void FtpComponent::Start(FtpOperation op)
{
    runOnOwner([&] { startOnOwner(op); });
}

void FtpComponent::Cancel()
{
    runOnOwner([&] { cancelOnOwner(); });
}

void FtpComponent::startOnOwner(FtpOperation op)
{
    for (const OperationRow& o : kOperations) {
        if (o.op != op) continue;
        if (o.single != FtpRequest::None) return startSingle(op, o.single);
        return startSteps(op, o.steps);
    }
    throw FtpFailure("Unknown operation.");
}

void FtpComponent::startSingle(FtpOperation op, FtpRequest request)
{
    Machine& m = machine_;
    const int oldError = error_;
    const FtpOperation oldOperation = m.operation;
    const std::string oldFailText = FailText();
    m.operation = op;
    m.sequence = false;
    m.pending = 0;
    m.savedCode = -1;
    error_ = 0;
    setFailText("");
    try {
        startRequest(rowOf(request));
    } catch (...) {
        // The operation did not start: nothing it touched may change.
        error_ = oldError;
        m.operation = oldOperation;
        setFailText(oldFailText);
        throw;
    }
}

void FtpComponent::startSteps(FtpOperation op, std::uint32_t steps)
{
    Machine& m = machine_;
    if (connected_ && (steps & step(R::Open))) throw FtpFailure("FTP component already connected");
    const FtpState before = State();
    if (before != FtpState::Idle && before != FtpState::Stepping)
        throw FtpFailure("FTP component not ready");

    const std::string oldReply = LastReply();
    const int oldError = error_;
    const std::string oldFailText = FailText();
    m.savedReply = oldReply;
    setLastReply("");
    m.savedCode = -1;
    m.operation = op;
    error_ = 0;
    m.request = nullptr;
    m.finalError = 0;
    setFailText("");
    m.sequence = true;
    if (steps & step(R::Open)) {
        if (Tls == TlsMode::Explicit) steps |= kTlsSteps;
        if (Tls == TlsMode::Implicit) steps |= kProtSteps;
    }
    m.pending = steps;
    noteTlsFailure({});
    keepRestartOffset_ = op == FtpOperation::RestartPut || op == FtpOperation::FullRestartTransmit;
    if (!(steps & step(R::Rest))) restartOffset_ = 0;
    if (steps & step(R::Open)) {
        lookupFailed_ = false;
        socketError_ = 0;
    }
    try {
        runNextStep();
    } catch (...) {
        // The operation did not start.
        m.sequence = false;
        m.pending = 0;
        ctrl_.CancelLookup();
        setLastReply(oldReply);
        error_ = oldError;
        setFailText(oldFailText);
        setState(before);
        throw;
    }
}

// ---- the multi-step engine ------------------------------------------------------------

void FtpComponent::runNextStep()
{
    Machine& m = machine_;
    if (State() == FtpState::Aborting) {
        m.pending = 0;
        m.finalError = 426;
        setFailText("426 Operation aborted.");
    } else if (error_ != 0) {
        m.finalError = error_;
        if (requestIs(R::Rest) && keepRestartOffset_) transfer_.restRefused();
        m.pending = requestIs(R::Quit) ? 0 : (m.pending & step(R::Quit));
        // Without a control connection there is nothing to sign off from;
        // QUIT would write nothing and only wait for the time limit.
        if (!connected_) m.pending = 0;
    }

    if ((m.pending & step(R::Pass)) && requestIs(R::User) && ReplyCode() != 331) m.pending &= ~step(R::Pass);
    if ((m.pending & step(R::Cwd)) && HostDirName.empty()) m.pending &= ~step(R::Cwd);
    if (m.pending == 0) {
        endOperation(m.finalError);
        return;
    }
    const std::uint32_t next = m.pending & (~m.pending + 1);  // the lowest bit: the first in the table
    m.pending &= ~next;
    std::size_t index = 0;
    while ((1u << index) != next) ++index;
    const RequestRow& row = kRequests[index];
    if (row.request == R::Retr && !(requestIs(R::Rest) && ReplyCode() == 350)) restartOffset_ = 0;
    if (row.request == R::Stor && restartOffset_ > 0 && !(requestIs(R::Rest) && ReplyCode() == 350)) {
        // A server that did not take the offset would write the rest of the
        // file as the whole of it.
        transfer_.restRefused();
        m.pending = 0;
        endOperation(ReplyCode() > 0 && ReplyCode() != 350 ? ReplyCode() : 554);
        return;
    }
    if (row.request == R::Quit) {
        // The caller sees the reply of the step before the sign-off.
        m.savedReply = LastReply();
        m.savedCode = ReplyCode();
    }
    startRequest(row);
}

void FtpComponent::startRequest(const RequestRow& row)
{
    if (row.then == Then::Greeting) return stepOpen();
    if (row.then == Then::Transfer) return startTransfer(row);
    checkRequest(row.request);
    std::string command = commandText(row);
    if (row.then == Then::Handshake) tlsCredentials_ = std::make_shared<TlsCredentials>();
    setRequest(row);
    // REST without an offset to restart from is no request: it is done.
    if (row.arg == Arg::RestartOffset && restartOffset_ < 1) {
        restartOffset_ = 0;
        finishRequest(0);
        return;
    }
    sendRequest(command);
}

std::string FtpComponent::commandText(const RequestRow& row)
{
    const auto argument = [&](const std::string& text) {
        if (text.empty() && row.emptyRefusal) throw FtpFailure(row.emptyRefusal);
        return std::string(row.verb) + " " + text;
    };
    switch (row.arg) {
    case Arg::None: return row.verb;
    case Arg::User:
        if (UserName.empty()) throw FtpFailure(row.emptyRefusal);
        return userCommand(UserName, UseProxy == 1, Host, Port);
    case Arg::Password: return argument(Password);
    case Arg::HostDir: return argument(HostDirName);
    case Arg::Remote: return argument(RemotePath);
    case Arg::RemoteIfAny: return RemotePath.empty() ? std::string(row.verb) : argument(RemotePath);
    case Arg::NewName: return argument(LocalFileName);
    case Arg::Raw: return LocalFileName;
    case Arg::TransferType: return argument(std::string(1, TransferType));
    case Arg::RestartOffset:
        // Kept by the restart put operations, else the local file's size.
        if (!keepRestartOffset_) restartOffset_ = localFileSize(LocalFileName);
        return argument(std::to_string(restartOffset_));
    case Arg::DataPort: return transfer_.openPort(PassiveTransfers);
    case Arg::HashName: return argument(hashAlgorithmName(selecting_.algorithm));
    case Arg::ProbeVerb: return hashCommandVerb(probing_);
    }
    return row.verb;
}

void FtpComponent::startTransfer(const RequestRow& row)
{
    const bool check = row.request == R::Check;
    const bool upload = row.request == R::Stor || row.request == R::Appe || check;
    if (!Connected())
        throw FtpFailure(upload ? std::string("STOR/APPE: not connected") : row.verb + std::string(": not connected"));
    checkRequest(row.request);
    if (LocalFileName.empty()) throw FtpFailure("LocalFileName empty");
    setRequest(row);
    TransferOrder order;
    order.upload = upload;
    order.command = row.arg == Arg::RemoteIfAny && RemotePath.empty() ? std::string(row.verb)
                                                                      : row.verb + (" " + RemotePath);
    order.localFile = LocalFileName;
    order.remoteName = RemotePath;
    order.verify = row.request == R::Stor || check;
    order.offset = restartOffset_;
    order.passive = PassiveTransfers;
    order.tls = Tls != TlsMode::None;
    if (order.verify) order.hash = hashMethod_;
    order.checkOnly = check;
    order.again = AttemptAgain;
    transfer_.begin(order);
}

void FtpComponent::finishRequest(int error)
{
    Machine& m = machine_;
    if (m.done) return;
    m.done = true;
    error_ = error;
    if (error != 0) fillFailText();
    if (!m.sequence) {
        endOperation(error);
        return;
    }
    // A failed step still goes through the step choice, which keeps a
    // pending sign-off.
    if (State() != FtpState::Aborting) setState(FtpState::Stepping);
    runNextStep();
}

void FtpComponent::endOperation(int error)
{
    Machine& m = machine_;
    error_ = error;
    if (error != 0) fillFailText();
    setState(FtpState::Idle);
    transfer_.abandon();
    if (m.sequence && m.savedCode >= 0) setReply(m.savedCode, m.savedReply);
    m.sequence = false;
    PostMessageA(window_.get(), kMsgRequestDone, WPARAM(m.operation), LPARAM(error));
    // Published last: a waiting thread reads the fields above once it sees
    // the count move.
    ++finishCount_;
    SetEvent(finishedEvent_.get());
}

void FtpComponent::guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        failInsideEvent(failureText(e));
    } catch (...) {
        failInsideEvent("Unknown error.");
    }
}

void FtpComponent::failInsideEvent(const std::string& text)
{
    // A failure thrown while the operation runs on events has no caller to
    // take it: the current request fails with it instead.
    setReply(500, "500 " + text);
    if (machine_.done && !machine_.sequence) return;  // nothing is running any more
    machine_.done = false;
    try {
        finishRequest(500);
    } catch (const std::exception& e) {
        // The step chosen next failed as well: end the operation here.
        setReply(500, "500 " + failureText(e));
        machine_.pending = 0;
        endOperation(500);
    }
}

// ---- what the transfer asks of the control side -----------------------------------

void FtpComponent::sendForTransfer(const std::string& command)
{
    sendRequest(command);
}

void FtpComponent::awaitReply()
{
    setState(FtpState::AwaitReply);
}

void FtpComponent::transferEnded(int error, int code, const std::string& text)
{
    if (!transfer_.Mismatch().empty()) {
        std::lock_guard<std::mutex> lock(textMutex_);
        mismatch_ = transfer_.Mismatch();
    }
    if (code > 0) setReply(code, text);
    if (error != 0) fillFailText();
    restartOffset_ = 0;
    finishRequest(error);
}

bool FtpComponent::progressAsksStop(std::int64_t bytes)
{
    moveDeadline();
    return OnProgress && OnProgress(bytes);
}

// ---- Open: lookup, connect, greeting ------------------------------------------------

void FtpComponent::stepOpen()
{
    const FtpState s = State();
    if (s != FtpState::Idle && s != FtpState::Stepping) throw FtpFailure("FTP component not ready");
    if (connected_) throw FtpFailure("FTP component already connected");
    input_.clear();
    openReply_.clear();
    error_ = 0;
    utf8Names_ = false;  // a new connection speaks the code page until told otherwise
    features_ = {};
    hashMethod_ = {};
    hashLearnt_ = false;
    open_.addresses.clear();
    open_.next = 0;
    open_.dropping = false;
    setRequest(rowOf(R::Open));
    setState(FtpState::Resolving);
    ctrl_.LookupHost(UseProxy == 1 ? ProxyHost : Host);
}

void FtpComponent::lookupDone(int error)
{
    if (State() != FtpState::Resolving) return;
    if (error != 0) {
        lookupFailed_ = true;
        socketError_ = error;
        setReply(500, winsockReply(error));
        finishRequest(500);
        return;
    }
    open_.addresses = ctrl_.AddressList();
    open_.next = 0;
    connectNextAddress();
}

// Each address of the lookup in turn (IPv6 and IPv4, in the order the
// system prefers) until one connects; the last one's failure is the
// step's. An attempt with addresses after it gets kAddressAttemptMs, so that
// an address that swallows the connect (a broken IPv6 route) does not use
// up the whole wait.
void FtpComponent::connectNextAddress()
{
    KillTimer(window_.get(), kAddressTimer);
    open_.dropping = false;
    while (open_.next < open_.addresses.size()) {
        const std::string address = open_.addresses[open_.next++];
        ++open_.attempt;
        try {
            ctrl_.SetAddr(address);
            ctrl_.SetProto("tcp");
            ctrl_.SetPort(UseProxy == 1 && !ProxyPort.empty() ? ProxyPort : Port);
            setState(FtpState::AwaitGreeting);
            ctrl_.Connect();
            // A new attempt is progress of the wait.
            moveDeadline();
            if (open_.next < open_.addresses.size())
                SetTimer(window_.get(), kAddressTimer, kAddressAttemptMs, nullptr);
            return;
        } catch (const FtpFailure& e) {
            socketError_ = e.code();
            refusedAtStart_ = e.code() == 0;  // a refusal of the settings, not of the network
            open_.failure = "500 " + failureText(e);
        } catch (const std::exception& e) {
            refusedAtStart_ = true;
            open_.failure = "500 " + failureText(e);
        }
    }
    setReply(500, open_.failure);
    finishRequest(500);
}

void FtpComponent::connectDone(int error)
{
    KillTimer(window_.get(), kAddressTimer);
    if (error == 0) {
        connected_ = true;
        // Routers forget a connection that is quiet for a few minutes, as the
        // control connection is during a long upload.
        if (!ctrl_.KeepAlive(kKeepAliveIdleMs, kKeepAliveIntervalMs)) display("! Keep-alive times not set");
        if (Tls == TlsMode::Implicit) startImplicitTls();
        return;
    }
    socketError_ = error;
    if (open_.next < open_.addresses.size()) {
        // The socket closes this attempt when the hook returns (a close
        // that finishes nothing); the next starts from the message loop.
        open_.failure = winsockReply(error);
        open_.dropping = true;
        PostMessageA(window_.get(), kMsgNextAddress, WPARAM(open_.attempt), 0);
        return;
    }
    setReply(500, winsockReply(error));
    machine_.sequence = false;
    machine_.pending = 0;
    finishRequest(500);
    ctrl_.Close();
    setState(FtpState::Idle);
}

// Message kMsgNextAddress, or the attempt's time ran out (attempt 0: the
// timer, which always means the attempt in progress).
void FtpComponent::nextAddress(unsigned attempt)
{
    KillTimer(window_.get(), kAddressTimer);
    if (State() != FtpState::AwaitGreeting || connected_) return;
    if (attempt != 0 && (attempt != open_.attempt || !open_.dropping)) return;
    if (attempt == 0) open_.failure = winsockReply(WSAETIMEDOUT);
    open_.dropping = true;
    if (ctrl_.State() != SocketState::Closed) ctrl_.Close();
    connectNextAddress();
}

void FtpComponent::greetingLine(int code)
{
    if (code != 220) {
        error_ = code;
        fillFailText();
        ctrl_.Close();  // the close finishes the request
        return;
    }
    setState(FtpState::Online);
    if (OnConnected) OnConnected();
    finishRequest(0);
}

// ---- reading replies ------------------------------------------------------------------

void FtpComponent::controlDataReady(int)
{
    const int n = ctrl_.Read(input_.freeSpace(), input_.freeSize());
    if (n == 0) {
        ctrl_.Close();
        return;
    }
    if (n < 0) return;
    input_.commit(n);
    std::string line;
    while (input_.nextLine(line)) {
        setLastReply(line);
        if (OnRawLine) OnRawLine(line);
        handleLine(line);
        if (ctrl_.State() != SocketState::Connected) {
            // Whatever follows a close belongs to no request.
            input_.clear();
            break;
        }
    }
}

void FtpComponent::handleLine(const std::string& line)
{
    display("< " + line);
    // Every line goes through the reader, whatever the state, so that a
    // reply arriving between requests cannot leave it out of step.
    const ReplyStep part = readReplyLine(openReply_, line);
    openReply_ = part.openCode;
    if (part.part == ReplyPart::Ignored) return;
    const FtpState s = State();
    if (s == FtpState::AwaitGreeting || s == FtpState::AwaitReply) replyCode_ = part.code;
    if (s == FtpState::AwaitReply) {
        // Every line of the reply is kept for callers that read more than
        // its last line (FEAT).
        std::lock_guard<std::mutex> lock(textMutex_);
        replyLines_.push_back(line);
    }
    if (part.part != ReplyPart::Final) return;
    // 421 closes the control connection, as a reply to anything or unasked
    // (an idle server). It counts as gone before the reply finishes the
    // request, so no step after it is tried and the caller sees it gone.
    const bool closing = part.code == 421 && connected_;
    if (closing) connected_ = false;
    if (s == FtpState::AwaitGreeting) {
        greetingLine(part.code);
    } else if (s == FtpState::AwaitReply) {
        const RequestRow* row = machine_.request;
        if (!row || row->then == Then::Greeting) throw FtpFailure("Program error: m_Next is NULL");
        if (row->then == Then::Transfer)
            transfer_.reply(part.code, line);
        else if (row->then == Then::Handshake)
            authTlsReply(part.code);
        else
            ordinaryReply(part.code, line);
    }
    if (closing) {
        if (ctrl_.State() != SocketState::Closed) ctrl_.Close();
        if (OnConnectionClosed) OnConnectionClosed();
    }
}

void FtpComponent::ordinaryReply(int code, const std::string& line)
{
    const RequestRow& row = *machine_.request;
    // 229 answers EPSV only; PASV and PORT stay as they always were.
    const bool accepted = codeAccepted(row, code) && (code != 229 || transfer_.Extended());
    const int error = accepted ? 0 : code;
    error_ = error;
    if (error != 0) fillFailText();
    if (PassiveTransfers && (code == 227 || code == 229)) transfer_.keepPassiveReply(line);
    if (error == 0) {
        if (row.keeps == Keeps::Size) {
            reportedSize_ = sizeInReply(line).value_or(-1);
        } else if (row.keeps == Keeps::QuotedDir) {
            std::lock_guard<std::mutex> lock(textMutex_);
            quotedDir_ = quotedDirectory(line);
        }
        if (row.then == Then::CloseControl) {
            ctrl_.Close();  // the close finishes the request
            return;
        }
    }
    finishRequest(error);
}

void FtpComponent::controlClosed(int)
{
    // An address of the Open step that did not connect, closed to try the next.
    if (open_.dropping) return;
    const FtpState before = State();
    if (connected_) {
        connected_ = false;
        if (before != FtpState::Aborting) setState(FtpState::Offline);
        if (OnConnectionClosed) OnConnectionClosed();
    }
    if (State() != FtpState::Aborting) setState(FtpState::Stepping);
    if (machine_.done) return;
    // An upload's data may still go on; the transfer ends the request.
    if (machine_.request && machine_.request->then == Then::Transfer && before != FtpState::Aborting) {
        transfer_.controlLost();
        return;
    }
    // A reply that never came is no success: only the sign-off expects the
    // server to close.
    const bool awaiting = before == FtpState::AwaitGreeting || before == FtpState::AwaitReply;
    if (awaiting && error_ == 0 && !requestIs(R::Quit)) {
        setReply(426, "426 Connection closed by server.");
        finishRequest(426);
        return;
    }
    finishRequest(error_);
}

// ---- requests -------------------------------------------------------------------------

void FtpComponent::checkRequest(FtpRequest kind)
{
    if (kind == R::Quit || kind == R::Stat || kind == R::Abor) return;
    const FtpState s = State();
    if (s != FtpState::Idle && s != FtpState::Stepping) throw FtpFailure("FTP component not ready");
    if (!connected_) throw FtpFailure("FTP component not connected");
}

void FtpComponent::setRequest(const RequestRow& row)
{
    machine_.request = &row;
    machine_.done = false;
    std::lock_guard<std::mutex> lock(textMutex_);
    replyLines_.clear();
}

void FtpComponent::sendRequest(const std::string& command)
{
    if (hasLineBreakOrNul(command))
        throw FtpFailure("Command refused: it contains a line break or NUL character.");
    setState(FtpState::AwaitReply);
    sendCommand(command);
}

void FtpComponent::sendCommand(const std::string& command)
{
    if (hasLineBreakOrNul(command))
        throw FtpFailure("Command refused: it contains a line break or NUL character.");
    display("> " + command);
    if (OnCommand) OnCommand(command);
    if (ctrl_.State() != SocketState::Connected) return;
    const std::string wire = command + "\r\n";
    ctrl_.Send(wire.data(), int(wire.size()));
}

void FtpComponent::AfterLogin()
{
    utf8Names_ = false;
    features_ = {};
    hashMethod_ = {};
    hashLearnt_ = false;
    if (!Run(FtpOperation::Features)) return;
    features_ = featuresOf(ReplyLines());
    if (!features_.utf8) return;
    // The answer does not decide: pyftpdlib refuses the option while it
    // speaks UTF-8 all along.
    Run(FtpOperation::Utf8On);
    utf8Names_ = true;
}

void FtpComponent::LearnHashCheck()
{
    if (hashLearnt_ || !Connected()) return;
    hashLearnt_ = true;
    HashMethod method = chooseHashMethod(features_);
    if (method.command == HashCommand::Hash && method.selectFirst) {
        selecting_ = method;
        if (!Run(FtpOperation::SelectHash)) {
            // HASH then gives its own default, which may still do.
            ServerFeatures f = features_;
            f.hashAlgorithms.assign(1, f.hashSelected);
            method = chooseHashMethod(f);
        }
    } else if (method.command == HashCommand::None && !listsHashCommand(features_)) {
        // What a server answers does not change from one of its connections
        // to the next: a server is asked only until one asking went through.
        const std::string server = (UseProxy == 1 ? ProxyHost + ":" + ProxyPort + "/" : std::string()) + Host +
                                   ":" + Port + "/" + UserName;
        if (probedServer_ == server) {
            method = probedMethod_;
        } else {
            bool through = true;
            for (HashCommand x : {HashCommand::XSha256, HashCommand::XSha1, HashCommand::XMd5, HashCommand::XCrc}) {
                probing_ = x;
                Run(FtpOperation::ProbeHash);
                if (!Connected()) {
                    through = false;
                    break;
                }
                if (probeFindsCommand(ReplyCode())) {
                    method = methodOfCommand(x);
                    break;
                }
            }
            if (through) {
                probedServer_ = server;
                probedMethod_ = method;
            }
        }
    }
    hashMethod_ = Connected() ? method : HashMethod{};
}

AttemptRecord FtpComponent::Attempts()
{
    AttemptRecord r;
    runOnOwner([&] { r = transfer_.Attempts(); });
    return r;
}

bool FtpComponent::AttemptsAreFor(const std::string& localFile, const std::string& remoteName)
{
    const FileIdentity file = identityOf(localFile);
    bool same = false;
    runOnOwner([&] { same = transfer_.AttemptsAreFor(file, remoteName); });
    return same;
}

void FtpComponent::ForgetAttempts()
{
    runOnOwner([&] { transfer_.ForgetAttempts(); });
}

std::string FtpComponent::UploadMismatch() const
{
    std::lock_guard<std::mutex> lock(textMutex_);
    return mismatch_;
}

void FtpComponent::ClearUploadMismatch()
{
    std::lock_guard<std::mutex> lock(textMutex_);
    mismatch_.clear();
}

SignOnOutcome FtpComponent::SignOnFacts() const
{
    SignOnOutcome o;
    o.refused = refusedAtStart_;
    o.lookupFailed = lookupFailed_;
    o.socketError = socketError_;
    o.code = ReplyCode();
    o.reply = LastReply();
    o.tls = LastTlsFailure().problem;
    return o;
}

// ---- waiting and cancel ------------------------------------------------------------------

void FtpComponent::pump()
{
    if (PumpReplacement)
        PumpReplacement();
    else
        ctrl_.PumpMessages();
}

bool FtpComponent::Run(FtpOperation op)
{
    const unsigned before = finishCount_.load();
    refusedAtStart_ = false;
    try {
        Start(op);
    } catch (...) {
        refusedAtStart_ = true;
        return false;
    }
    moveDeadline();
    HANDLE finished = finishedEvent_.get();
    for (;;) {
        if (finishCount_.load() != before) return error_.load() == 0;
        if (Terminated()) break;
        DWORD wait = 50;
        if (WaitSeconds > 0) {
            const LONG left = LONG(deadline_.load() - GetTickCount());
            if (left <= 0) break;
            if (DWORD(left) < wait) wait = DWORD(left);
        }
        pump();
        // Wakes at once when the operation ends or a message arrives.
        MsgWaitForMultipleObjectsEx(1, &finished, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    try {
        Cancel();
    } catch (...) {
    }
    setFailText("426 Timeout");
    setReply(426, "426 Timeout");
    return false;
}

void FtpComponent::cancelOnOwner()
{
    Machine& m = machine_;
    const FtpState before = State();
    // A request cut off here has failed, whoever waits for it.
    if (!m.done) error_ = 426;
    setState(FtpState::Aborting);
    if (before == FtpState::Resolving) ctrl_.CancelLookup();
    KillTimer(window_.get(), kAddressTimer);
    open_.addresses.clear();
    open_.next = 0;
    open_.dropping = false;
    if (ctrl_.State() != SocketState::Closed) ctrl_.Close();
    transfer_.abandon();
    if (!m.done) {
        m.done = true;
        m.sequence = false;
        m.pending = 0;
        endOperation(426);
    }
    connected_ = false;
    setState(FtpState::Idle);
}

} // namespace ftp
