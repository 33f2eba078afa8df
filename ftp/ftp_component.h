// FtpComponent: the FTP client. It owns the control and the data XSocket
// and a notification window of its own, connects and logs in (directly or
// through an FTP proxy that takes the target host in USER), sends commands,
// reads and classifies replies, and runs multi-step operations as a chain of
// steps. Every operation can be started (Start) or run to its end (Run,
// which waits, pumping messages, until it finished or made no progress for
// WaitSeconds).
//
// Threads: the component, its sockets and its windows belong to the thread
// that constructs it (the owner, which must keep dispatching messages). All
// protocol work runs there. Start, Run and Cancel may be called from any
// thread: from another thread, Start and Cancel are posted to the owner's
// window as a message and the caller waits until the owner has run them, so
// the state machine and the sockets are only ever touched by the owner. The state, error and reply fields read by the waiting thread
// are published through atomics or a mutex.
//
// Failures that keep an operation from starting are thrown as FtpFailure;
// reply failures end the operation with a reply code (or 500, 550, 426 made
// up here) in ReplyCode and LastReply.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ftp/ftp_error.h"
#include "ftp/ftp_reply.h"
#include "ftp/xsocket.h"

namespace ftp {

enum class FtpState {
    Offline = 0,
    Idle = 1,
    Stepping = 2,
    Resolving = 3,
    Online = 4,
    Aborting = 5,
    AwaitGreeting = 7,
    AwaitReply = 8,
};
const char* ftpStateName(FtpState s);

// What the request in progress is.
enum class FtpRequest {
    None, Open, User, Pass, Cwd, Size, Mkd, Rmd, Rnfr, Rnto, Quit, Syst, Dele, Pwd,
    Raw, Type, Rest, Cdup, DataPort, Retr, Stor, Appe, List, Nlst, Stat, Abor,
    AuthTls, Pbsz, Prot,
    Feat, Opts,
};

// Steps of multi-step operations, as bits. Pending steps run in the order of
// kStepOrder (ftp_component.cpp): by bit, except that the TLS steps follow
// the step they belong to.
enum FtpStep : std::uint32_t {
    StepOpen = 1u << 0,
    StepUser = 1u << 1,
    StepPass = 1u << 2,
    StepCwd = 1u << 3,
    StepCdup = 1u << 4,
    StepType = 1u << 5,
    StepDataPort = 1u << 6,
    StepRest = 1u << 7,
    StepRetr = 1u << 8,
    StepStor = 1u << 9,
    StepAppe = 1u << 10,
    StepList = 1u << 11,
    StepNlst = 1u << 12,
    StepSyst = 1u << 13,
    StepMkd = 1u << 14,
    StepRmd = 1u << 15,
    StepRnfr = 1u << 16,
    StepRnto = 1u << 17,
    StepSize = 1u << 18,
    StepDele = 1u << 19,
    StepPwd = 1u << 20,
    StepRaw = 1u << 21,
    StepQuit = 1u << 22,
    // With UseTls: "AUTH TLS" and the handshake right after the greeting,
    // "PBSZ 0" and "PROT P" right after the login.
    StepAuthTls = 1u << 23,
    StepPbsz = 1u << 24,
    StepProt = 1u << 25,
};

// Operations a caller can start. The single requests run one request
// directly; the others run the steps listed in ftp_component.cpp.
enum class FtpOperation {
    None,
    // single requests
    ChangeDir, PrintDir, MakeDir, RemoveDir, Delete, Size, TransferType, SignOff,
    Features, Utf8On,
    // multi-step
    SignOn, GetFile, PutFile, AppendFile, ListToFile, NamesToFile, Rename,
    RestartGet, RestartPut,
    FullReceive, FullRestartReceive, FullTransmit, FullRestartTransmit, FullAppend,
    FullList, FullNames, FullSystemType, FullMakeDir, FullRemoveDir, FullDelete,
    FullRaw, FullRename, FullSize,
};

// Messages of the component's window.
constexpr UINT kMsgRequestDone = WM_USER + 1;  // 1025: lParam = error; calls OnRequestDone
constexpr UINT kMsgStartSending = WM_USER + 2; // 1026: start sending a file
constexpr UINT kMsgRunOnOwner = WM_APP + 1;    // lParam = call handed over by another thread

class FtpComponent {
public:
    FtpComponent();
    ~FtpComponent();
    FtpComponent(const FtpComponent&) = delete;
    FtpComponent& operator=(const FtpComponent&) = delete;

    // ---- settings: plain fields, written only while no operation runs ----
    std::string Host;
    std::string Port = "ftp";
    std::string UserName;
    std::string Password;
    std::string HostDirName;    // for CWD
    std::string LocalFileName;  // transfers and listings; new name for RNTO; raw command text
    std::string RemotePath;     // SIZE, MKD, RMD, DELE, RNFR, RETR, STOR, ...
    std::string ProxyHost;
    std::string ProxyPort = "ftp";
    int UseProxy = 0;           // 1 = log in through the proxy
    bool PassiveTransfers = false;
    char TransferType = 'I';    // 'I' binary or 'A' text
    int WaitSeconds = 15;       // limit of synchronous waits; <= 0 means none
    // Explicit FTPS: sign-on demands TLS (never falls back to plain FTP) and
    // every data connection is TLS too, resuming the control session.
    bool UseTls = false;

    // Offset for the restart operations (REST); kept by the restart put
    // operations, otherwise taken from the size of LocalFileName.
    void SetRestartOffset(std::int64_t offset) { restartOffset_ = offset; }

    // ---- operations ----------------------------------------------------
    // Starts an operation; throws FtpFailure when it cannot start.
    void Start(FtpOperation op);
    // Starts an operation and waits for its end. True when it ended without
    // error; false on error, timeout ("426 Timeout", 426) or a thrown failure.
    bool Run(FtpOperation op);
    // Stops whatever is running; closes both connections.
    void Cancel();

    // Run after every successful login, a new login on a lost connection
    // too: sends FEAT and, when the reply lists UTF8, "OPTS UTF8 ON".
    // Whatever that answers, the server then takes names as UTF-8 (RFC
    // 2640) and Utf8Names() is true until the next Open. A server that
    // refuses FEAT or lists no UTF8 gets the code page's bytes as ever.
    void AfterLogin();

    // ---- results (safe to read from any thread) ------------------------
    FtpState State() const { return state_.load(); }
    int ReplyCode() const { return replyCode_.load(); }
    std::string LastReply() const;
    std::string FailText() const;
    int Error() const { return error_.load(); }
    bool Connected() const { return connected_.load(); }
    std::string QuotedDir() const;
    // Every line of the last reply, continuation lines and the final one.
    std::vector<std::string> ReplyLines() const;
    // Names go to this server as UTF-8 (see AfterLogin).
    bool Utf8Names() const { return utf8Names_.load(); }
    std::int64_t ReportedSize() const { return reportedSize_.load(); }
    // Of the last STOR/APPE: the bytes read from the local file and sent, and
    // whether the whole file went out and this side closed the data
    // connection at its end (not the server, not a failure).
    std::int64_t BytesSent() const { return bytesSentOut_.load(); }
    bool SentToEnd() const { return sentToEnd_.load(); }
    bool Terminated() const { return ctrl_.Terminated(); }
    // Why TLS failed in the last operation; problem None when it did not.
    TlsFailure LastTlsFailure() const;

    // ---- hooks: optional observers, called on the owner thread ----------
    std::function<void(const std::string&)> OnDisplay;     // "> cmd", "< reply", "! ..."
    std::function<bool(std::int64_t bytes)> OnProgress;     // true asks to stop
    std::function<void(const std::string&)> OnCommand;     // each command sent
    std::function<void(const std::string&)> OnRawLine;     // each line received
    std::function<void(FtpState oldState, FtpState newState)> OnStateChange;
    std::function<void()> OnConnected;
    std::function<void()> OnConnectionClosed;
    std::function<void(FtpOperation op, int error)> OnRequestDone;
    std::function<bool()> OnReadyToSend;                    // true cancels a STOR/APPE
    // Replaces the message pump of synchronous waits.
    std::function<void()> PumpReplacement;

    XSocket& ControlSocket() { return ctrl_; }
    XSocket& DataSocket() { return data_; }
    HWND Window() const { return window_; }

private:
    using ReplyHandler = void (FtpComponent::*)(int code, const std::string& line);
    using DataEvent = void (FtpComponent::*)(int error);

    // ---- engine (ftp_component.cpp) -------------------------------------
    void startOnOwner(FtpOperation op);
    void cancelOnOwner();
    void runOnOwner(const std::function<void()>& call);
    void startSingle(FtpOperation op);
    void startSteps(FtpOperation op, std::uint32_t steps);
    void runNextStep();
    void runStep(std::uint32_t step);
    void endOperation(int error);
    // Runs an event handler of the control connection; a failure thrown
    // inside it ends the current request with 500 and the failure's text.
    void guarded(const std::function<void()>& handler);
    void failInsideEvent(const std::string& text);
    void pump();
    LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    // Open step and the control connection's events.
    void stepOpen();
    void lookupDone(int error);
    void connectDone(int error);
    void controlDataReady(int error);
    void controlClosed(int error);
    void handleLine(const std::string& line);
    void greetingLine(int code);

    // Requests of the control connection.
    void requestUser();
    void requestPass();
    void requestCwd();
    void requestSize();
    void requestMkd();
    void requestRmd();
    void requestRnfr();
    void requestRnto();
    void requestQuit();
    void requestSyst();
    void requestDele();
    void requestPwd();
    void requestRaw();
    void requestType();
    void requestRest();
    void requestCdup();
    void requestFeat();
    void requestOptsUtf8();
    void ordinaryReply(int code, const std::string& line);

    // Explicit FTPS (ftp_tls.cpp).
    void requestAuthTls();
    void authTlsReply(int code, const std::string& line);
    void controlTlsReady(bool ok);
    void requestPbsz();
    void requestProt();
    // Starts TLS on a data connection that just stood up; `ready` runs once
    // the handshake and the certificate check are through. A failure ends
    // the transfer.
    void startDataTls(DataEvent ready);
    void noteTlsFailure(const TlsFailure& failure);
    std::string serverNameForTls() const;

    // ---- shared with the transfer side ----------------------------------
    // Readiness checks before a request: "FTP component not ready" unless
    // Idle or Stepping, "FTP component not connected" unless connected.
    // QUIT, STAT and ABOR skip both.
    void checkRequest(FtpRequest kind);
    // Sets the request kind, its success codes (empty: every code below 500)
    // and its reply handler, and clears the done flag.
    void setRequest(FtpRequest kind, std::vector<int> codes,
                    ReplyHandler handler = &FtpComponent::ordinaryReply);
    // Sets the state AwaitReply and sends the command (see sendCommand).
    void sendRequest(const std::string& command);
    // Refuses text with CR, LF or NUL; shows "> " + text; writes it with CR
    // LF while the control socket is Connected, else writes nothing.
    void sendCommand(const std::string& command);
    // Reports the request finished with `error` (once per request).
    void finishRequest(int error);
    void setState(FtpState s);
    void setReply(int code, const std::string& text);  // ReplyCode and LastReply
    void setLastReply(const std::string& text);
    void fillFailText();  // FailText := LastReply when still empty
    void setFailText(const std::string& text);
    void display(const std::string& text);
    // Moves the synchronous wait's deadline to now + WaitSeconds.
    void moveDeadline();
    bool codeExpected(int code) const;

    XSocket ctrl_;
    XSocket data_;
    HWND window_ = nullptr;
    DWORD ownerThread_ = 0;

    std::atomic<FtpState> state_{FtpState::Idle};
    std::atomic<bool> connected_{false};
    std::atomic<int> replyCode_{0};
    std::atomic<int> error_{0};
    int finalError_ = 0;
    mutable std::mutex textMutex_;  // LastReply, FailText, QuotedDir, reply lines
    std::vector<std::string> replyLines_;
    std::atomic<bool> utf8Names_{false};
    std::string lastReply_;
    std::string failText_;
    std::string quotedDir_;
    std::atomic<std::int64_t> reportedSize_{-1};
    std::atomic<DWORD> deadline_{0};
    // Counts finished operations; a synchronous wait ends when it moves.
    std::atomic<unsigned> finishCount_{0};
    HANDLE finishedEvent_ = nullptr;

    std::vector<int> expectedCodes_;
    FtpRequest request_ = FtpRequest::None;
    FtpOperation operation_ = FtpOperation::None;
    std::uint32_t pendingSteps_ = 0;
    bool sequence_ = false;
    std::string savedReply_;
    int savedCode_ = -1;
    ReplyHandler replyHandler_ = nullptr;
    bool done_ = true;
    ReplyBuffer input_;
    std::string openReply_;  // code digits of a multi-line reply still open
    std::int64_t restartOffset_ = 0;
    bool keepRestartOffset_ = false;  // inside the restart put operations
    // One per sign-on, shared by the control and data sessions so that
    // Schannel resumes the control session on the data connections.
    std::shared_ptr<TlsCredentials> tlsCredentials_;
    TlsFailure tlsFailure_;  // behind textMutex_: read by the waiting thread

    // ==== Data connections and transfers: implemented in ftp_transfer.cpp ====
    // The engine calls the steps; message 1026 calls startSending; Cancel and
    // the destructor call closeLocalFile; finishRequest closes the data
    // socket. ordinaryReply stores a 227 line in savedPasvReply_ when
    // PassiveTransfers is on. Members below may be changed by the transfer
    // side as it needs.
    void stepDataPort();
    void stepRetr();
    void stepStor();
    void stepAppe();
    void stepList();
    void stepNlst();
    void startSending();
    void closeLocalFile();

    // A socket hook that runs `handler` and turns a thrown failure into the
    // end of the transfer (an exception must never leave a window procedure).
    std::function<void(int)> dataHook(DataEvent handler);
    void beginReceive(const char* command, FtpRequest kind);
    void beginSend(const char* command, FtpRequest kind);
    bool openLocalFile(bool receiving);
    bool connectPassive(DataEvent onConnected);
    SOCKET acceptFromServer();
    void acceptForReceiving(int error);
    void connectedForReceiving(int error);
    void receiveData(int error);
    void acceptForSending(int error);
    void connectedForSending(int error);
    void sendNextBlock(int error);
    bool sendOneBlock(int error);
    void sendingTlsReady(int error);  // ftp_tls.cpp
    void discardData(int error);
    void dataClosed(int error);
    void firstReplyReceiving(int code, const std::string& line);
    void finalReplyReceiving(int code, const std::string& line);
    void firstReplySending(int code, const std::string& line);
    void finalReplySending(int code, const std::string& line);
    bool progressAsksStop();
    void tryFinishTransfer();
    void failTransfer(int code, const std::string& text);
    void noteTransferFault(int code, const std::string& text);

    // Blocks of file data per socket call. Every socket call under Wine is a
    // round trip to the wine server (a send two), so blocks are large: four
    // sends per MiB; 1 MiB blocks measured no faster. Memory per transfer
    // stays bounded by two blocks: the read buffer and the part of a block
    // that Winsock has not taken yet.
    static constexpr int kSendBlock = 256 * 1024;
    static constexpr int kReceiveBlock = 64 * 1024;
    // Blocks sent in one turn of the message loop (see sendNextBlock).
    static constexpr int kBlocksPerTurn = 16;
    std::vector<char> ioBuffer_;  // one block, allocated on first use

    // Send buffer of the data connection while sending (see fitSendBuffer),
    // looked at every 20 ms of traffic.
    static constexpr int kMinSendBuffer = 4 * 1024;
    static constexpr int kMaxSendBuffer = 512 * 1024;
    static constexpr DWORD kFitIntervalMs = 20;
    void startSendBuffer();
    void setSendBuffer(int bytes);
    void fitSendBuffer();
    int sendBuffer_ = kMinSendBuffer;
    DWORD fitTick_ = 0;
    std::int64_t fitSent_ = 0;

    std::string savedPasvReply_;
    std::string dataCommand_;
    std::string sendCommandText_;  // STOR/APPE line, sent once a passive connection stands
    std::FILE* localStream_ = nullptr;
    std::int64_t bytesMoved_ = 0;
    bool replySeen_ = false;
    bool dataClosed_ = false;
    int dataCloseError_ = 0;
    bool replyReady_ = false;
    bool dataConnected_ = false;
    bool endOfFile_ = false;
    std::int64_t socketSentBase_ = 0;  // data socket's sent count at the start
    std::atomic<std::int64_t> bytesSentOut_{0};
    std::atomic<bool> sentToEnd_{false};
    // Some servers connect to the PORT address at once, before RETR/STOR has
    // installed the real accept hook; such a connection is remembered here.
    bool earlyConnection_ = false;
    // A local-file or data-connection fault seen during the transfer; the
    // transfer then fails with it even when the server reports success.
    int faultCode_ = 0;
    std::string faultText_;
    DWORD startTick_ = 0;
    DWORD endTick_ = 0;
    // ==== end of the transfer side ====
};

} // namespace ftp
