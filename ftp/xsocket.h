// XSocket: one Windows Sockets handle in non-blocking, event-driven form.
//
// Every object owns a hidden notification window of class
// "XSocketWindowClass" (window long 0 holds the object). WSAAsyncSelect
// posts its events to that window, and so does a host lookup, which runs
// getaddrinfo on a thread of its own (IPv6 and IPv4 addresses); the window
// procedure turns them into the event hooks below. Nothing here blocks: an
// owner that needs to wait pumps messages. Connections go over IPv4 or IPv6,
// as the address in Addr says.
//
// Thread rule: an object, its window and all its events belong to the thread
// that constructed it; only that thread may call its operations. The one
// exception is PumpMessages, which pumps the *calling* thread's queue.
//
// Failures of Windows Sockets calls and refusals are thrown as FtpFailure
// with the text "Error N in function OP: \r\n" + WinsockErrorText(N), or the
// refusal's own text, unless an error hook (OnError) is installed.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ftp/ftp_error.h"
#include "ftp/resolve.h"
#include "ftp/tls_session.h"
#include "runtime/handles.h"

namespace ftp {

enum class SocketState {
    Invalid = 0,
    Opened = 1,
    Bound = 2,
    Connecting = 3,
    Connected = 4,
    Accepting = 5,  // never entered
    Listening = 6,
    Closed = 7,
};
const char* socketStateName(SocketState s);

// How the current connection's two ends went, beside SocketState. Every new
// connection (Connect, Listen, Dup) starts Open. Closed has been reported to
// the owner exactly in the last three.
enum class ConnectionLife {
    Open,             // nothing has ended
    EndQueued,        // our end of the stream (TLS close_notify) waits in the send queue; the shutdown follows
    EndSent,          // our end of the stream is sent; the peer's close is awaited
    PeerClosed,       // the peer ended the connection before our end (FD_CLOSE, or a reset while sending)
    PeerClosedAfterOurEnd,  // the peer closed after our end: the orderly end of an upload
    ClosedHere,       // Close on this side
};
const char* connectionLifeName(ConnectionLife life);

// Window messages of the notification window.
constexpr UINT kMsgSocketEvent = WM_USER + 1;    // 1025 WSAAsyncSelect event
constexpr UINT kMsgLookupDone = WM_USER + 2;     // 1026 forward host lookup finished; wParam its number
constexpr UINT kMsgCloseLater = WM_USER + 4;     // 1028 delayed close
constexpr UINT kMsgSendFailed = WM_USER + 6;     // 1030 a send failed: Closed, from the loop

// Creates a hidden window of class "XSocketWindowClass" on the calling
// thread (registering the class on first use). Window long 0 starts at 0,
// so the class procedure passes everything to DefWindowProcA until an owner
// stores itself there. Throws "Unable to create window." on failure.
HWND createNotificationWindow();

struct LookupJob;  // a host lookup and its thread (xsocket.cpp)

class XSocket {
public:
    XSocket();
    ~XSocket();
    XSocket(const XSocket&) = delete;
    XSocket& operator=(const XSocket&) = delete;

    // ---- settings ------------------------------------------------------
    // Addr, Port and Proto may only change while the state is Closed.
    void SetAddr(const std::string& text);
    void SetPort(const std::string& text);
    void SetProto(const std::string& text);
    void SetBindAddr(const std::string& text);
    void SetBindPort(const std::string& text);
    const std::string& Addr() const { return addr_; }
    const std::string& Port() const { return port_; }
    const std::string& Proto() const { return proto_; }
    const std::string& BindAddr() const { return bindAddr_; }
    const std::string& BindPort() const { return bindPort_; }

    // linger mode: 0 off, 1 on, 2 leave the system default.
    void SetLinger(int mode, int seconds) { lingerMode_ = mode; lingerSeconds_ = seconds; }
    // Capacity of one send block (default 1514): each block is one send call.
    void SetBlockSize(std::size_t bytes) { blockSize_ = bytes > 0 ? bytes : 1; }
    int LingerMode() const { return lingerMode_; }
    int LingerSeconds() const { return lingerSeconds_; }

    // ---- operations ----------------------------------------------------
    void Connect();
    void Listen();
    // Accepts a pending connection; `peer` gets its address. Empty, with
    // LastError() WSAEWOULDBLOCK, when none is pending.
    rt::OwnedSocket Accept(NetAddress* peer = nullptr);
    void Dup(rt::OwnedSocket accepted);
    // Queues the bytes and sends what Winsock takes. It never fires an event
    // itself: SendDone comes from the message loop, and a connection found
    // lost while sending is reported as Closed from there too (message
    // 1030), so no hook runs inside Send.
    int Send(const char* data, int count);
    int Read(char* buffer, int size);
    void HalfClose(int how);
    // Ends the sending side (the peer reads the end of the stream) and keeps
    // the socket open for the peer's own close, which comes as Closed.
    void ShutdownSending();
    // The peer's end of the stream (or a reset) is already waiting here,
    // whether or not its FD_CLOSE has been handled yet.
    bool PeerHasClosed();
    void Close(bool shutdownFirst = false);
    void CloseLater();
    void HoldEvents();
    void ReleaseEvents();
    // Looks a host up, IPv6 and IPv4 (LookupDone). An address text (IPv4 as
    // inet_addr takes it, IPv6 with or without brackets) is answered at
    // once; a name is looked up on a thread of its own, and its result comes
    // through the message loop. A lookup that is cancelled, replaced by
    // another or outlived by the object reports nothing.
    void LookupHost(const std::string& name);
    void CancelLookup();
    // Lookup threads of the process still running (a cancelled one ends on
    // its own and posts nothing).
    static int LookupsRunning();
    // Peer address as text (dotted, or IPv6) and its port in host order.
    void GetPeerName(std::string& address, unsigned& port);
    std::string LocalAddress() const;   // "error" when getsockname fails
    int LocalPortNumber() const;         // host order; -1 when getsockname fails
    NetAddress LocalSockaddr() const;    // empty when getsockname fails
    void ApplyLinger();
    // TCP keep-alives after `idleMs` of quiet, then every `intervalMs`
    // (SIO_KEEPALIVE_VALS); the system's default waits two hours. False
    // when there is no connection or Windows refused.
    bool KeepAlive(unsigned idleMs, unsigned intervalMs);
    long PendingBytes();
    void PumpMessages();

    // ---- read-only state -----------------------------------------------
    SocketState State() const { return state_.load(); }
    SOCKET Handle() const { return handle_.get(); }
    HWND Window() const { return window_.get(); }
    int LastError() const { return lastError_; }
    bool MorePending() const { return morePending_; }
    const std::string& LookupResult() const { return lookupResult_; }
    // Every address of the last lookup as text, in getaddrinfo's order.
    const std::vector<std::string>& AddressList() const { return addressList_; }
    std::int64_t BytesReceived() const { return bytesReceived_; }
    std::int64_t BytesSent() const { return bytesSent_; }
    bool AllSent() const { return allSent_; }
    bool Paused() const { return paused_; }
    ConnectionLife Life() const { return life_; }
    // The last connection ended from the other side (FD_CLOSE, or a reset
    // seen while sending), not by Close on this side.
    bool ClosedByPeer() const
    {
        return life_ == ConnectionLife::PeerClosed || life_ == ConnectionLife::PeerClosedAfterOurEnd;
    }
    // Our end of the stream went out (or waits to) before the connection ended.
    bool SendingShut() const
    {
        return life_ == ConnectionLife::EndQueued || life_ == ConnectionLife::EndSent ||
               life_ == ConnectionLife::PeerClosedAfterOurEnd;
    }
    // The remote address filled by Connect: its family decides how data
    // connections are made, and the active data port accepts only it.
    const NetAddress& RemoteSockaddr() const { return remote_; }
    // Set when a pump through this object took WM_QUIT. Read across threads.
    bool Terminated() const { return terminated_.load(); }

    // ---- events --------------------------------------------------------
    // Each hook gets the 16-bit Windows Sockets error code (0 = success).
    std::function<void(int)> OnConnectDone;
    std::function<void(int)> OnDataReady;
    std::function<void(int)> OnSendDone;
    std::function<void(int)> OnIncomingConnection;
    std::function<void(int)> OnClosed;
    std::function<void(int)> OnLookupDone;
    std::function<void(SocketState oldState, SocketState newState)> OnStateChanged;
    // When set, failures are told here instead of being thrown.
    std::function<void(int code, const std::string& text)> OnError;
    // Every time Windows Sockets accepts or delivers at least one byte.
    // Kept by ClearHooks: it observes the object, not one connection.
    std::function<void()> OnTraffic;
    // When set, PumpMessages calls it instead of pumping itself.
    std::function<void()> PumpReplacement;

    // ---- TLS on this connection (xsocket_tls.cpp) -------------------------
    // Starts the client handshake on a Connected socket; throws FtpFailure
    // when it cannot start. TlsReady fires once: true when the handshake and
    // the certificate check are through, false when they failed (the reason
    // is in Tls()->Failure()). From then on Send takes and Read returns
    // plaintext, and DataReady fires only when plaintext is ready. Close
    // sends close_notify and ends the TLS session.
    void StartTls(std::unique_ptr<TlsSession> session);
    bool TlsEstablished() const { return tls_ && !tlsHandshaking_ && tlsReadyReported_; }
    const TlsSession* Tls() const { return tls_.get(); }
    std::function<void(bool ok)> OnTlsReady;

    // Clears the event hooks (not the error hook or pump replacement).
    void ClearHooks();

    // Message handling of the notification window (window procedure only).
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

private:
    struct SendBlock {
        std::vector<char> bytes;  // up to blockSize_
        std::size_t readPos = 0;
    };

    void setState(SocketState s);
    // Takes the handle of a new connection and starts its life afresh.
    void beginConnection(rt::OwnedSocket handle);
    bool closedReported() const
    {
        return life_ == ConnectionLife::PeerClosed || life_ == ConnectionLife::PeerClosedAfterOurEnd ||
               life_ == ConnectionLife::ClosedHere;
    }
    // The peer ended the connection: Closed is reported (once).
    void peerClosed(int error);
    void reportSendFailure(SOCKET h);
    void resetSettings();
    void resolveForConnection();
    void fail(const std::string& text, int code = 0);
    void reportWsaError(int code, const std::string& operation);
    void failAfterOpen(int code, const std::string& operation);
    void abandonHandle();
    void purgeSocketEvents();
    void socketEvent(WPARAM wParam, LPARAM lParam);
    void deliverData(int error);
    bool flushSendQueue();
    // One send call: the bytes Winsock took, 0 when it would block, -1 when
    // the connection is gone (reported later, see Send) or the call failed.
    int sendSome(const char* data, int count);
    void lookupFinished(WPARAM number);
    int sendWire(const char* data, int count);
    // TLS (xsocket_tls.cpp)
    int tlsSend(const char* data, int count);
    int tlsRead(char* buffer, int size);
    void tlsHandshakeRead();
    void tlsContinueHandshake(bool endOfStream);
    void tlsSendGoodbye();
    void tlsReset();

    rt::OwnedSocket handle_;
    std::atomic<SocketState> state_{SocketState::Closed};
    rt::OwnedWindow window_;

    std::string addr_, port_, proto_ = "tcp", bindAddr_ = "0.0.0.0", bindPort_ = "0";
    bool addrSet_ = false, portSet_ = false, protoSet_ = true;
    bool addrResolved_ = false, portResolved_ = false, bindPortResolved_ = false,
         protoResolved_ = false;
    int family_ = AF_INET;
    int sockType_ = SOCK_STREAM;
    int protoNumber_ = 0;
    NetAddress remote_;
    unsigned remotePort_ = 0;  // host order
    unsigned bindPortNumber_ = 0;  // host order
    int lingerMode_ = 1;
    int lingerSeconds_ = 0;

    std::deque<SendBlock> sendQueue_;
    std::size_t blockSize_ = 1514;
    bool allSent_ = true;
    bool writeNoticePosted_ = false;  // Send's FD_WRITE notice is in the queue
    ConnectionLife life_ = ConnectionLife::Open;
    int sendFailure_ = 0;  // error of a send that found the connection lost; message 1030 reports it
    long eventMask_ = 0;
    bool paused_ = false;
    bool morePending_ = false;
    int lastError_ = 0;

    // The lookup in progress, shared with its thread; see LookupHost.
    std::shared_ptr<LookupJob> lookup_;
    std::string lookupResult_;
    std::vector<std::string> addressList_;

    std::int64_t bytesReceived_ = 0;
    std::int64_t bytesSent_ = 0;
    std::atomic<bool> terminated_{false};

    std::unique_ptr<TlsSession> tls_;
    std::string tlsIn_;     // received bytes not yet decrypted (a partial record at most)
    std::string tlsPlain_;  // decrypted bytes the owner has not read yet
    std::string tlsHeld_;   // plaintext sent during a renegotiation, encrypted after it
    bool tlsHandshaking_ = false;
    bool tlsReadyReported_ = false;
    bool tlsClosed_ = false;  // close_notify or end of stream seen
};

} // namespace ftp
