// Transfer: the data side of one upload, download or listing. It owns the
// data connection (one XSocket, made once and used again for every
// transfer) and the local file, moves the bytes between them, and reports
// one result to the control side, which it reaches through TransferControl.
//
// Phases of one transfer (every change goes through enter()):
//
//   Opening             the data connection is being made (PASV: connect,
//                       PORT: listen and accept, then TLS) and the first
//                       reply (150/125) is awaited
//   Moving              bytes go out (upload) or come in (download, listing)
//   Draining            upload: the whole file is handed over and our end of
//                       the stream is sent; the server's close is awaited
//   AwaitingFinalReply  the data connection has ended; the final reply
//                       (226/250) is awaited
//   Verifying           upload: SIZE asked; the server must hold what was sent
//   Hashing             upload, where the server offers a hash command: its
//                       hash of the stored file asked; it must be the hash
//                       of the bytes sent
//   Done / Failed       the result has been reported (Done is also the phase
//                       between transfers)
//
// The final reply may come before the data connection ends (then the end
// finishes the transfer) or after it; a transfer ends only when both are in.
// Any fault (a failed reply, a local-file error, the data connection closed
// too early, an abort from the progress hook) ends it through fail(), the
// one end of a failed transfer.
//
// A control connection lost while an upload's data moves does not stop
// the data: the file goes out to its end and the server's close is awaited,
// so that a new login may find the copy whole (what the attempts at a file
// left is kept: AttemptRecord). A check of the stored copy alone (after
// such a loss) starts at Verifying.
//
// Everything here runs on the component's owner thread.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ftp/local_hash.h"
#include "ftp/next_attempt.h"
#include "ftp/server_features.h"
#include "ftp/tls_failure.h"
#include "ftp/tls_session.h"
#include "ftp/xsocket.h"
#include "runtime/handles.h"

namespace ftp {

enum class TransferPhase {
    Opening, Moving, Draining, AwaitingFinalReply, Verifying, Hashing, Done, Failed,
};
const char* transferPhaseName(TransferPhase phase);

// What one transfer is, taken from the request that starts it.
struct TransferOrder {
    bool upload = false;        // STOR/APPE; otherwise RETR, LIST, NLST into the local file
    std::string command;        // the command line, "STOR name", "LIST", ...
    std::string localFile;
    std::string remoteName;     // for the SIZE check
    bool verify = false;        // after the final reply, SIZE must name every byte (STOR)
    std::int64_t offset = 0;    // restart offset: where the local file is read or written
    bool passive = false;
    bool tls = false;
    // Where the server offers one: its hash of the stored file must be the
    // hash of the bytes sent (STOR).
    HashMethod hash;
    // No data: the server's copy is checked as after an upload, against
    // the file as the attempts before sent it (SIZE, then the hash).
    bool checkOnly = false;
    // A further attempt at the same file: what the attempts before left
    // (the record, the hash of what they sent) stays.
    bool again = false;
};

// What a transfer needs from the control side (FtpComponent).
class TransferControl {
public:
    // Sends a command of the transfer (its STOR/RETR/LIST, the SIZE check)
    // and awaits the reply, which comes back through Transfer::reply.
    virtual void sendForTransfer(const std::string& command) = 0;
    // Marks the request as awaiting its reply before the command goes out
    // (a passive STOR waits for its data connection first).
    virtual void awaitReply() = 0;
    // The one result: error 0 or the failing code. A code above 0 with text
    // is the reply the caller is to see; code 0 leaves the last reply as it
    // stands.
    virtual void transferEnded(int error, int code, const std::string& text) = 0;
    virtual bool controlConnected() const = 0;
    virtual void showLine(const std::string& text) = 0;     // the display hook
    virtual void moveDeadline() = 0;                         // traffic is progress
    // The reply now awaited may take `ms` of silence (a server hashing a
    // large file), more than the no-progress limit.
    virtual void allowSilence(std::uint32_t ms) = 0;
    // The progress hook with the bytes so far; true asks to stop.
    virtual bool progressAsksStop(std::int64_t bytes) = 0;
    virtual bool readyToSendCancels() = 0;                   // the ready-to-send hook
    virtual void postStartSending() = 0;                     // message 1026 to the component
    // A TLS session for a data connection, resuming the control session.
    virtual std::unique_ptr<TlsSession> dataTlsSession() = 0;
    virtual void noteTlsFailure(const TlsFailure& failure) = 0;

protected:
    ~TransferControl() = default;
};

class Transfer {
public:
    Transfer(TransferControl& control, const XSocket& controlSocket);
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // The DataPort step: prepares the data socket (PORT, EPRT: listens on
    // the control connection's local address) and gives the command: over
    // IPv4 "PASV" or "PORT a,b,c,d,p1,p2", over IPv6 "EPSV" or
    // "EPRT |2|address|port|".
    std::string openPort(bool passive);
    // Whether the last DataPort step spoke RFC 2428 (EPSV, EPRT).
    bool Extended() const { return extended_; }
    // A 227 (229) line on the control connection; the passive connect reads it.
    void keepPassiveReply(const std::string& line) { passiveReply_ = line; }
    // Starts the transfer. It may end at once (local file not found).
    void begin(const TransferOrder& order);
    // A complete reply to the transfer's command (or to its SIZE check).
    void reply(int code, const std::string& line);
    // Message 1026: an active upload's connection and first reply are in.
    void startSending();
    // The control connection is gone (closed, or a 421 `reply`): an upload
    // whose data moves goes on to its end; anything else fails now.
    void controlLost(const std::string& reply = {});
    // REST was not taken: the attempts at this file start from byte 0.
    void restRefused() { record_.noResume = true; }
    // Ends whatever runs without a report (cancel, end of the operation).
    void abandon();

    TransferPhase Phase() const { return phase_; }
    XSocket& Socket() { return socket_; }

    // What the attempts at the current file left, and which file that is.
    const AttemptRecord& Attempts() const { return record_; }
    bool AttemptsAreFor(const FileIdentity& file, const std::string& remoteName) const
    {
        return file == attemptFile_ && remoteName == attemptRemote_;
    }
    void ForgetAttempts();
    // The hash of the bytes sent (the tests and the bench read it).
    const SentHash& Sent() const { return sentHash_; }
    // The algorithm whose hash differed in the last transfer; empty when
    // none did.
    const std::string& Mismatch() const { return mismatch_; }

private:
    using Event = void (Transfer::*)(int error);

    bool ended() const { return phase_ == TransferPhase::Done || phase_ == TransferPhase::Failed; }
    void enter(TransferPhase phase) { phase_ = phase; }
    std::function<void(int)> hook(Event handler);
    void fail(int code, const std::string& text, const char* note = nullptr);
    void succeed(int error, int code, const std::string& text);
    void noteFault(int code, const std::string& text);
    void rememberAttempt();
    bool startHashOfSent();
    void checkStoredCopy();
    bool openLocalFile();
    void closeLocalFile();
    bool connectPassive(Event onConnected);
    rt::OwnedSocket acceptFromServer();
    void startTls(Event ready);

    // The data connection's events.
    void acceptConnection(int error);
    void connected(int error);
    void tlsReady(int error);
    void receive(int error);
    void discard(int error);
    void closed(int error);
    // Replies.
    void firstReply(int code);
    void finalReply(int code, const std::string& line);
    void sizeReply(int code, const std::string& line);
    void askHash();
    void hashReply(int code, const std::string& line);
    void finish();
    // Sending.
    void sendBlocks(int error);
    bool sendOneBlock(int error);
    bool progressAsksStop();
    void startSendBuffer();
    void setSendBuffer(int bytes);
    void fitSendBuffer();

    TransferControl& control_;
    const XSocket& controlSocket_;
    XSocket socket_;
    rt::OwnedStream file_;
    TransferOrder order_;
    TransferPhase phase_ = TransferPhase::Done;

    // What has come in so far; the phase says where the transfer stands.
    bool connected_ = false;   // the data connection stands (its TLS included)
    bool firstReply_ = false;  // 150 or 125
    bool finalReply_ = false;  // the final reply was a success
    bool endOfFile_ = false;   // upload: the whole file is handed to the socket
    int closeError_ = 0;       // the data connection's Closed error
    // Some servers connect to the PORT address at once, before the transfer
    // step has installed the real accept hook; such a connection waits here.
    bool earlyConnection_ = false;
    // A local-file or data-connection fault: the transfer fails with it even
    // when the server reports success.
    int faultCode_ = 0;
    std::string faultText_;
    std::string passiveReply_;
    bool extended_ = false;  // the data port was EPSV or EPRT (IPv6)
    std::int64_t moved_ = 0;           // bytes read from / written to the local file
    std::int64_t socketSentBase_ = 0;  // the socket's sent count at the start
    bool sentToEnd_ = false;           // upload: every byte went out, then our end, then the server's
    int storeCode_ = 0;                // the final reply, the caller's after a passed SIZE check
    std::string storeReply_;
    DWORD startTick_ = 0;
    bool controlLost_ = false;         // the control connection went while the data moved

    // What the attempts at one file left; kept across transfers while the
    // same file goes to the same name again.
    FileIdentity attemptFile_;
    std::string attemptRemote_;
    AttemptRecord record_;
    SentHash sentHash_;
    std::string mismatch_;

    // Blocks of file data per socket call. Every socket call under Wine is a
    // round trip to the wine server (a send two), so blocks are large: four
    // sends per MiB; 1 MiB blocks measured no faster. Memory per transfer
    // stays bounded by two blocks: the read buffer and the part of a block
    // that Winsock has not taken yet.
    static constexpr int kSendBlock = 256 * 1024;
    static constexpr int kReceiveBlock = 64 * 1024;
    // Blocks sent in one turn of the message loop (see sendBlocks).
    static constexpr int kBlocksPerTurn = 16;
    std::vector<char> ioBuffer_;  // one block, allocated on first use

    // Send buffer of the data connection while sending (see fitSendBuffer),
    // looked at every 20 ms of traffic.
    static constexpr int kMinSendBuffer = 4 * 1024;
    static constexpr int kMaxSendBuffer = 512 * 1024;
    static constexpr DWORD kFitIntervalMs = 20;
    int sendBuffer_ = kMinSendBuffer;
    DWORD fitTick_ = 0;
    std::int64_t fitSent_ = 0;
};

} // namespace ftp
