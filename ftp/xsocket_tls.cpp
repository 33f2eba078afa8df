// XSocket's TLS layer: drives a TlsSession over the socket's own events.
// During a handshake every FD_READ goes to the session and the owner hears
// nothing until TlsReady; afterwards Send encrypts into records and Read
// decrypts whole records, keeping a partial record for the next FD_READ.
// Nothing here blocks.
#include "ftp/xsocket.h"

#include "ftp/tls_record.h"

namespace ftp {
namespace {

// Bytes taken from the socket per recv: a few records.
constexpr int kWireChunk = 64 * 1024;

} // namespace

void XSocket::StartTls(std::unique_ptr<TlsSession> session)
{
    if (State() != SocketState::Connected) throw FtpFailure("StartTls: socket not connected");
    tlsReset();
    tls_ = std::move(session);
    tlsHandshaking_ = true;
    std::string hello;
    if (tls_->Start(hello) == TlsSession::Step::Failed) {
        const std::string detail = tls_->Failure().detail;
        tlsReset();
        throw FtpFailure("TLS: " + detail);
    }
    sendWire(hello.data(), int(hello.size()));
}

void XSocket::tlsReset()
{
    tls_.reset();
    tlsIn_.clear();
    tlsPlain_.clear();
    tlsHeld_.clear();
    tlsHandshaking_ = false;
    tlsReadyReported_ = false;
    tlsClosed_ = false;
}

// FD_READ (or FD_CLOSE) during a handshake.
void XSocket::tlsHandshakeRead()
{
    char chunk[16 * 1024];
    const int n = recv(handle_.get(), chunk, sizeof chunk, 0);
    if (n == SOCKET_ERROR) {
        const int e = WSAGetLastError();
        if (e == WSAEWOULDBLOCK) return;
        lastError_ = e;
        tlsContinueHandshake(true);
        return;
    }
    bytesReceived_ += n;
    tlsIn_.append(chunk, std::size_t(n));
    tlsContinueHandshake(n == 0);
}

void XSocket::tlsContinueHandshake(bool endOfStream)
{
    const SOCKET h = handle_.get();
    std::string out;
    TlsSession::Step step = tls_->Continue(tlsIn_, out);
    if (!out.empty()) sendWire(out.data(), int(out.size()));
    if (sendFailure_ != 0) return;  // the connection is lost; its Closed follows
    if (step == TlsSession::Step::Continue) {
        if (!endOfStream) return;
        step = TlsSession::Step::Failed;  // the peer went away mid-handshake
    }
    tlsHandshaking_ = false;
    if (step == TlsSession::Step::Done) {
        if (!tlsHeld_.empty()) {
            std::string held;
            held.swap(tlsHeld_);
            tlsSend(held.data(), int(held.size()));
        }
        if (!tlsReadyReported_) {
            tlsReadyReported_ = true;
            if (OnTlsReady) OnTlsReady(true);
            if (handle_.get() != h) return;
        }
        // Application data that came with the last handshake records.
        if (!tlsIn_.empty()) PostMessageA(window_.get(), kMsgSocketEvent, WPARAM(h), FD_READ);
        return;
    }
    tlsClosed_ = true;
    if (OnTlsReady) OnTlsReady(false);
    // An owner that did not close the connection gets it closed here: the
    // session cannot carry data any more.
    if (handle_.get() == h && State() != SocketState::Closed) Close();
}

int XSocket::tlsSend(const char* data, int count)
{
    if (tlsHandshaking_) {
        if (!tlsReadyReported_) throw FtpFailure("Send: TLS handshake not finished");
        tlsHeld_.append(data, std::size_t(count));  // renegotiation in progress
        return count;
    }
    std::string wire;
    tls_->Encrypt(data, std::size_t(count), wire);
    sendWire(wire.data(), int(wire.size()));
    return count;
}

int XSocket::tlsRead(char* buffer, int size)
{
    if (tlsPlain_.empty() && !tlsHandshaking_) {
        // Every read goes to the socket, even after close_notify: Winsock
        // announces the next FD_READ, and the FD_CLOSE, only after a recv.
        std::string chunk(kWireChunk, '\0');
        const int n = recv(handle_.get(), chunk.data(), kWireChunk, 0);
        if (n == SOCKET_ERROR) {
            lastError_ = WSAGetLastError();
            // Records may be waiting already: they came with the end of the
            // handshake.
            if (lastError_ != WSAEWOULDBLOCK || tlsIn_.empty() || tlsClosed_)
                return tlsClosed_ && lastError_ == WSAEWOULDBLOCK ? 0 : -1;
        } else if (n == 0) {
            tlsClosed_ = true;
        } else if (!tlsClosed_) {
            tlsIn_.append(chunk.data(), std::size_t(n));
        }
        if (!tlsClosed_) {
            const SOCKET h = handle_.get();
            const auto dr = tls_->Decrypt(tlsIn_, tlsPlain_);
            switch (dr) {
            case TlsSession::Decrypted::Ok:
                break;
            case TlsSession::Decrypted::Closed:
                // close_notify ends the stream as FD_CLOSE would; peers such
                // as vsftpd wait for ours (sent by Close) before they close.
                tlsClosed_ = true;
                PostMessageA(window_.get(), kMsgSocketEvent, WPARAM(handle_.get()), FD_CLOSE);
                break;
            case TlsSession::Decrypted::Renegotiate:
                tlsHandshaking_ = true;
                tlsContinueHandshake(false);
                if (handle_.get() != h) {
                    lastError_ = WSAECONNABORTED;
                    return -1;
                }
                break;
            case TlsSession::Decrypted::Failed:
                // A record that does not decrypt ends the connection.
                lastError_ = WSAECONNABORTED;
                Close();
                return -1;
            }
        }
    }
    if (tlsPlain_.empty()) {
        if (tlsClosed_) return 0;
        lastError_ = WSAEWOULDBLOCK;
        return -1;
    }
    lastError_ = 0;
    const int n = size < int(tlsPlain_.size()) ? size : int(tlsPlain_.size());
    tlsPlain_.copy(buffer, std::size_t(n));
    tlsPlain_.erase(0, std::size_t(n));
    bytesReceived_ += n;
    morePending_ = !tlsPlain_.empty();
    return n;
}

// close_notify before the close, when nothing else is still waiting to go
// out (it must be the last record of the connection).
void XSocket::tlsSendGoodbye()
{
    if (!TlsEstablished() || !sendQueue_.empty() || !handle_) return;
    const std::string bye = tls_->Shutdown();
    if (!bye.empty()) send(handle_.get(), bye.data(), int(bye.size()), 0);
}

} // namespace ftp
