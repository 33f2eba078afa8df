// The data side of FtpComponent: the DataPort step (PORT or PASV), the
// receiving steps (RETR, LIST, NLST into LocalFileName) and the sending steps
// (STOR, APPE from LocalFileName), with the progress check and the summary
// line. Everything here runs on the component's owner thread.
//
// A transfer ends only when both the server's final reply and the end of the
// data connection have come in, in whichever order. Files move in blocks of
// kSendBlock / kReceiveBlock bytes; a file is never held in memory as a whole.
#include <winsock2.h>

#include <cstring>

#include "ftp/ftp_component.h"
#include "ftp/ftp_dataport.h"

namespace ftp {
namespace {

std::string failureText(const std::exception& e)
{
    return *e.what() ? std::string(e.what()) : std::string("Unknown error.");
}

} // namespace

// ---- local file --------------------------------------------------------

bool FtpComponent::openLocalFile(bool receiving)
{
    closeLocalFile();
    // A restarted download continues the file it has; a plain one replaces it.
    if (receiving)
        localStream_ = std::fopen(LocalFileName.c_str(), restartOffset_ > 0 ? "r+b" : "wb");
    else
        localStream_ = std::fopen(LocalFileName.c_str(), "rb");
    if (!localStream_ && receiving && restartOffset_ > 0)
        localStream_ = std::fopen(LocalFileName.c_str(), "wb");
    if (!localStream_) return false;
    if (restartOffset_ > 0 && _fseeki64(localStream_, restartOffset_, SEEK_SET) != 0) {
        closeLocalFile();
        return false;
    }
    return true;
}

void FtpComponent::closeLocalFile()
{
    if (!localStream_) return;
    // The last buffered bytes of a download are written here; losing them
    // must not pass as success.
    const bool failed = std::fclose(localStream_) != 0;
    localStream_ = nullptr;
    const bool receiving = dataCommand_ == "RETR" || dataCommand_ == "LIST" || dataCommand_ == "NLST";
    if (failed && receiving) {
        display("! Error writing local file");
        noteTransferFault(550, "550 Error writing local file " + LocalFileName);
    }
}

// ---- DataPort step -------------------------------------------------------

void FtpComponent::stepDataPort()
{
    checkRequest(FtpRequest::DataPort);
    data_.ClearHooks();
    if (data_.State() != SocketState::Closed) data_.Close();
    data_.SetProto("tcp");
    data_.SetAddr("0.0.0.0");
    data_.SetPort("0");
    data_.SetBlockSize(kSendBlock);
    savedPasvReply_.clear();

    unsigned port = 0;
    earlyConnection_ = false;
    if (!PassiveTransfers) {
        // Windows announces a pending connection once; one that arrives
        // before the transfer step must not be lost.
        data_.OnIncomingConnection = [this](int) { earlyConnection_ = true; };
        // Only the interface that reaches the server listens; the PORT
        // address names it anyway.
        data_.SetAddr(ctrl_.LocalAddress());
        data_.SetLinger(1, 10);
        data_.Listen();
        port = unsigned(data_.LocalPortNumber());
    }
    sockaddr_in local{};
    int len = sizeof local;
    ctrl_.LocalSockaddr(reinterpret_cast<sockaddr*>(&local), &len);

    std::string command = "PASV";
    if (!PassiveTransfers)
        command = portCommand(ctrl_.RemoteSockaddr().sin_addr.s_addr, local.sin_addr.s_addr, port);
    bytesMoved_ = 0;
    setRequest(FtpRequest::DataPort, {200, 227});
    sendRequest(command);
}

// Points the data socket at the control connection's peer (the proxy, when
// one is used) and the port of the 227 reply, and starts connecting. The
// reply's address is never used: it may name a host the client cannot or
// must not reach. False when the request has been finished with a failure.
bool FtpComponent::connectPassive(DataEvent onConnected)
{
    const auto port = passivePort(savedPasvReply_);
    if (!port) {
        setReply(550, "550 No data port in the passive reply.");
        fillFailText();
        data_.Close();
        finishRequest(550);
        return false;
    }
    try {
        data_.SetAddr(ctrl_.Addr());
        data_.SetPort(std::to_string(*port));
        data_.SetProto("tcp");
        data_.OnConnectDone = dataHook(onConnected);
        data_.SetLinger(0, 0);
        data_.Connect();
    } catch (const std::exception& e) {
        setReply(550, "550 " + failureText(e));
        fillFailText();
        data_.Close();
        finishRequest(550);
        return false;
    }
    return true;
}

std::function<void(int)> FtpComponent::dataHook(DataEvent handler)
{
    return [this, handler](int error) {
        try {
            (this->*handler)(error);
        } catch (const std::exception& e) {
            failTransfer(426, "426 " + failureText(e));
        }
    };
}

// Ends the transfer at once with a made-up reply.
void FtpComponent::failTransfer(int code, const std::string& text)
{
    setReply(code, text);
    fillFailText();
    closeLocalFile();
    data_.ClearHooks();
    data_.Close();
    restartOffset_ = 0;
    finishRequest(code);
}

void FtpComponent::noteTransferFault(int code, const std::string& text)
{
    if (faultCode_ != 0) return;
    faultCode_ = code;
    faultText_ = text;
}

// ---- progress and finishing ---------------------------------------------

bool FtpComponent::progressAsksStop()
{
    moveDeadline();
    if (!OnProgress || !OnProgress(bytesMoved_ + restartOffset_)) return false;
    display("! Abort requested");
    noteTransferFault(426, "426 Transfer aborted by application");
    data_.Close();
    return true;
}

void FtpComponent::dataClosed(int error)
{
    closeLocalFile();
    dataClosed_ = true;
    dataCloseError_ = error;
    moveDeadline();
    if (dataCommand_ == "STOR" || dataCommand_ == "APPE") {
        // Only this side knows where the file ends: a server that closes
        // before our end of the stream has stopped taking the file, whatever
        // it answers; a close with an error may have lost any byte in flight.
        const bool ourEndFirst = data_.SendingShut();
        const bool byPeer = data_.ClosedByPeer();
        if (byPeer && !ourEndFirst)
            noteTransferFault(426, "426 Data connection closed by the server before the end of the file.");
        else if (error != 0)
            noteTransferFault(426, "426 Data connection ended with error " + std::to_string(error) + ".");
        // Over TLS the wire also carries record headers and the handshake;
        // there the drained send queue at the end of the file stands for it.
        const std::int64_t onWire = data_.BytesSent() - socketSentBase_;
        bytesSentOut_ = bytesMoved_;
        sentToEnd_ = endOfFile_ && ourEndFirst && error == 0 && (UseTls || onWire == bytesMoved_);
    }
    tryFinishTransfer();
}

void FtpComponent::tryFinishTransfer()
{
    if (!replySeen_ || !dataClosed_) return;
    endTick_ = GetTickCount();
    display(summaryLine(bytesMoved_, endTick_ - startTick_));
    restartOffset_ = 0;
    if (faultCode_ != 0) {
        setReply(faultCode_, faultText_);
        fillFailText();
        finishRequest(faultCode_);
        return;
    }
    finishRequest(dataCloseError_);
}

// ---- receiving: RETR, LIST, NLST ----------------------------------------

void FtpComponent::stepRetr() { beginReceive("RETR", FtpRequest::Retr); }
void FtpComponent::stepList() { beginReceive("LIST", FtpRequest::List); }
void FtpComponent::stepNlst() { beginReceive("NLST", FtpRequest::Nlst); }

void FtpComponent::beginReceive(const char* command, FtpRequest kind)
{
    if (!Connected()) throw FtpFailure(std::string(command) + ": not connected");
    checkRequest(kind);
    if (LocalFileName.empty()) throw FtpFailure("LocalFileName empty");

    setRequest(kind, {150, 125}, &FtpComponent::firstReplyReceiving);
    dataCommand_ = command;
    replySeen_ = dataClosed_ = false;
    bytesMoved_ = 0;
    dataCloseError_ = 0;
    faultCode_ = 0;
    faultText_.clear();
    startTick_ = GetTickCount();
    data_.OnIncomingConnection = dataHook(&FtpComponent::acceptForReceiving);

    if (!openLocalFile(true)) {
        setReply(550, "Unable to open local file " + LocalFileName);
        fillFailText();
        data_.ClearHooks();
        data_.Close();
        finishRequest(550);
        return;
    }
    if (PassiveTransfers && !connectPassive(&FtpComponent::connectedForReceiving)) {
        closeLocalFile();
        return;
    }
    // In passive mode the command goes out without waiting for the data
    // connection.
    sendRequest(RemotePath.empty() ? dataCommand_ : dataCommand_ + " " + RemotePath);
    if (!PassiveTransfers && earlyConnection_) data_.OnIncomingConnection(0);
}

// The pending connection that comes from the control connection's peer
// (the server, or the proxy); any other is closed at once, so whoever
// reaches the PORT address first gets nothing. INVALID_SOCKET while the
// server has not connected yet.
SOCKET FtpComponent::acceptFromServer()
{
    const std::uint32_t server = ctrl_.RemoteSockaddr().sin_addr.s_addr;
    for (;;) {
        sockaddr_in peer{};
        const SOCKET s = data_.Accept(&peer);
        if (s == INVALID_SOCKET || peer.sin_addr.s_addr == server) return s;
        const linger abort{1, 0};  // a reset: not even an orderly end reaches it
        setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
        closesocket(s);
        display(std::string("! Data connection from ") + inet_ntoa(peer.sin_addr) + " refused");
    }
}

void FtpComponent::acceptForReceiving(int)
{
    const SOCKET accepted = acceptFromServer();
    if (accepted == INVALID_SOCKET) return;
    data_.Close();  // the listening socket
    data_.OnClosed = dataHook(&FtpComponent::dataClosed);
    data_.OnDataReady = dataHook(&FtpComponent::receiveData);
    data_.Dup(accepted);
    startTick_ = GetTickCount();
    if (UseTls) startDataTls(nullptr);
}

void FtpComponent::connectedForReceiving(int error)
{
    if (error != 0) {
        failTransfer(550, "Unable to establish data connection, error #" + std::to_string(error));
        return;
    }
    data_.OnClosed = dataHook(&FtpComponent::dataClosed);
    data_.OnDataReady = dataHook(&FtpComponent::receiveData);
    startTick_ = GetTickCount();
    if (UseTls) startDataTls(nullptr);
}

void FtpComponent::receiveData(int)
{
    if (progressAsksStop()) return;
    ioBuffer_.resize(kReceiveBlock);
    char* const buffer = ioBuffer_.data();
    const int n = data_.Read(buffer, kReceiveBlock);
    if (n < 0) {
        const int code = data_.LastError();
        if (data_.State() == SocketState::Connected && code != WSAEWOULDBLOCK) {
            display("! Data: Receive error " + std::to_string(code));
            noteTransferFault(426, "426 Data: Receive error " + std::to_string(code));
            data_.HalfClose(SD_BOTH);
        }
        return;
    }
    if (n == 0) return;
    bytesMoved_ += n;
    if (!localStream_ || std::fwrite(buffer, 1, std::size_t(n), localStream_) != std::size_t(n)) {
        display("! Error writing local file");
        noteTransferFault(550, "550 Error writing local file " + LocalFileName);
        data_.HalfClose(SD_BOTH);
    }
}

void FtpComponent::firstReplyReceiving(int code, const std::string&)
{
    if (code == 150 || code == 125) {
        replyHandler_ = &FtpComponent::finalReplyReceiving;
        return;
    }
    fillFailText();
    data_.ClearHooks();
    data_.Close();
    closeLocalFile();
    restartOffset_ = 0;
    finishRequest(code);
}

void FtpComponent::finalReplyReceiving(int code, const std::string&)
{
    if (code == 125 || code == 226 || code == 250) {
        replySeen_ = true;
        tryFinishTransfer();
        return;
    }
    fillFailText();
    closeLocalFile();
    data_.ClearHooks();
    data_.Close();
    display("! RETR/LIST/NLST Failed");
    restartOffset_ = 0;
    finishRequest(code);
}

// ---- sending: STOR, APPE -------------------------------------------------

void FtpComponent::stepStor() { beginSend("STOR", FtpRequest::Stor); }
void FtpComponent::stepAppe() { beginSend("APPE", FtpRequest::Appe); }

void FtpComponent::beginSend(const char* command, FtpRequest kind)
{
    if (!Connected()) throw FtpFailure("STOR/APPE: not connected");
    checkRequest(kind);
    if (LocalFileName.empty()) throw FtpFailure("LocalFileName empty");

    setRequest(kind, {150, 125}, &FtpComponent::firstReplySending);
    dataCommand_ = command;
    sendCommandText_ = dataCommand_ + " " + RemotePath;
    replySeen_ = dataClosed_ = dataConnected_ = replyReady_ = false;
    endOfFile_ = false;
    bytesSentOut_ = 0;
    sentToEnd_ = false;
    socketSentBase_ = data_.BytesSent();
    startTick_ = 0;
    bytesMoved_ = 0;
    dataCloseError_ = 0;
    faultCode_ = 0;
    faultText_.clear();

    if (OnReadyToSend && OnReadyToSend()) {
        const std::string text = "426 Transmit cancelled by application";
        setFailText(text);
        setReply(426, text);
        display("! " + text);
        data_.ClearHooks();
        data_.Close();
        finishRequest(426);
        return;
    }
    data_.OnIncomingConnection = dataHook(&FtpComponent::acceptForSending);
    if (!openLocalFile(false)) {
        setReply(550, "Unable to open local file " + LocalFileName);
        fillFailText();
        data_.ClearHooks();
        data_.Close();
        finishRequest(550);
        return;
    }
    endOfFile_ = false;

    if (PassiveTransfers) {
        // STOR goes out once the data connection stands (connectedForSending).
        if (connectPassive(&FtpComponent::connectedForSending))
            setState(FtpState::AwaitReply);
        else
            closeLocalFile();
        return;
    }
    sendRequest(sendCommandText_);
    if (earlyConnection_) data_.OnIncomingConnection(0);
}

void FtpComponent::connectedForSending(int error)
{
    if (error != 0) {
        failTransfer(550, "Unable to establish data connection, error #" + std::to_string(error));
        return;
    }
    startTick_ = GetTickCount();
    data_.OnClosed = dataHook(&FtpComponent::dataClosed);
    startSendBuffer();
    replyHandler_ = &FtpComponent::firstReplySending;
    // The server starts its side of the handshake once it has the command.
    if (UseTls)
        startDataTls(&FtpComponent::sendingTlsReady);
    else
        dataConnected_ = true;
    sendRequest(sendCommandText_);
}

void FtpComponent::acceptForSending(int)
{
    const SOCKET accepted = acceptFromServer();
    if (accepted == INVALID_SOCKET) return;
    data_.Close();  // the listening socket
    data_.OnClosed = dataHook(&FtpComponent::dataClosed);
    data_.OnDataReady = dataHook(&FtpComponent::discardData);
    data_.OnSendDone = dataHook(&FtpComponent::sendNextBlock);
    data_.Dup(accepted);
    int sendBuffer = 0;
    int len = sizeof sendBuffer;
    if (getsockopt(data_.Handle(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&sendBuffer),
                   &len) != 0)
        throw FtpFailure("getsockopt(SO_SNDBUF) failed");
    data_.SetLinger(0, 10);
    data_.ApplyLinger();
    startSendBuffer();
    if (UseTls) {
        startDataTls(&FtpComponent::sendingTlsReady);
        return;
    }
    dataConnected_ = true;
    // The first reply may have come before the connection: start from the
    // message loop, never inside this event.
    if (replyReady_ && startTick_ == 0) PostMessageA(window_, kMsgStartSending, 0, 0);
}

// The send buffer below Winsock holds bytes that count as sent but have not
// reached the server; after the close, the wait for the final reply must
// cover them. Left alone, the host's TCP stack grows it to megabytes: many
// minutes of a slow link. So it holds about two seconds of the rate the link
// takes bytes at, between 4 KiB and 512 KiB. The upper bound also bounds
// what is still in flight when the file ends: a server that stops reading
// part-way must have its close here before our end of the stream, or a
// server without SIZE could not be caught (see sendOneBlock).
void FtpComponent::startSendBuffer()
{
    sendBuffer_ = kMinSendBuffer;
    setSendBuffer(sendBuffer_);
    fitTick_ = GetTickCount();
    fitSent_ = -1;
}

void FtpComponent::setSendBuffer(int bytes)
{
    if (data_.Handle() == INVALID_SOCKET) return;
    setsockopt(data_.Handle(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

void FtpComponent::fitSendBuffer()
{
    const DWORD now = GetTickCount();
    const DWORD elapsed = now - fitTick_;
    if (elapsed < kFitIntervalMs) return;
    const std::int64_t sent = data_.BytesSent();
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

void FtpComponent::discardData(int)
{
    char sink[2048];
    data_.Read(sink, sizeof sink);
}

void FtpComponent::firstReplySending(int code, const std::string&)
{
    if (code == 150 || code == 125) {
        replyReady_ = true;
        replyHandler_ = &FtpComponent::finalReplySending;
        if (PassiveTransfers) {
            data_.OnSendDone = dataHook(&FtpComponent::sendNextBlock);
            sendNextBlock(0);
        } else if (dataConnected_ && startTick_ == 0) {
            PostMessageA(window_, kMsgStartSending, 0, 0);
        }
        return;
    }
    fillFailText();
    data_.ClearHooks();
    data_.Close();
    closeLocalFile();
    restartOffset_ = 0;
    finishRequest(code);
}

// Message 1026: the active data connection and the first reply are both in.
void FtpComponent::startSending()
{
    if (startTick_ != 0) return;
    startTick_ = GetTickCount();
    try {
        sendNextBlock(0);
    } catch (const std::exception& e) {
        failTransfer(426, "426 " + failureText(e));
    }
}

// Blocks go out one after another while Winsock takes each one whole; a
// block it takes only in part stays queued in the socket, and the socket's
// next FD_WRITE (SendDone) brings the next call, so a slow server slows the
// reading of the file. After kBlocksPerTurn blocks the call returns to the
// message loop, so that replies and cancels are not held up; the write
// notice that the socket posted for the first block continues from there.
void FtpComponent::sendNextBlock(int error)
{
    for (int turn = 0; turn < kBlocksPerTurn && sendOneBlock(error); ++turn) error = 0;
}

// True when a whole block went to Winsock and the next may follow at once.
bool FtpComponent::sendOneBlock(int error)
{
    if (!localStream_) return false;
    if (progressAsksStop()) return false;
    if (error != 0) {
        display("! Error #" + std::to_string(error) + " sending data");
        noteTransferFault(426, "426 Error #" + std::to_string(error) + " sending data");
        data_.Close();
        return false;
    }
    if (endOfFile_ || !replyReady_ || !dataConnected_) return false;
    // Bytes of the last block still wait in the socket's queue: its next
    // FD_WRITE continues. Another trigger (the start message of an active
    // transfer) must neither read on nor end the file in front of them.
    if (!data_.AllSent()) return false;
    ioBuffer_.resize(kSendBlock);
    char* const block = ioBuffer_.data();
    const std::size_t n = std::fread(block, 1, kSendBlock, localStream_);
    if (n > 0) {
        bytesMoved_ += std::int64_t(n);
        data_.Send(block, int(n));
        return data_.AllSent();
    }
    if (std::ferror(localStream_)) {
        display("! Error reading file");
        noteTransferFault(550, "550 Error reading local file " + LocalFileName);
        data_.Close();
        return false;
    }
    // The server sees the end of the file as the end of the stream. The
    // socket stays open until the server closes its side (dataClosed): its
    // close after ours is the sign that it read up to our end. A close of
    // the server that is already here came before the end of the file.
    endOfFile_ = true;
    if (data_.PeerHasClosed()) {
        display("! Data connection closed by the server before the end of the file");
        noteTransferFault(426, "426 Data connection closed by the server before the end of the file.");
        data_.Close();
        return false;
    }
    data_.ShutdownSending();
    return false;
}

void FtpComponent::finalReplySending(int code, const std::string&)
{
    if (code == 226 || code == 250) {
        replySeen_ = true;
        tryFinishTransfer();
        return;
    }
    fillFailText();
    closeLocalFile();
    data_.ClearHooks();
    data_.Close();
    display("! STOR Failed");
    restartOffset_ = 0;
    finishRequest(code);
}

} // namespace ftp
