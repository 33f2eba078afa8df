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
#include "ftp/ftp_transfer.h"
#include "ftp/next_attempt.h"
#include "ftp/server_features.h"
#include "ftp/sign_on_failure.h"
#include "ftp/xsocket.h"
#include "runtime/handles.h"

namespace ftp {

struct RequestRow;  // a row of the table of requests (ftp_component.cpp)

// Where the control connection stands (the values are fixed; 6 is not used).
// The table of states and events is at the top of ftp_component.cpp.
enum class FtpState {
    Offline = 0, Idle = 1, Stepping = 2, Resolving = 3, Online = 4, Aborting = 5,
    AwaitGreeting = 7, AwaitReply = 8,
};
const char* ftpStateName(FtpState s);

// The requests of the control connection. The table of requests in
// ftp_component.cpp gives each its command, argument, accepted codes and what
// its reply leads to, in the order in which the pending steps of a
// multi-step operation run; Stat and Abor are known to the readiness check
// only.
enum class FtpRequest {
    None, Open, AuthTls, User, Pass, Pbsz, Prot, Cwd, Cdup, Type, DataPort, Rest, Retr, Stor,
    Appe, List, Nlst, Syst, Mkd, Rmd, Rnfr, Rnto, Size, Dele, Pwd, Raw, Quit, Feat, Opts,
    OptsHash, HashProbe, Check, Stat, Abor,
};
const char* ftpRequestName(FtpRequest r);

// Operations a caller can start. The single requests run one request
// directly; the others run the steps of the table of operations in
// ftp_component.cpp.
enum class FtpOperation {
    None,
    // single requests
    ChangeDir, PrintDir, MakeDir, RemoveDir, Delete, Size, TransferType, SignOff,
    Features, Utf8On, SelectHash, ProbeHash,
    // the server's copy of LocalFileName checked as after an upload (SIZE,
    // the hash where offered), nothing sent
    CheckStored,
    // multi-step
    SignOn, GetFile, PutFile, AppendFile, ListToFile, NamesToFile, Rename,
    RestartGet, RestartPut,
    FullReceive, FullRestartReceive, FullTransmit, FullRestartTransmit, FullAppend,
    FullList, FullNames, FullSystemType, FullMakeDir, FullRemoveDir, FullDelete,
    FullRaw, FullRename, FullSize,
};

// FTPS, if any: explicit (AUTH TLS after the greeting, RFC 4217) or implicit
// (TLS from the first byte of the control connection, the greeting inside).
enum class TlsMode { None = 0, Explicit = 1, Implicit = 2 };

// Messages of the component's window.
constexpr UINT kMsgRequestDone = WM_USER + 1;  // 1025: lParam = error; calls OnRequestDone
constexpr UINT kMsgStartSending = WM_USER + 2; // 1026: start sending a file
constexpr UINT kMsgNextAddress = WM_USER + 3;  // 1027: the Open step tries its next address; wParam the attempt
constexpr UINT kMsgRunOnOwner = WM_APP + 1;    // lParam = call handed over by another thread

class FtpComponent : private TransferControl {
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
    // FTPS: sign-on demands TLS (never falls back to plain FTP), PBSZ and
    // PROT follow the login, and every data connection is TLS too, resuming
    // the control session.
    TlsMode Tls = TlsMode::None;
    // The SHA-256 hash of the one server certificate to accept, whatever
    // its chain, dates and names (the user trusts it); empty: Windows'
    // check. Any other certificate fails as TlsProblem::Changed.
    std::string TrustedCertificate;

    // Offset for the restart operations (REST); kept by the restart put
    // operations, otherwise taken from the size of LocalFileName.
    void SetRestartOffset(std::int64_t offset) { restartOffset_ = offset; }
    // The next STOR is a further attempt at the same file and name: what the
    // attempts before left stays (see Attempts).
    bool AttemptAgain = false;

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
    // The features stay for the connection (Features).
    void AfterLogin();
    // Once per connection, before its first upload: the hash check the
    // server offers (HASH after "OPTS HASH" where its default is another
    // algorithm; where FEAT names no hash command, the X commands are asked
    // without an argument, and the first known one is used; what they
    // answered is kept for later connections to the same server).
    void LearnHashCheck();

    // Called by the waiting thread between operations (AfterLogin and
    // LearnHashCheck write them there): what this connection offers.
    const ServerFeatures& Features() const { return features_; }
    HashMethod HashCheck() const { return hashMethod_; }

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
    bool Terminated() const { return ctrl_.Terminated(); }
    // Why TLS failed in the last operation; problem None when it did not.
    TlsFailure LastTlsFailure() const;
    // What the last operation left that tells a passing failure of a
    // sign-on from a final one (classifySignOn in sign_on_failure.h).
    SignOnOutcome SignOnFacts() const;

    // What the attempts at the last uploaded file left (the transfer keeps
    // it), whether they were attempts at this file and name, and forgetting
    // them (a new file). Between operations only.
    AttemptRecord Attempts();
    bool AttemptsAreFor(const std::string& localFile, const std::string& remoteName);
    void ForgetAttempts();
    // The algorithm whose hash of a stored file differed from the bytes
    // sent since ClearUploadMismatch; empty when none did.
    std::string UploadMismatch() const;
    void ClearUploadMismatch();

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
    XSocket& DataSocket() { return transfer_.Socket(); }
    HWND Window() const { return window_.get(); }
    // The data side of the transfer in progress, or of the last one.
    TransferPhase Transferring() const { return transfer_.Phase(); }


private:
    // ---- where the protocol stands ------------------------------------
    // The whole machine, on the owner thread. A caller starts an operation:
    // one request, or a sequence of steps, which are requests run in the
    // order of the table of requests. Each request is sent, its complete
    // reply read (handleLine) and the request finished once (finishRequest);
    // then the next step runs, or the operation ends (endOperation). state_
    // says what the control connection awaits; transfer_ is the data side
    // of a transfer request, with a phase of its own.
    struct Machine {
        FtpOperation operation = FtpOperation::None;
        bool sequence = false;                // a multi-step operation, not a single request
        std::uint32_t pending = 0;            // its steps not yet run, one bit per row of the table
        const RequestRow* request = nullptr;  // the request in progress, or the last one
        bool done = true;                     // reported finished; a second report is ignored
        int finalError = 0;                   // the error of the whole sequence
        // What the caller sees at the end of a sequence instead of the
        // sign-off's reply; savedCode -1 when nothing is saved.
        std::string savedReply;
        int savedCode = -1;
    };

    // ---- the engine (ftp_component.cpp) -------------------------------
    void startOnOwner(FtpOperation op);
    void cancelOnOwner();
    void runOnOwner(const std::function<void()>& call);
    void startSingle(FtpOperation op, FtpRequest request);
    void startSteps(FtpOperation op, std::uint32_t steps);
    void runNextStep();
    // Starts one request of the table: checks, its command text, sent.
    void startRequest(const RequestRow& row);
    // The command text of a plain request (the restart offset is set here).
    std::string commandText(const RequestRow& row);
    void startTransfer(const RequestRow& row);
    bool requestIs(FtpRequest r) const;
    // Reports the request finished with `error` (once per request).
    void finishRequest(int error);
    void endOperation(int error);
    // The one place where the state changes (OnStateChange sees each).
    void setState(FtpState s);
    // Runs an event handler of the control connection; a failure thrown
    // inside it ends the current request with 500 and the failure's text.
    void guarded(const std::function<void()>& handler);
    void failInsideEvent(const std::string& text);
    void pump();
    LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    // ---- the control connection ---------------------------------------
    void stepOpen();
    void lookupDone(int error);
    void connectNextAddress();
    void connectDone(int error);
    void nextAddress(unsigned attempt);
    void controlDataReady(int error);
    void controlClosed(int error);
    void handleLine(const std::string& line);
    void greetingLine(int code);
    // A complete reply to a plain request: success by its accepted codes,
    // the values it carries kept.
    void ordinaryReply(int code, const std::string& line);
    // Readiness checks before a request: "FTP component not ready" unless
    // Idle or Stepping, "FTP component not connected" unless connected.
    // QUIT, STAT and ABOR skip both.
    void checkRequest(FtpRequest kind);
    void setRequest(const RequestRow& row);
    // Sets the state AwaitReply and sends the command (see sendCommand).
    void sendRequest(const std::string& command);
    // Refuses text with CR, LF or NUL; shows "> " + text; writes it with CR
    // LF while the control socket is Connected, else writes nothing.
    void sendCommand(const std::string& command);
    void setReply(int code, const std::string& text);  // ReplyCode and LastReply
    void setLastReply(const std::string& text);
    void fillFailText();  // FailText := LastReply when still empty
    void setFailText(const std::string& text);
    void display(const std::string& text);
    // Moves the synchronous wait's deadline to now + WaitSeconds.
    void moveDeadline() override;
    void allowSilence(std::uint32_t ms) override;

    // ---- FTPS (ftp_tls.cpp) --------------------------------------------
    void authTlsReply(int code);
    // Implicit FTPS: the handshake as soon as the connection stands.
    void startImplicitTls();
    void controlTlsReady(bool ok);
    std::unique_ptr<TlsSession> newTlsSession();
    void noteTlsFailure(const TlsFailure& failure) override;
    std::string serverNameForTls() const;

    // ---- what the transfer asks of the control side -------------------
    void sendForTransfer(const std::string& command) override;
    void awaitReply() override;
    void transferEnded(int error, int code, const std::string& text) override;
    bool controlConnected() const override { return connected_.load(); }
    void showLine(const std::string& text) override { display(text); }
    bool progressAsksStop(std::int64_t bytes) override;
    bool readyToSendCancels() override { return OnReadyToSend && OnReadyToSend(); }
    void postStartSending() override { PostMessageA(window_.get(), kMsgStartSending, 0, 0); }
    std::unique_ptr<TlsSession> dataTlsSession() override;

    XSocket ctrl_;
    rt::OwnedWindow window_;
    DWORD ownerThread_ = 0;
    Machine machine_;
    Transfer transfer_;

    // ---- results for the waiting thread -------------------------------
    std::atomic<FtpState> state_{FtpState::Idle};
    std::atomic<bool> connected_{false};
    std::atomic<int> replyCode_{0};
    std::atomic<int> error_{0};
    mutable std::mutex textMutex_;  // LastReply, FailText, QuotedDir, reply lines, TLS failure
    std::vector<std::string> replyLines_;
    std::atomic<bool> utf8Names_{false};
    std::string mismatch_;
    std::string lastReply_;
    std::string failText_;
    std::string quotedDir_;
    std::atomic<std::int64_t> reportedSize_{-1};
    std::atomic<DWORD> deadline_{0};
    // Counts finished operations; a synchronous wait ends when it moves.
    std::atomic<unsigned> finishCount_{0};
    rt::OwnedHandle finishedEvent_;

    // ---- the control connection's own --------------------------------
    // The Open step's addresses, tried in turn (connectNextAddress).
    struct OpenAttempts {
        std::vector<std::string> addresses;  // of the lookup
        std::size_t next = 0;                // the address to try next
        unsigned attempt = 0;                // counts every attempt; never reset
        bool dropping = false;               // a failed attempt is being closed
        std::string failure;                 // the reply of the last failed attempt
    };
    static constexpr UINT_PTR kAddressTimer = 1;
    static constexpr UINT kAddressAttemptMs = 5000;
    OpenAttempts open_;
    ReplyBuffer input_;
    std::string openReply_;  // code digits of a multi-line reply still open
    std::int64_t restartOffset_ = 0;
    bool keepRestartOffset_ = false;  // inside the restart put operations
    // Written by the waiting thread between operations (AfterLogin,
    // LearnHashCheck), read by the owner when a transfer starts: the
    // hand-over of Start orders them.
    ServerFeatures features_;
    HashMethod hashMethod_;
    bool hashLearnt_ = false;
    HashMethod selecting_;                        // OPTS HASH: the algorithm asked for
    HashCommand probing_ = HashCommand::None;     // the X command asked without an argument
    std::string probedServer_;                    // the server (and login) the X commands were asked of
    HashMethod probedMethod_;                     // and what that found
    // How the last sign-on went wrong before any reply (lookup, connect),
    // and whether it was refused before it started.
    std::atomic<bool> lookupFailed_{false};
    std::atomic<int> socketError_{0};
    std::atomic<bool> refusedAtStart_{false};
    // One per sign-on, shared by the control and data sessions so that
    // Schannel resumes the control session on the data connections.
    std::shared_ptr<TlsCredentials> tlsCredentials_;
    TlsFailure tlsFailure_;  // behind textMutex_: read by the waiting thread
};

} // namespace ftp
