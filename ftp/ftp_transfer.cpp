// The data side of one transfer, in the order of its flow: the data port,
// the start, the data connection, the bytes, the replies and the end.
#include "ftp/ftp_transfer.h"

#include <cstdio>
#include <exception>
#include <iterator>

#include "ftp/ftp_dataport.h"
#include "ftp/ftp_reply.h"

namespace ftp {
namespace {

std::string failureText(const std::exception& e)
{
    return *e.what() ? std::string(e.what()) : std::string("Unknown error.");
}

} // namespace

const char* transferPhaseName(TransferPhase value)
{
    // By value.
    static constexpr const char* kNames[] = {"Opening", "Moving", "Draining", "AwaitingFinalReply", "Verifying",
                                             "Hashing", "Done", "Failed"};
    const auto i = std::size_t(value);
    return i < std::size(kNames) ? kNames[i] : "?";
}

Transfer::Transfer(TransferControl& control, const XSocket& controlSocket)
    : control_(control), controlSocket_(controlSocket)
{
    // Every byte counts as progress of a synchronous wait; while sending,
    // the traffic also sizes the send buffer.
    socket_.OnTraffic = [this] {
        control_.moveDeadline();
        if (order_.upload && connected_) fitSendBuffer();
    };
}

// ---- the data port ---------------------------------------------------------

std::string Transfer::openPort(bool passive)
{
    socket_.ClearHooks();
    if (socket_.State() != SocketState::Closed) socket_.Close();
    socket_.SetProto("tcp");
    socket_.SetAddr("0.0.0.0");
    socket_.SetPort("0");
    socket_.SetBlockSize(kSendBlock);
    passiveReply_.clear();
    earlyConnection_ = false;
    // Over IPv6 the data connection is announced as RFC 2428 has it (EPSV,
    // EPRT); over IPv4 with PASV and PORT. Through a proxy the proxy's
    // address decides: it is the control connection's peer.
    extended_ = controlSocket_.RemoteSockaddr().family() == AF_INET6;
    if (passive) return extended_ ? "EPSV" : "PASV";

    // Windows announces a pending connection once; one that arrives before
    // the transfer step must not be lost.
    socket_.OnIncomingConnection = [this](int) { earlyConnection_ = true; };
    // Only the interface that reaches the server listens; the PORT address
    // names it anyway.
    socket_.SetAddr(controlSocket_.LocalAddress());
    socket_.SetLinger(1, 10);
    socket_.Listen();
    const unsigned port = unsigned(socket_.LocalPortNumber());
    if (extended_) return eprtCommand(controlSocket_.LocalAddress(), port);
    return portCommand(controlSocket_.RemoteSockaddr().ipv4(), controlSocket_.LocalSockaddr().ipv4(), port);
}

// ---- the start -------------------------------------------------------------

void Transfer::begin(const TransferOrder& order)
{
    order_ = order;
    enter(TransferPhase::Opening);
    connected_ = firstReply_ = finalReply_ = endOfFile_ = sentToEnd_ = controlLost_ = false;
    closeError_ = 0;
    faultCode_ = 0;
    faultText_.clear();
    moved_ = 0;
    storeCode_ = 0;
    storeReply_.clear();
    mismatch_.clear();
    socketSentBase_ = socket_.BytesSent();
    // A download counts its time from here, an upload from its first block.
    startTick_ = order_.upload ? 0 : GetTickCount();

    if (order_.checkOnly) return checkStoredCopy();
    if (order_.verify) rememberAttempt();
    if (order_.upload && control_.readyToSendCancels())
        return fail(426, "426 Transmit cancelled by application", "! 426 Transmit cancelled by application");
    socket_.OnIncomingConnection = hook(&Transfer::acceptConnection);
    if (!openLocalFile()) return fail(550, "Unable to open local file " + order_.localFile);
    if (order_.verify && !startHashOfSent()) return fail(550, "Unable to read local file " + order_.localFile);

    if (order_.passive) {
        if (!connectPassive(&Transfer::connected)) return;
        // A download's command goes out at once; an upload's once its data
        // connection stands (connected).
        if (order_.upload) return control_.awaitReply();
        control_.sendForTransfer(order_.command);
        return;
    }
    control_.sendForTransfer(order_.command);
    if (earlyConnection_) socket_.OnIncomingConnection(0);
}

// A STOR: the attempts before it at the same file (same name, file
// unchanged) are what a further attempt builds on; any other starts afresh.
void Transfer::rememberAttempt()
{
    const FileIdentity file = identityOf(order_.localFile);
    if (order_.again && AttemptsAreFor(file, order_.remoteName)) return;
    ForgetAttempts();
    attemptFile_ = file;
    attemptRemote_ = order_.remoteName;
}

void Transfer::ForgetAttempts()
{
    attemptFile_ = {};
    attemptRemote_.clear();
    record_ = {};
    sentHash_.clear();
}

// The hash of the bytes as they go out. A resumed attempt continues the
// hash of the bytes before its offset from the nearest checkpoint, reading
// only the bytes after that once (the file stands at the offset again).
bool Transfer::startHashOfSent()
{
    if (order_.hash.command == HashCommand::None) {
        sentHash_.clear();
        return true;
    }
    const HashAlgorithm algorithm = order_.hash.algorithm;
    if (order_.offset == 0) {
        sentHash_.start(algorithm, attemptFile_);
    } else {
        if (sentHash_.resumeAt(algorithm, attemptFile_, order_.offset, file_.get()))
            control_.showLine("! " + std::string(hashAlgorithmName(algorithm)) + " of the first " +
                              std::to_string(order_.offset) + " bytes: " + std::to_string(sentHash_.caughtUp()) +
                              " read again");
        // The bytes after the offset go out next, whatever the reading did.
        if (_fseeki64(file_.get(), order_.offset, SEEK_SET) != 0) return false;
    }
    if (!sentHash_.active()) {
        sentHash_.clear();
        control_.showLine("! No local hash of the file; the size alone is checked");
    }
    return true;
}

// The server's copy, checked as after an upload against the file as the
// attempts before sent it; no data connection.
void Transfer::checkStoredCopy()
{
    const FileIdentity file = identityOf(order_.localFile);
    if (!AttemptsAreFor(file, order_.remoteName) || file.size < 0)
        return fail(550, "550 Nothing was sent of " + order_.localFile + " to check.");
    // As if the whole file had just gone out: SIZE must name every byte,
    // and without SIZE the last attempt's orderly end stands.
    order_.offset = file.size;
    sentToEnd_ = record_.sentWhole;
    finalReply_ = true;
    storeCode_ = 226;
    storeReply_ = "226 The copy on the server is whole.";
    if (!control_.controlConnected()) return fail(426, "426 FTP component not connected");
    enter(TransferPhase::Verifying);
    control_.sendForTransfer("SIZE " + order_.remoteName);
}

bool Transfer::openLocalFile()
{
    closeLocalFile();
    // A restarted download continues the file it has; a plain one replaces it.
    const char* mode = order_.upload ? "rb" : order_.offset > 0 ? "r+b" : "wb";
    file_ = rt::OwnedStream(std::fopen(order_.localFile.c_str(), mode));
    if (!file_ && !order_.upload && order_.offset > 0)
        file_ = rt::OwnedStream(std::fopen(order_.localFile.c_str(), "wb"));
    if (!file_) return false;
    if (order_.offset > 0 && _fseeki64(file_.get(), order_.offset, SEEK_SET) != 0) {
        closeLocalFile();
        return false;
    }
    return true;
}

void Transfer::closeLocalFile()
{
    if (!file_) return;
    // The last buffered bytes of a download are written here; losing them
    // must not pass as success.
    if (!file_.close() && !order_.upload) {
        control_.showLine("! Error writing local file");
        noteFault(550, "550 Error writing local file " + order_.localFile);
    }
}

// Points the data socket at the control connection's peer (the proxy, when
// one is used) and the port of the 227 (or 229) reply, and starts
// connecting. A 227 reply's address is never used: it may name a host the
// client cannot or must not reach. False when the transfer has failed.
bool Transfer::connectPassive(Event onConnected)
{
    const auto port = extended_ ? extendedPassivePort(passiveReply_) : passivePort(passiveReply_);
    if (!port) {
        fail(550, "550 No data port in the passive reply.");
        return false;
    }
    try {
        socket_.SetAddr(controlSocket_.Addr());
        socket_.SetPort(std::to_string(*port));
        socket_.SetProto("tcp");
        socket_.OnConnectDone = hook(onConnected);
        socket_.SetLinger(0, 0);
        socket_.Connect();
    } catch (const std::exception& e) {
        fail(550, "550 " + failureText(e));
        return false;
    }
    return true;
}

// A socket hook that turns a thrown failure into the end of the transfer
// (an exception must never leave a window procedure).
std::function<void(int)> Transfer::hook(Event handler)
{
    return [this, handler](int error) {
        try {
            (this->*handler)(error);
        } catch (const std::exception& e) {
            fail(426, "426 " + failureText(e));
        }
    };
}

// ---- the data connection ---------------------------------------------------

// The pending connection that comes from the control connection's peer
// (the server, or the proxy); any other is closed at once, so whoever
// reaches the PORT address first gets nothing. Empty while the server has
// not connected yet.
rt::OwnedSocket Transfer::acceptFromServer()
{
    const NetAddress& server = controlSocket_.RemoteSockaddr();
    for (;;) {
        NetAddress peer;
        rt::OwnedSocket s = socket_.Accept(&peer);
        if (!s || sameHost(peer, server)) return s;
        const linger abort{1, 0};  // a reset: not even an orderly end reaches it
        setsockopt(s.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
        s.reset();
        control_.showLine("! Data connection from " + addressText(peer) + " refused");
    }
}

// Active mode: the server connects to the PORT address.
void Transfer::acceptConnection(int)
{
    rt::OwnedSocket accepted = acceptFromServer();
    if (!accepted) return;
    socket_.Close();  // the listening socket
    socket_.OnClosed = hook(&Transfer::closed);
    if (!order_.upload) {
        socket_.OnDataReady = hook(&Transfer::receive);
        socket_.Dup(std::move(accepted));
        startTick_ = GetTickCount();
        connected_ = true;
        enter(TransferPhase::Moving);
        if (order_.tls) startTls(nullptr);
        return;
    }
    socket_.OnDataReady = hook(&Transfer::discard);
    socket_.OnSendDone = hook(&Transfer::sendBlocks);
    socket_.Dup(std::move(accepted));
    int sendBuffer = 0;
    int len = sizeof sendBuffer;
    if (getsockopt(socket_.Handle(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&sendBuffer), &len) != 0)
        throw FtpFailure("getsockopt(SO_SNDBUF) failed");
    socket_.SetLinger(0, 10);
    socket_.ApplyLinger();
    startSendBuffer();
    if (order_.tls) return startTls(&Transfer::tlsReady);
    connected_ = true;
    // The first reply may have come before the connection: start from the
    // message loop, never inside this event.
    if (firstReply_ && startTick_ == 0) control_.postStartSending();
}

// Passive mode: our connect to the 227 port is through.
void Transfer::connected(int error)
{
    if (error != 0) return fail(550, "Unable to establish data connection, error #" + std::to_string(error));
    startTick_ = GetTickCount();
    socket_.OnClosed = hook(&Transfer::closed);
    if (!order_.upload) {
        socket_.OnDataReady = hook(&Transfer::receive);
        connected_ = true;
        enter(TransferPhase::Moving);
        if (order_.tls) startTls(nullptr);
        return;
    }
    startSendBuffer();
    // The server starts its side of the handshake once it has the command.
    if (order_.tls)
        startTls(&Transfer::tlsReady);
    else
        connected_ = true;
    control_.sendForTransfer(order_.command);
}

// TLS on a data connection that just stood up; `ready` runs once the
// handshake and the certificate check are through.
void Transfer::startTls(Event ready)
{
    std::unique_ptr<TlsSession> session = control_.dataTlsSession();
    socket_.OnTlsReady = [this, ready](bool ok) {
        try {
            if (!ok) {
                TlsFailure failure;
                if (const TlsSession* tls = socket_.Tls()) failure = tls->Failure();
                if (failure.problem == TlsProblem::None) failure.problem = TlsProblem::Handshake;
                control_.noteTlsFailure(failure);
                return fail(426, "426 TLS on the data connection: " + failure.detail);
            }
            if (ready) (this->*ready)(0);
        } catch (const std::exception& e) {
            fail(426, std::string("426 ") + e.what());
        }
    };
    socket_.StartTls(std::move(session));
}

// An upload's data connection carries file bytes only inside TLS.
void Transfer::tlsReady(int)
{
    connected_ = true;
    if (!firstReply_) return;
    if (order_.passive)
        sendBlocks(0);
    else if (startTick_ == 0)
        control_.postStartSending();
}

void Transfer::receive(int)
{
    if (progressAsksStop()) return;
    ioBuffer_.resize(kReceiveBlock);
    char* const buffer = ioBuffer_.data();
    const int n = socket_.Read(buffer, kReceiveBlock);
    if (n < 0) {
        const int code = socket_.LastError();
        if (socket_.State() == SocketState::Connected && code != WSAEWOULDBLOCK) {
            control_.showLine("! Data: Receive error " + std::to_string(code));
            noteFault(426, "426 Data: Receive error " + std::to_string(code));
            socket_.HalfClose(SD_BOTH);
        }
        return;
    }
    if (n == 0) return;
    moved_ += n;
    if (!file_ || std::fwrite(buffer, 1, std::size_t(n), file_.get()) != std::size_t(n)) {
        control_.showLine("! Error writing local file");
        noteFault(550, "550 Error writing local file " + order_.localFile);
        socket_.HalfClose(SD_BOTH);
    }
}

void Transfer::discard(int)
{
    char sink[2048];
    socket_.Read(sink, sizeof sink);
}

void Transfer::closed(int error)
{
    closeLocalFile();
    closeError_ = error;
    control_.moveDeadline();
    if (order_.upload) {
        // Only this side knows where the file ends: a server that closes
        // before our end of the stream has stopped taking the file, whatever
        // it answers; a close with an error may have lost any byte in flight.
        const bool ourEndFirst = socket_.SendingShut();
        if (socket_.ClosedByPeer() && !ourEndFirst)
            noteFault(426, "426 Data connection closed by the server before the end of the file.");
        else if (error != 0)
            noteFault(426, "426 Data connection ended with error " + std::to_string(error) + ".");
        // Over TLS the wire also carries record headers and the handshake;
        // there the drained send queue at the end of the file stands for it.
        const std::int64_t onWire = socket_.BytesSent() - socketSentBase_;
        sentToEnd_ = endOfFile_ && ourEndFirst && error == 0 && (order_.tls || onWire == moved_);
        if (order_.verify) record_.sentWhole = sentToEnd_;
    }
    if (controlLost_) {
        // No final reply can come: a new login has to find out what the
        // server kept.
        control_.showLine(summaryLine(moved_, GetTickCount() - startTick_));
        if (faultCode_ != 0) return fail(faultCode_, faultText_);
        return fail(426, sentToEnd_ ? "426 Control connection lost; the data connection ended after the whole file."
                                    : "426 Control connection lost.");
    }
    if (finalReply_)
        finish();
    else
        enter(TransferPhase::AwaitingFinalReply);
}

// ---- replies ---------------------------------------------------------------

void Transfer::reply(int code, const std::string& line)
{
    if (ended()) return;
    // 421: the server is closing the control connection (it says so before
    // it does, as a reply to anything or unasked).
    if (code == 421) return controlLost(line);
    if (phase_ == TransferPhase::Verifying) return sizeReply(code, line);
    if (phase_ == TransferPhase::Hashing) return hashReply(code, line);
    if (!firstReply_) return firstReply(code);
    finalReply(code, line);
}

void Transfer::controlLost(const std::string& reply)
{
    if (ended() || controlLost_) return;
    // Only an upload whose data connection stands and whose STOR was taken
    // has anything left to finish.
    const bool dataGoesOn = order_.upload && !order_.checkOnly && firstReply_ && connected_ &&
                            (phase_ == TransferPhase::Opening || phase_ == TransferPhase::Moving ||
                             phase_ == TransferPhase::Draining);
    if (!dataGoesOn) {
        if (!reply.empty()) return fail(parseReplyLine(reply).code, "");
        return fail(426, "426 Connection closed by server.");
    }
    controlLost_ = true;
    control_.showLine("! Control connection lost; the data connection goes on to the end of the file");
}

void Transfer::firstReply(int code)
{
    if (code != 150 && code != 125) return fail(code, "");
    firstReply_ = true;
    if (order_.verify) {
        // The server has opened the file for writing: its copy is this run's.
        record_.ownCopy = true;
        record_.sentWhole = record_.refuted = false;
        if (order_.offset == 0) record_.noResume = false;
    }
    if (!order_.upload) return;
    if (order_.passive) {
        socket_.OnSendDone = hook(&Transfer::sendBlocks);
        sendBlocks(0);
    } else if (connected_ && startTick_ == 0) {
        control_.postStartSending();
    }
}

void Transfer::finalReply(int code, const std::string& line)
{
    const bool success = code == 226 || code == 250 || (!order_.upload && code == 125);
    if (!success) {
        if (order_.verify) record_.refuted = true;
        return fail(code, "", order_.upload ? "! STOR Failed" : "! RETR/LIST/NLST Failed");
    }
    finalReply_ = true;
    storeCode_ = code;
    storeReply_ = line;
    if (phase_ == TransferPhase::AwaitingFinalReply) finish();
}

// Both the final reply and the end of the data connection are in.
void Transfer::finish()
{
    control_.showLine(summaryLine(moved_, GetTickCount() - startTick_));
    if (faultCode_ != 0) return fail(faultCode_, faultText_);
    if (!order_.verify) return succeed(closeError_, 0, "");
    // The upload counts only when the server holds what was sent.
    if (!control_.controlConnected()) return fail(storeCode_, "");
    enter(TransferPhase::Verifying);
    control_.sendForTransfer("SIZE " + order_.remoteName);
}

// The reply to SIZE after an upload (see uploadConfirmed). On success the
// caller sees the transfer's final reply; otherwise why the upload is not
// trusted.
void Transfer::sizeReply(int code, const std::string& line)
{
    const bool sized = code == 213;
    const std::int64_t reported = sized ? sizeInReply(line).value_or(-1) : -1;
    const std::int64_t sent = order_.offset + moved_;
    // A check after a loss needs the size itself: a server may have thrown
    // away what it got when the control connection went.
    const bool confirmed = order_.checkOnly ? sized && reported == sent : uploadConfirmed(code, reported, sent, sentToEnd_);
    if (confirmed) return askHash();
    if (sized && reported >= 0) {
        if (order_.verify) record_.refuted = true;
        return fail(550, "550 The server holds " + std::to_string(reported) + " of " + std::to_string(sent) +
                             " bytes sent.");
    }
    if (sized || code == 500 || code == 502 || code == 504 || code == 550)
        return fail(426, "426 Upload not confirmed: the data connection did not end at the end of the file.");
    fail(code, "");
}

// SIZE has confirmed the copy; where the server offers a hash command, its
// hash of the copy decides. The server reads the whole file for it, so the
// reply may take long (hashReplyBoundMs).
void Transfer::askHash()
{
    if (order_.hash.command == HashCommand::None) return succeed(0, storeCode_, storeReply_);
    const std::int64_t size = order_.offset + moved_;
    if (!sentHash_.active() || sentHash_.position() != size) {
        // A check after a loss needs the hash of every byte; the size alone
        // does not do where a hash is offered.
        if (order_.checkOnly) return fail(426, "426 No hash of the file sent to compare with.");
        control_.showLine("! No local hash of the file; the size alone is checked");
        return succeed(0, storeCode_, storeReply_);
    }
    enter(TransferPhase::Hashing);
    control_.sendForTransfer(std::string(hashCommandVerb(order_.hash.command)) + " " + order_.remoteName);
    control_.allowSilence(hashReplyBoundMs(size));
}

// A reply without a hash (the server refused, is busy, or sent something
// unreadable) leaves the size as the check, as for a server without hash
// commands; a hash that differs fails the upload.
void Transfer::hashReply(int code, const std::string& line)
{
    const std::optional<std::string> theirs = hashInReply(order_.hash, code, line);
    if (!theirs) {
        control_.showLine("! No hash in the reply; the size alone is checked");
        return succeed(0, storeCode_, storeReply_);
    }
    const std::string ours = sentHash_.hex();
    if (ours.empty()) return succeed(0, storeCode_, storeReply_);
    if (*theirs == ours) return succeed(0, storeCode_, storeReply_);
    const char* name = hashAlgorithmName(order_.hash.algorithm);
    mismatch_ = name;
    record_.noResume = true;
    control_.showLine("! " + std::string(name) + " sent " + ours + ", stored " + *theirs);
    fail(550, "550 The server's " + std::string(name) + " of the file differs from the bytes sent.");
}

// ---- the end ---------------------------------------------------------------

// The one end of a failed transfer. `text` is a reply made up here, empty
// when the server's reply stands; `note` goes to the display hook.
void Transfer::fail(int code, const std::string& text, const char* note)
{
    if (ended()) return;
    closeLocalFile();
    socket_.ClearHooks();
    socket_.Close();
    enter(TransferPhase::Failed);
    if (note) control_.showLine(note);
    control_.transferEnded(code, text.empty() ? 0 : code, text);
}

void Transfer::succeed(int error, int code, const std::string& text)
{
    enter(TransferPhase::Done);
    control_.transferEnded(error, code, text);
}

void Transfer::abandon()
{
    closeLocalFile();
    socket_.ClearHooks();
    if (socket_.State() != SocketState::Closed) socket_.Close();
    if (!ended()) enter(TransferPhase::Failed);
}

void Transfer::noteFault(int code, const std::string& text)
{
    if (faultCode_ != 0) return;
    faultCode_ = code;
    faultText_ = text;
}

bool Transfer::progressAsksStop()
{
    if (!control_.progressAsksStop(moved_ + order_.offset)) return false;
    control_.showLine("! Abort requested");
    noteFault(426, "426 Transfer aborted by application");
    socket_.Close();
    return true;
}

// ---- sending ---------------------------------------------------------------

void Transfer::startSending()
{
    if (ended() || startTick_ != 0) return;
    startTick_ = GetTickCount();
    try {
        sendBlocks(0);
    } catch (const std::exception& e) {
        fail(426, "426 " + failureText(e));
    }
}

// Blocks go out one after another while Winsock takes each one whole; a
// block it takes only in part stays queued in the socket, and the socket's
// next FD_WRITE (SendDone) brings the next call, so a slow server slows the
// reading of the file. After kBlocksPerTurn blocks the call returns to the
// message loop, so that replies and cancels are not held up; the write
// notice that the socket posted for the first block continues from there.
void Transfer::sendBlocks(int error)
{
    for (int turn = 0; turn < kBlocksPerTurn && sendOneBlock(error); ++turn) error = 0;
}

// True when a whole block went to Winsock and the next may follow at once.
bool Transfer::sendOneBlock(int error)
{
    if (!file_) return false;
    if (progressAsksStop()) return false;
    if (error != 0) {
        control_.showLine("! Error #" + std::to_string(error) + " sending data");
        noteFault(426, "426 Error #" + std::to_string(error) + " sending data");
        socket_.Close();
        return false;
    }
    if (endOfFile_ || !firstReply_ || !connected_) return false;
    // Bytes of the last block still wait in the socket's queue: its next
    // FD_WRITE continues. Another trigger (the start message of an active
    // transfer) must neither read on nor end the file in front of them.
    if (!socket_.AllSent()) return false;
    if (phase_ == TransferPhase::Opening) enter(TransferPhase::Moving);
    ioBuffer_.resize(kSendBlock);
    char* const block = ioBuffer_.data();
    const std::size_t n = std::fread(block, 1, kSendBlock, file_.get());
    if (n > 0) {
        moved_ += std::int64_t(n);
        if (sentHash_.active()) sentHash_.add(block, n);
        socket_.Send(block, int(n));
        return socket_.AllSent();
    }
    if (std::ferror(file_.get())) {
        control_.showLine("! Error reading file");
        noteFault(550, "550 Error reading local file " + order_.localFile);
        socket_.Close();
        return false;
    }
    // The server sees the end of the file as the end of the stream. The
    // socket stays open until the server closes its side (closed): its
    // close after ours is the sign that it read up to our end. A close of
    // the server that is already here came before the end of the file.
    endOfFile_ = true;
    if (socket_.PeerHasClosed()) {
        control_.showLine("! Data connection closed by the server before the end of the file");
        noteFault(426, "426 Data connection closed by the server before the end of the file.");
        socket_.Close();
        return false;
    }
    socket_.ShutdownSending();
    enter(TransferPhase::Draining);
    return false;
}

// The send buffer below Winsock holds bytes that count as sent but have not
// reached the server; after the close, the wait for the final reply must
// cover them. Left alone, the host's TCP stack grows it to megabytes: many
// minutes of a slow link. So it holds about two seconds of the rate the link
// takes bytes at, between 4 KiB and 512 KiB. The upper bound also bounds
// what is still in flight when the file ends: a server that stops reading
// part-way must have its close here before our end of the stream, or a
// server without SIZE could not be caught (see sendOneBlock).
void Transfer::startSendBuffer()
{
    sendBuffer_ = kMinSendBuffer;
    setSendBuffer(sendBuffer_);
    fitTick_ = GetTickCount();
    fitSent_ = -1;
}

void Transfer::setSendBuffer(int bytes)
{
    if (socket_.Handle() == INVALID_SOCKET) return;
    setsockopt(socket_.Handle(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

void Transfer::fitSendBuffer()
{
    const DWORD now = GetTickCount();
    const DWORD elapsed = now - fitTick_;
    if (elapsed < kFitIntervalMs) return;
    const std::int64_t sent = socket_.BytesSent();
    const std::int64_t moved = sent - fitSent_;
    // A look right after a change only sets the base: what it saw was the
    // buffer filling, not the link.
    const bool base = fitSent_ < 0;
    fitTick_ = now;
    fitSent_ = sent;
    if (base) return;
    std::int64_t want = moved * 2000 / elapsed;
    if (want < kMinSendBuffer) want = kMinSendBuffer;
    if (want > kMaxSendBuffer) want = kMaxSendBuffer;
    // Small changes are not worth a call.
    if (want < sendBuffer_ * 2 && want * 2 > sendBuffer_) return;
    sendBuffer_ = int(want);
    setSendBuffer(sendBuffer_);
    fitSent_ = -1;
}

} // namespace ftp
