// The control side of FtpComponent: its window, the Open step with lookup,
// connect and greeting, the reply reader, the requests, the multi-step
// engine, the synchronous wait and cancel. The data side (DataPort and the
// transfer steps) is in ftp_transfer.cpp.
#include "ftp/ftp_component.h"

#include <exception>

#include "ftp/name_encoding.h"
#include "ftp/winsock_errors.h"

namespace ftp {
namespace {

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

struct OperationSteps {
    FtpOperation op;
    std::uint32_t steps;
};

constexpr std::uint32_t kLogin = StepOpen | StepUser | StepPass;

constexpr OperationSteps kOperations[] = {
    {FtpOperation::SignOn, kLogin},
    {FtpOperation::GetFile, StepDataPort | StepRetr},
    {FtpOperation::PutFile, StepDataPort | StepStor},
    {FtpOperation::AppendFile, StepDataPort | StepAppe},
    {FtpOperation::ListToFile, StepDataPort | StepList},
    {FtpOperation::NamesToFile, StepDataPort | StepNlst},
    {FtpOperation::Rename, StepRnfr | StepRnto},
    {FtpOperation::RestartGet, StepRest | StepDataPort | StepRetr},
    {FtpOperation::RestartPut, StepRest | StepDataPort | StepStor},
    {FtpOperation::FullReceive, kLogin | StepCwd | StepType | StepDataPort | StepRetr | StepQuit},
    {FtpOperation::FullRestartReceive,
     kLogin | StepCwd | StepType | StepRest | StepDataPort | StepRetr | StepQuit},
    {FtpOperation::FullTransmit, kLogin | StepCwd | StepType | StepDataPort | StepStor | StepQuit},
    {FtpOperation::FullRestartTransmit,
     kLogin | StepCwd | StepType | StepRest | StepDataPort | StepStor | StepQuit},
    {FtpOperation::FullAppend, kLogin | StepCwd | StepType | StepDataPort | StepAppe | StepQuit},
    {FtpOperation::FullList, kLogin | StepCwd | StepDataPort | StepList | StepQuit},
    {FtpOperation::FullNames, kLogin | StepCwd | StepDataPort | StepNlst | StepQuit},
    {FtpOperation::FullSystemType, kLogin | StepSyst | StepQuit},
    {FtpOperation::FullMakeDir, kLogin | StepCwd | StepMkd | StepQuit},
    {FtpOperation::FullRemoveDir, kLogin | StepCwd | StepRmd | StepQuit},
    {FtpOperation::FullDelete, kLogin | StepCwd | StepDele | StepQuit},
    {FtpOperation::FullRaw, kLogin | StepCwd | StepRaw | StepQuit},
    {FtpOperation::FullRename, kLogin | StepCwd | StepRnfr | StepRnto | StepQuit},
    {FtpOperation::FullSize, kLogin | StepCwd | StepSize | StepQuit},
};

// The order in which pending steps run.
constexpr std::uint32_t kStepOrder[] = {
    StepOpen, StepAuthTls, StepUser, StepPass, StepPbsz, StepProt, StepCwd, StepCdup, StepType,
    StepDataPort, StepRest, StepRetr, StepStor, StepAppe, StepList, StepNlst, StepSyst, StepMkd,
    StepRmd, StepRnfr, StepRnto, StepSize, StepDele, StepPwd, StepRaw, StepQuit,
};

std::uint32_t firstPendingStep(std::uint32_t pending)
{
    for (std::uint32_t step : kStepOrder)
        if (pending & step) return step;
    return 0;
}

} // namespace

const char* ftpStateName(FtpState s)
{
    switch (s) {
    case FtpState::Offline: return "Offline";
    case FtpState::Idle: return "Idle";
    case FtpState::Stepping: return "Stepping";
    case FtpState::Resolving: return "Resolving";
    case FtpState::Online: return "Online";
    case FtpState::Aborting: return "Aborting";
    case FtpState::AwaitGreeting: return "AwaitGreeting";
    case FtpState::AwaitReply: return "AwaitReply";
    }
    return "?";
}

// ---- construction ------------------------------------------------------------

FtpComponent::FtpComponent()
{
    ownerThread_ = GetCurrentThreadId();
    window_ = createNotificationWindow();
    // The own procedure first, then the object: the class procedure must
    // never see this object in window long 0.
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FtpComponent::windowProc));
    SetWindowLongPtrA(window_, 0, reinterpret_cast<LONG_PTR>(this));
    finishedEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);

    ctrl_.OnLookupDone = [this](int e) { guarded([&] { lookupDone(e); }); };
    ctrl_.OnConnectDone = [this](int e) { guarded([&] { connectDone(e); }); };
    ctrl_.OnDataReady = [this](int e) { guarded([&] { controlDataReady(e); }); };
    ctrl_.OnClosed = [this](int e) { guarded([&] { controlClosed(e); }); };
    // Every byte either way counts as progress of a synchronous wait.
    ctrl_.OnTraffic = [this] { moveDeadline(); };
    data_.OnTraffic = [this] {
        moveDeadline();
        if (dataConnected_ && (request_ == FtpRequest::Stor || request_ == FtpRequest::Appe))
            fitSendBuffer();
    };
}

FtpComponent::~FtpComponent()
{
    // No event may reach a component that is going away.
    ctrl_.ClearHooks();
    data_.ClearHooks();
    ctrl_.CancelLookup();
    closeLocalFile();
    if (window_) {
        SetWindowLongPtrA(window_, 0, 0);
        DestroyWindow(window_);
    }
    if (finishedEvent_) CloseHandle(finishedEvent_);
}

LRESULT CALLBACK FtpComponent::windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<FtpComponent*>(GetWindowLongPtrA(hwnd, 0));
    if (!self) return DefWindowProcA(hwnd, msg, wParam, lParam);
    // Nothing may unwind through the system's dispatch code.
    try {
        return self->handleMessage(msg, wParam, lParam);
    } catch (const std::exception& e) {
        OutputDebugStringA(e.what());
    } catch (...) {
    }
    return 0;
}

LRESULT FtpComponent::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case kMsgRequestDone:
        if (OnRequestDone) OnRequestDone(FtpOperation(wParam), int(lParam));
        return 0;
    case kMsgStartSending:
        guarded([&] { startSending(); });
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
        return DefWindowProcA(window_, msg, wParam, lParam);
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
    call.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!call.done) throw FtpFailure("FTP component not ready");
    if (PostMessageA(window_, kMsgRunOnOwner, 0, reinterpret_cast<LPARAM>(&call)))
        WaitForSingleObject(call.done, INFINITE);
    CloseHandle(call.done);
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

bool FtpComponent::codeExpected(int code) const
{
    if (expectedCodes_.empty()) return code < 500;
    for (int c : expectedCodes_)
        if (c == code) return true;
    return false;
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
    for (const OperationSteps& o : kOperations) {
        if (o.op == op) {
            startSteps(op, o.steps);
            return;
        }
    }
    startSingle(op);
}

void FtpComponent::startSingle(FtpOperation op)
{
    void (FtpComponent::*request)() = nullptr;
    switch (op) {
    case FtpOperation::ChangeDir: request = &FtpComponent::requestCwd; break;
    case FtpOperation::PrintDir: request = &FtpComponent::requestPwd; break;
    case FtpOperation::MakeDir: request = &FtpComponent::requestMkd; break;
    case FtpOperation::RemoveDir: request = &FtpComponent::requestRmd; break;
    case FtpOperation::Delete: request = &FtpComponent::requestDele; break;
    case FtpOperation::Size: request = &FtpComponent::requestSize; break;
    case FtpOperation::TransferType: request = &FtpComponent::requestType; break;
    case FtpOperation::SignOff: request = &FtpComponent::requestQuit; break;
    case FtpOperation::Features: request = &FtpComponent::requestFeat; break;
    case FtpOperation::Utf8On: request = &FtpComponent::requestOptsUtf8; break;
    default: throw FtpFailure("Unknown operation.");
    }
    const int oldError = error_;
    const FtpOperation oldOperation = operation_;
    const std::string oldFailText = FailText();
    operation_ = op;
    sequence_ = false;
    pendingSteps_ = 0;
    savedCode_ = -1;
    error_ = 0;
    setFailText("");
    try {
        (this->*request)();
    } catch (...) {
        // The operation did not start: nothing it touched may change.
        error_ = oldError;
        operation_ = oldOperation;
        setFailText(oldFailText);
        throw;
    }
}

void FtpComponent::startSteps(FtpOperation op, std::uint32_t steps)
{
    if (connected_ && (steps & StepOpen)) throw FtpFailure("FTP component already connected");
    const FtpState before = State();
    if (before != FtpState::Idle && before != FtpState::Stepping)
        throw FtpFailure("FTP component not ready");

    const std::string oldReply = LastReply();
    const int oldError = error_;
    const std::string oldFailText = FailText();
    savedReply_ = oldReply;
    setLastReply("");
    savedCode_ = -1;
    operation_ = op;
    error_ = 0;
    request_ = FtpRequest::None;
    finalError_ = 0;
    setFailText("");
    sequence_ = true;
    // Explicit FTPS: the login goes out only inside TLS.
    if (UseTls && (steps & StepOpen)) steps |= StepAuthTls | StepPbsz | StepProt;
    pendingSteps_ = steps;
    noteTlsFailure({});
    keepRestartOffset_ = op == FtpOperation::RestartPut || op == FtpOperation::FullRestartTransmit;
    try {
        runNextStep();
    } catch (...) {
        // The operation did not start.
        sequence_ = false;
        pendingSteps_ = 0;
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
    if (State() == FtpState::Aborting) {
        pendingSteps_ = 0;
        finalError_ = 426;
        setFailText("426 Operation aborted.");
    } else if (error_ != 0) {
        finalError_ = error_;
        pendingSteps_ = request_ == FtpRequest::Quit ? 0 : (pendingSteps_ & StepQuit);
        // Without a control connection there is nothing to sign off from;
        // QUIT would write nothing and only wait for the time limit.
        if (!connected_) pendingSteps_ = 0;
    }

    if ((pendingSteps_ & StepPass) && request_ == FtpRequest::User && ReplyCode() != 331)
        pendingSteps_ &= ~std::uint32_t(StepPass);
    if ((pendingSteps_ & StepCwd) && HostDirName.empty())
        pendingSteps_ &= ~std::uint32_t(StepCwd);
    if (pendingSteps_ == 0) {
        endOperation(finalError_);
        return;
    }
    const std::uint32_t step = firstPendingStep(pendingSteps_);
    pendingSteps_ &= ~step;
    if (step == StepRetr && !(request_ == FtpRequest::Rest && ReplyCode() == 350))
        restartOffset_ = 0;
    if (step == StepQuit) {
        // The caller sees the reply of the step before the sign-off.
        savedReply_ = LastReply();
        savedCode_ = ReplyCode();
    }
    runStep(step);
}

void FtpComponent::runStep(std::uint32_t step)
{
    switch (step) {
    case StepOpen: stepOpen(); break;
    case StepUser: requestUser(); break;
    case StepPass: requestPass(); break;
    case StepCwd: requestCwd(); break;
    case StepCdup: requestCdup(); break;
    case StepType: requestType(); break;
    case StepDataPort: stepDataPort(); break;
    case StepRest: requestRest(); break;
    case StepRetr: stepRetr(); break;
    case StepStor: stepStor(); break;
    case StepAppe: stepAppe(); break;
    case StepList: stepList(); break;
    case StepNlst: stepNlst(); break;
    case StepSyst: requestSyst(); break;
    case StepMkd: requestMkd(); break;
    case StepRmd: requestRmd(); break;
    case StepRnfr: requestRnfr(); break;
    case StepRnto: requestRnto(); break;
    case StepSize: requestSize(); break;
    case StepDele: requestDele(); break;
    case StepPwd: requestPwd(); break;
    case StepRaw: requestRaw(); break;
    case StepQuit: requestQuit(); break;
    case StepAuthTls: requestAuthTls(); break;
    case StepPbsz: requestPbsz(); break;
    case StepProt: requestProt(); break;
    default: break;
    }
}

void FtpComponent::finishRequest(int error)
{
    if (done_) return;
    done_ = true;
    error_ = error;
    if (error != 0) fillFailText();
    if (!sequence_) {
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
    error_ = error;
    if (error != 0) fillFailText();
    setState(FtpState::Idle);
    if (data_.State() != SocketState::Closed) data_.Close();
    if (sequence_ && savedCode_ >= 0) setReply(savedCode_, savedReply_);
    sequence_ = false;
    PostMessageA(window_, kMsgRequestDone, WPARAM(operation_), LPARAM(error));
    // Published last: a waiting thread reads the fields above once it sees
    // the count move.
    ++finishCount_;
    SetEvent(finishedEvent_);
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
    if (done_ && !sequence_) return;  // nothing is running any more
    done_ = false;
    try {
        finishRequest(500);
    } catch (const std::exception& e) {
        // The step chosen next failed as well: end the operation here.
        setReply(500, "500 " + failureText(e));
        pendingSteps_ = 0;
        endOperation(500);
    }
}

// ---- Open: lookup, connect, greeting ------------------------------------------------

void FtpComponent::stepOpen()
{
    const FtpState s = State();
    if (s != FtpState::Idle && s != FtpState::Stepping) throw FtpFailure("FTP component not ready");
    if (connected_) throw FtpFailure("FTP component already connected");
    done_ = false;
    input_.clear();
    openReply_.clear();
    error_ = 0;
    utf8Names_ = false;  // a new connection speaks the code page until told otherwise
    request_ = FtpRequest::Open;
    replyHandler_ = nullptr;
    setState(FtpState::Resolving);
    ctrl_.LookupHost(UseProxy == 1 ? ProxyHost : Host);
}

void FtpComponent::lookupDone(int error)
{
    if (State() != FtpState::Resolving) return;
    if (error != 0) {
        setReply(500, winsockReply(error));
        finishRequest(500);
        return;
    }
    try {
        ctrl_.SetAddr(ctrl_.LookupResult());
        ctrl_.SetProto("tcp");
        ctrl_.SetPort(UseProxy == 1 && !ProxyPort.empty() ? ProxyPort : Port);
        setState(FtpState::AwaitGreeting);
        ctrl_.Connect();
    } catch (const std::exception& e) {
        setReply(500, "500 " + failureText(e));
        finishRequest(500);
    }
}

void FtpComponent::connectDone(int error)
{
    if (error != 0) {
        setReply(500, winsockReply(error));
        sequence_ = false;
        pendingSteps_ = 0;
        finishRequest(500);
        ctrl_.Close();
        setState(FtpState::Idle);
        return;
    }
    connected_ = true;
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
    const ReplyStep step = readReplyLine(openReply_, line);
    openReply_ = step.openCode;
    if (step.part == ReplyPart::Ignored) return;
    const FtpState s = State();
    if (s == FtpState::AwaitGreeting || s == FtpState::AwaitReply) replyCode_ = step.code;
    if (s == FtpState::AwaitReply) {
        // Every line of the reply is kept for callers that read more than
        // its last line (FEAT).
        std::lock_guard<std::mutex> lock(textMutex_);
        replyLines_.push_back(line);
    }
    if (step.part != ReplyPart::Final) return;
    // 421 closes the control connection, as a reply to anything or unasked
    // (an idle server). It counts as gone before the reply finishes the
    // request, so no step after it is tried and the caller sees it gone.
    const bool closing = step.code == 421 && connected_;
    if (closing) connected_ = false;
    switch (s) {
    case FtpState::AwaitGreeting:
        greetingLine(step.code);
        break;
    case FtpState::AwaitReply:
        if (!replyHandler_) throw FtpFailure("Program error: m_Next is NULL");
        (this->*replyHandler_)(step.code, line);
        break;
    default:
        break;
    }
    if (closing) {
        if (ctrl_.State() != SocketState::Closed) ctrl_.Close();
        if (OnConnectionClosed) OnConnectionClosed();
    }
}

void FtpComponent::controlClosed(int)
{
    const FtpState before = State();
    if (connected_) {
        connected_ = false;
        if (before != FtpState::Aborting) setState(FtpState::Offline);
        if (OnConnectionClosed) OnConnectionClosed();
    }
    if (State() != FtpState::Aborting) setState(FtpState::Stepping);
    if (done_) return;
    // A reply that never came is no success: only the sign-off expects the
    // server to close.
    const bool awaiting = before == FtpState::AwaitGreeting || before == FtpState::AwaitReply;
    if (awaiting && error_ == 0 && request_ != FtpRequest::Quit) {
        setReply(426, "426 Connection closed by server.");
        finishRequest(426);
        return;
    }
    finishRequest(error_);
}

// ---- requests -------------------------------------------------------------------------

void FtpComponent::checkRequest(FtpRequest kind)
{
    if (kind == FtpRequest::Quit || kind == FtpRequest::Stat || kind == FtpRequest::Abor) return;
    const FtpState s = State();
    if (s != FtpState::Idle && s != FtpState::Stepping) throw FtpFailure("FTP component not ready");
    if (!connected_) throw FtpFailure("FTP component not connected");
}

void FtpComponent::setRequest(FtpRequest kind, std::vector<int> codes, ReplyHandler handler)
{
    request_ = kind;
    expectedCodes_ = std::move(codes);
    replyHandler_ = handler;
    done_ = false;
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

void FtpComponent::requestUser()
{
    checkRequest(FtpRequest::User);
    if (UserName.empty()) throw FtpFailure("UserName emtpy");
    const std::string cmd = userCommand(UserName, UseProxy == 1, Host, Port);
    setRequest(FtpRequest::User, {331, 230});
    sendRequest(cmd);
}

void FtpComponent::requestPass()
{
    checkRequest(FtpRequest::Pass);
    if (Password.empty()) throw FtpFailure("Password emtpy");
    setRequest(FtpRequest::Pass, {230});
    sendRequest("PASS " + Password);
}

void FtpComponent::requestCwd()
{
    checkRequest(FtpRequest::Cwd);
    if (HostDirName.empty()) throw FtpFailure("HostDirName emtpy");
    setRequest(FtpRequest::Cwd, {200, 250, 257});
    sendRequest("CWD " + HostDirName);
}

void FtpComponent::requestSize()
{
    checkRequest(FtpRequest::Size);
    setRequest(FtpRequest::Size, {213});
    sendRequest("SIZE " + RemotePath);
}

void FtpComponent::requestMkd()
{
    checkRequest(FtpRequest::Mkd);
    setRequest(FtpRequest::Mkd, {257});
    sendRequest("MKD " + RemotePath);
}

void FtpComponent::requestRmd()
{
    checkRequest(FtpRequest::Rmd);
    setRequest(FtpRequest::Rmd, {250, 257});
    sendRequest("RMD " + RemotePath);
}

void FtpComponent::requestRnfr()
{
    checkRequest(FtpRequest::Rnfr);
    setRequest(FtpRequest::Rnfr, {350});
    sendRequest("RNFR " + RemotePath);
}

void FtpComponent::requestRnto()
{
    checkRequest(FtpRequest::Rnto);
    setRequest(FtpRequest::Rnto, {200, 250, 257});
    sendRequest("RNTO " + LocalFileName);
}

void FtpComponent::requestQuit()
{
    setRequest(FtpRequest::Quit, {221});
    sendRequest("QUIT");
}

void FtpComponent::requestSyst()
{
    checkRequest(FtpRequest::Syst);
    setRequest(FtpRequest::Syst, {215});
    sendRequest("SYST");
}

void FtpComponent::requestDele()
{
    checkRequest(FtpRequest::Dele);
    setRequest(FtpRequest::Dele, {250, 257});
    sendRequest("DELE " + RemotePath);
}

void FtpComponent::requestPwd()
{
    checkRequest(FtpRequest::Pwd);
    setRequest(FtpRequest::Pwd, {250, 257});
    sendRequest("PWD");
}

void FtpComponent::requestRaw()
{
    checkRequest(FtpRequest::Raw);
    setRequest(FtpRequest::Raw, {});
    sendRequest(LocalFileName);
}

void FtpComponent::requestType()
{
    checkRequest(FtpRequest::Type);
    setRequest(FtpRequest::Type, {200});
    sendRequest(std::string("TYPE ") + TransferType);
}

void FtpComponent::requestRest()
{
    checkRequest(FtpRequest::Rest);
    std::int64_t offset = restartOffset_;
    if (!keepRestartOffset_) {
        offset = -1;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA(LocalFileName.c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            offset = (std::int64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
            FindClose(h);
        }
    }
    restartOffset_ = offset;
    setRequest(FtpRequest::Rest, {});
    if (offset < 1) {
        restartOffset_ = 0;
        finishRequest(0);
        return;
    }
    sendRequest("REST " + std::to_string(offset));
}

void FtpComponent::requestCdup()
{
    checkRequest(FtpRequest::Cdup);
    setRequest(FtpRequest::Cdup, {250});
    sendRequest("CDUP");
}

void FtpComponent::requestFeat()
{
    checkRequest(FtpRequest::Feat);
    setRequest(FtpRequest::Feat, {211});
    sendRequest("FEAT");
}

void FtpComponent::requestOptsUtf8()
{
    checkRequest(FtpRequest::Opts);
    setRequest(FtpRequest::Opts, {});
    sendRequest("OPTS UTF8 ON");
}

void FtpComponent::AfterLogin()
{
    utf8Names_ = false;
    if (!Run(FtpOperation::Features) || !featuresListUtf8(ReplyLines())) return;
    // The answer does not decide: pyftpdlib refuses the option while it
    // speaks UTF-8 all along.
    Run(FtpOperation::Utf8On);
    utf8Names_ = true;
}

void FtpComponent::ordinaryReply(int code, const std::string& line)
{
    const int error = codeExpected(code) ? 0 : code;
    error_ = error;
    if (error != 0) fillFailText();
    if (PassiveTransfers && code == 227) savedPasvReply_ = line;
    if (error == 0) {
        switch (request_) {
        case FtpRequest::Size:
            reportedSize_ = replySize(line);
            break;
        case FtpRequest::Cwd:
        case FtpRequest::Pwd:
        case FtpRequest::Mkd:
        case FtpRequest::Cdup: {
            std::lock_guard<std::mutex> lock(textMutex_);
            quotedDir_ = quotedDirectory(line);
            break;
        }
        default:
            break;
        }
        if (request_ == FtpRequest::Quit) {
            ctrl_.Close();  // the close finishes the request
            return;
        }
    }
    finishRequest(error);
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
    try {
        Start(op);
    } catch (...) {
        return false;
    }
    moveDeadline();
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
        MsgWaitForMultipleObjectsEx(1, &finishedEvent_, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
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
    const FtpState before = State();
    // A request cut off here has failed, whoever waits for it.
    if (!done_) error_ = 426;
    setState(FtpState::Aborting);
    closeLocalFile();
    if (before == FtpState::Resolving) ctrl_.CancelLookup();
    if (ctrl_.State() != SocketState::Closed) ctrl_.Close();
    if (data_.State() != SocketState::Closed) data_.Close();
    closeLocalFile();
    if (!done_) {
        done_ = true;
        sequence_ = false;
        pendingSteps_ = 0;
        endOperation(426);
    }
    connected_ = false;
    setState(FtpState::Idle);
}

} // namespace ftp
