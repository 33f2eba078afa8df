#include "ftp/xsocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>

#include "ftp/owner_window_proc.h"
#include "ftp/resolve.h"
#include "ftp/winsock_errors.h"

namespace ftp {
namespace {

constexpr char kWindowClass[] = "XSocketWindowClass";
constexpr long kConnectMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;  // 59
constexpr long kListenMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;                // 43
constexpr long kDupMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;                  // 51

// Windows Sockets start-up is counted over all live objects.
std::mutex g_startupMutex;
int g_liveSockets = 0;
WSADATA g_wsaData;

// Lookup threads still running, and the numbers that tell lookups apart.
std::atomic<int> g_lookupsRunning{0};
std::atomic<unsigned> g_lookupNumber{0};

} // namespace

// A host lookup, shared by the socket that started it and the thread that
// runs it. The thread posts its end to the socket's window only while the
// lookup is not cancelled; the socket cancels it before it forgets it (a new
// lookup, CancelLookup, its destructor), so no result ever reaches an object
// that no longer waits for it.
struct LookupJob {
    std::mutex mutex;
    bool cancelled = false;  // behind mutex
    HWND window = nullptr;
    unsigned number = 0;
    std::string name;
    // Filled by the thread before it posts.
    int error = 0;
    std::vector<std::string> addresses;
};

namespace {

void runLookup(const std::shared_ptr<LookupJob>& job)
{
    // Its own hold on Windows Sockets: the last socket may go meanwhile.
    WSADATA data;
    const bool started = WSAStartup(0x0202, &data) == 0;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;  // IPv6 and IPv4, in the order the system prefers
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    int error = getaddrinfo(job->name.c_str(), nullptr, &hints, &found);
    std::vector<std::string> addresses;
    for (const addrinfo* ai = error == 0 ? found : nullptr; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
        const std::string text = addressText(NetAddress::fromSockaddr(ai->ai_addr, int(ai->ai_addrlen)));
        if (!text.empty() && std::find(addresses.begin(), addresses.end(), text) == addresses.end())
            addresses.push_back(text);
    }
    if (found) freeaddrinfo(found);
    if (error == 0 && addresses.empty()) error = WSANO_DATA;
    {
        std::lock_guard<std::mutex> lock(job->mutex);
        job->error = error;
        job->addresses = std::move(addresses);
        if (!job->cancelled) PostMessageA(job->window, kMsgLookupDone, WPARAM(job->number), 0);
    }
    if (started) WSACleanup();
    --g_lookupsRunning;
}

} // namespace

const char* socketStateName(SocketState value)
{
    // By value.
    static constexpr const char* kNames[] = {"Invalid", "Opened", "Bound", "Connecting", "Connected", "Accepting", "Listening", "Closed"};
    const auto i = std::size_t(value);
    return i < std::size(kNames) ? kNames[i] : "?";
}

const char* connectionLifeName(ConnectionLife value)
{
    // By value.
    static constexpr const char* kNames[] = {"Open", "EndQueued", "EndSent", "PeerClosed", "PeerClosedAfterOurEnd", "ClosedHere"};
    const auto i = std::size_t(value);
    return i < std::size(kNames) ? kNames[i] : "?";
}

HWND createNotificationWindow()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    {
        static std::mutex registerMutex;
        std::lock_guard<std::mutex> lock(registerMutex);
        WNDCLASSA wc{};
        if (!GetClassInfoA(instance, kWindowClass, &wc)) {
            wc = WNDCLASSA{};
            wc.lpfnWndProc = ownerWindowProc<XSocket, &XSocket::HandleMessage>;
            wc.cbWndExtra = sizeof(LONG_PTR);
            wc.hInstance = instance;
            wc.lpszClassName = kWindowClass;
            RegisterClassA(&wc);
        }
    }
    HWND hwnd = CreateWindowExA(WS_EX_TOOLWINDOW, kWindowClass, "", WS_POPUP, 0, 0, 0, 0,
                                nullptr, nullptr, instance, nullptr);
    if (!hwnd) throw FtpFailure("Unable to create window.");
    return hwnd;
}

XSocket::XSocket()
{
    {
        std::lock_guard<std::mutex> lock(g_startupMutex);
        if (g_liveSockets < 1) WSAStartup(0x0101, &g_wsaData);
        ++g_liveSockets;
    }
    try {
        window_.reset(createNotificationWindow());
    } catch (...) {
        std::lock_guard<std::mutex> lock(g_startupMutex);
        if (--g_liveSockets <= 0) {
            g_liveSockets = 0;
            WSACleanup();
        }
        throw;
    }
    SetWindowLongPtrA(window_.get(), 0, reinterpret_cast<LONG_PTR>(this));
    blockSize_ = 1514;
    resetSettings();
}

XSocket::~XSocket()
{
    CancelLookup();
    if (handle_) WSAAsyncSelect(handle_.get(), window_.get(), 0, 0);
    handle_.reset();
    // No message may reach the object any more while the window goes.
    SetWindowLongPtrA(window_.get(), 0, 0);
    window_.reset();
    std::lock_guard<std::mutex> lock(g_startupMutex);
    if (--g_liveSockets <= 0) {
        g_liveSockets = 0;
        WSACleanup();
    }
}

// ---- settings --------------------------------------------------------------

void XSocket::SetAddr(const std::string& text)
{
    if (State() != SocketState::Closed) return fail("Cannot change Addr if not closed");
    addr_ = text;
    addrSet_ = true;
    addrResolved_ = false;
}

void XSocket::SetPort(const std::string& text)
{
    if (State() != SocketState::Closed) return fail("Cannot change Port if not closed");
    port_ = text;
    portSet_ = true;
    portResolved_ = false;
}

void XSocket::SetProto(const std::string& text)
{
    if (State() != SocketState::Closed) return fail("Cannot change Proto if not closed");
    proto_ = text;
    protoSet_ = true;
    protoResolved_ = false;
}

void XSocket::SetBindAddr(const std::string& text) { bindAddr_ = text; }

void XSocket::SetBindPort(const std::string& text)
{
    bindPort_ = text;
    bindPortResolved_ = false;
}

void XSocket::resetSettings()
{
    addr_.clear();
    port_.clear();
    proto_ = "tcp";
    bindAddr_ = "0.0.0.0";
    bindPort_ = "0";
    addrSet_ = portSet_ = protoSet_ = false;
    addrResolved_ = portResolved_ = bindPortResolved_ = protoResolved_ = false;
    lingerMode_ = 1;
    lingerSeconds_ = 0;
    tlsReset();
}

void XSocket::ClearHooks()
{
    OnConnectDone = nullptr;
    OnDataReady = nullptr;
    OnSendDone = nullptr;
    OnIncomingConnection = nullptr;
    OnClosed = nullptr;
    OnLookupDone = nullptr;
    OnStateChanged = nullptr;
    OnTlsReady = nullptr;
}

// ---- failures --------------------------------------------------------------

void XSocket::fail(const std::string& text, int code)
{
    if (OnError) {
        OnError(code, text);
        return;
    }
    throw FtpFailure(text, code);
}

void XSocket::reportWsaError(int code, const std::string& operation)
{
    if ((code == WSAECONNRESET || code == WSAENOTCONN) && handle_) {
        abandonHandle();
    }
    lastError_ = code;
    fail(winsockErrorReport(code, operation), code);
}

void XSocket::failAfterOpen(int code, const std::string& operation)
{
    // A half-built socket is dropped so that the object stays reusable.
    abandonHandle();
    reportWsaError(code, operation);
}

void XSocket::abandonHandle()
{
    if (handle_) {
        WSAAsyncSelect(handle_.get(), window_.get(), 0, 0);
        handle_.reset();
        purgeSocketEvents();
    }
    setState(SocketState::Closed);
}

// Events already posted for a handle that is gone must not reach a later
// socket that happens to get the same handle value.
void XSocket::purgeSocketEvents()
{
    MSG m;
    while (PeekMessageA(&m, window_.get(), kMsgSocketEvent, kMsgSocketEvent, PM_REMOVE)) {
    }
}

void XSocket::setState(SocketState s)
{
    const SocketState old = state_.exchange(s);
    if (old != s && OnStateChanged) OnStateChanged(old, s);
}

void XSocket::beginConnection(rt::OwnedSocket handle)
{
    handle_ = std::move(handle);
    life_ = ConnectionLife::Open;
    sendFailure_ = 0;
    allSent_ = true;
    writeNoticePosted_ = false;
    sendQueue_.clear();
}

// ---- connecting ------------------------------------------------------------

void XSocket::resolveForConnection()
{
    if (!protoResolved_) {
        protoNumber_ = SocketResolveProto(proto_);
        sockType_ = protoNumber_ == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
        protoResolved_ = true;
    }
    if (!portResolved_) {
        remotePort_ = SocketResolvePort(port_, proto_) & 0xFFFFu;
        portResolved_ = true;
    }
    if (!bindPortResolved_) {
        bindPortNumber_ = SocketResolvePort(bindPort_, proto_) & 0xFFFFu;
        bindPortResolved_ = true;
    }
    if (!addrResolved_) {
        remote_ = SocketResolveHost(addr_);
        addrResolved_ = true;
    }
    remote_.setPort(remotePort_);
    family_ = remote_.family();
}

void XSocket::Connect()
{
    if (handle_ && State() != SocketState::Closed)
        return fail("Connect: Socket already in use");
    if (!portSet_) return fail("Connect: No Port Specified");
    if (!addrSet_) return fail("Connect: No IP Address Specified");
    if (!protoSet_) return fail("Connect: No Protocol Specified");
    try {
        resolveForConnection();
    } catch (const std::exception& e) {
        const std::string text = e.what();
        return fail(text.empty() ? "Connect: Unknown Error" : "Connect:" + text);
    } catch (...) {
        return fail("Connect: Unknown Error");
    }

    const SOCKET h = socket(family_, sockType_, protoNumber_);
    if (h == INVALID_SOCKET) return reportWsaError(WSAGetLastError(), "Connect (socket)");
    beginConnection(rt::OwnedSocket(h));
    setState(SocketState::Opened);

    if (sockType_ == SOCK_DGRAM) {
        if (remote_.isIpv4Broadcast()) {
            BOOL on = TRUE;
            if (setsockopt(h, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                           sizeof on) != 0)
                return failAfterOpen(WSAGetLastError(), "setsockopt(SO_BROADCAST)");
        }
        setState(SocketState::Connected);
        if (OnConnectDone) OnConnectDone(0);
        return;
    }

    BOOL on = TRUE;
    if (setsockopt(h, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) != 0)
        return failAfterOpen(WSAGetLastError(), "setsockopt(SO_REUSEADDR)");
    ApplyLinger();
    if (!handle_) return;  // an error hook took a linger failure
    if (setsockopt(h, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on) != 0)
        return failAfterOpen(WSAGetLastError(), "setsockopt(SO_KEEPALIVE)");
    if (bindPortNumber_ != 0 || bindAddr_ != "0.0.0.0") {
        // "0.0.0.0" stands for any local address of the connection's family.
        NetAddress local = NetAddress::any(family_);
        if (bindAddr_ != "0.0.0.0") {
            try {
                local = SocketResolveHost(bindAddr_);
            } catch (const std::exception& e) {
                abandonHandle();
                return fail(std::string("Connect:") + e.what());
            }
        }
        local.setPort(bindPortNumber_);
        if (bind(h, local.get(), local.length) != 0) return failAfterOpen(WSAGetLastError(), "Bind");
    }
    eventMask_ = kConnectMask;
    if (WSAAsyncSelect(h, window_.get(), kMsgSocketEvent, eventMask_) != 0)
        return failAfterOpen(WSAGetLastError(), "WSAAsyncSelect");
    if (connect(h, remote_.get(), remote_.length) != 0) {
        const int e = WSAGetLastError();
        if (e != WSAEWOULDBLOCK) {
            lastError_ = e;
            return failAfterOpen(e, "Connect");
        }
    }
    setState(SocketState::Connecting);
}

void XSocket::Listen()
{
    if (!portSet_) {
        lastError_ = WSAEINVAL;
        return fail("Listen: Port Not Assigned", WSAEINVAL);
    }
    if (!addrSet_) {
        lastError_ = WSAEINVAL;
        return fail("Listen: Address Not Assigned", WSAEINVAL);
    }
    if (!protoSet_) {
        lastError_ = WSAEINVAL;
        return fail("Listen: Protocol Not Assigned", WSAEINVAL);
    }
    if (handle_ && State() != SocketState::Closed)
        return fail("Listen: Socket already in use");
    try {
        resolveForConnection();
    } catch (const std::exception& e) {
        const std::string text = e.what();
        return fail(text.empty() ? "Listen: Unknown Error" : "Listen:" + text);
    }
    const SOCKET h = socket(family_, sockType_, protoNumber_);
    if (h == INVALID_SOCKET) return reportWsaError(WSAGetLastError(), "Listen (socket)");
    beginConnection(rt::OwnedSocket(h));
    setState(SocketState::Opened);
    if (bind(h, remote_.get(), remote_.length) != 0) return failAfterOpen(WSAGetLastError(), "Bind");
    setState(SocketState::Bound);
    if (sockType_ != SOCK_STREAM) return;
    if (listen(h, 5) != 0) return failAfterOpen(WSAGetLastError(), "Listen");
    setState(SocketState::Listening);
    eventMask_ = kListenMask;
    if (WSAAsyncSelect(h, window_.get(), kMsgSocketEvent, eventMask_) != 0)
        return failAfterOpen(WSAGetLastError(), "WSAAsyncSelect");
}

rt::OwnedSocket XSocket::Accept(NetAddress* peer)
{
    if (State() != SocketState::Listening) {
        lastError_ = WSAEINVAL;
        fail("not a listening socket", WSAEINVAL);
        return {};
    }
    NetAddress from;
    int len = sizeof from.storage;
    rt::OwnedSocket h(accept(handle_.get(), from.get(), &len));
    if (!h) {
        const int e = WSAGetLastError();
        lastError_ = e;
        // Nothing pending is no failure: the caller waits for FD_ACCEPT.
        if (e != WSAEWOULDBLOCK) reportWsaError(e, "Accept");
        return {};
    }
    from.length = len;
    if (peer) *peer = from;
    return h;
}

void XSocket::Dup(rt::OwnedSocket accepted)
{
    if (!accepted || accepted.get() == 0) return reportWsaError(WSAEINVAL, "Dup");
    if (handle_) {
        WSAAsyncSelect(handle_.get(), window_.get(), 0, 0);
        const bool failed = closesocket(handle_.release()) != 0;
        const int e = failed ? WSAGetLastError() : 0;
        purgeSocketEvents();
        setState(SocketState::Closed);
        if (failed) return reportWsaError(e, "Dup (closesocket)");
    }
    beginConnection(std::move(accepted));
    ApplyLinger();
    if (!handle_) return;
    eventMask_ = kDupMask;
    if (WSAAsyncSelect(handle_.get(), window_.get(), kMsgSocketEvent, eventMask_) != 0)
        return failAfterOpen(WSAGetLastError(), "WSAAsyncSelect");
    setState(SocketState::Connected);
}

// ---- sending and reading ----------------------------------------------------

int XSocket::Send(const char* data, int count)
{
    if (State() != SocketState::Connected) {
        lastError_ = WSAENOTCONN;
        reportWsaError(WSAENOTCONN, "Send");
        return 0;
    }
    return tls_ ? tlsSend(data, count) : sendWire(data, count);
}

// Queues bytes as they go onto the wire and flushes the queue.
int XSocket::sendWire(const char* data, int count)
{
    // The connection is lost; its Closed is on the way (message 1030).
    if (sendFailure_ != 0) return count;
    int left = count;
    bool blocked = false;
    // Nothing queued: the bytes go to Winsock straight from the caller's
    // buffer, and only what it does not take is copied into the queue.
    if (sendQueue_.empty() && sockType_ == SOCK_STREAM) {
        while (left > 0 && !blocked) {
            const int n = sendSome(data, left);
            if (n < 0) {  // the connection is lost, or the failure went to the error hook
                allSent_ = false;
                return count;
            }
            blocked = n == 0;
            data += n;
            left -= n;
        }
    }
    if (left > 0) allSent_ = false;
    while (left > 0) {
        if (sendQueue_.empty() || sendQueue_.back().bytes.size() >= blockSize_)
            sendQueue_.emplace_back();
        std::vector<char>& b = sendQueue_.back().bytes;
        const int room = int(blockSize_ - b.size());
        const int n = left < room ? left : room;
        b.insert(b.end(), data, data + n);
        data += n;
        left -= n;
    }
    // Winsock said it would block: its FD_WRITE brings the rest.
    if (blocked) return count;
    // SendDone must come from the message loop, never from inside Send. One
    // posted notice serves every Send made before it is handled.
    if (flushSendQueue() && !writeNoticePosted_)
        writeNoticePosted_ =
            PostMessageA(window_.get(), kMsgSocketEvent, WPARAM(handle_.get()), FD_WRITE) != 0;
    return count;
}

bool XSocket::flushSendQueue()
{
    while (!sendQueue_.empty()) {
        SendBlock& b = sendQueue_.front();
        if (b.readPos >= b.bytes.size()) {
            sendQueue_.pop_front();
            continue;
        }
        const int n = sendSome(b.bytes.data() + b.readPos, int(b.bytes.size() - b.readPos));
        if (n <= 0) return false;
        b.readPos += std::size_t(n);
        // After a partial send Winsock posts no FD_WRITE until a send has
        // failed with WSAEWOULDBLOCK, so the rest is tried at once.
    }
    allSent_ = true;
    return true;
}

int XSocket::sendSome(const char* data, int count)
{
    const int n = sockType_ == SOCK_DGRAM
                      ? sendto(handle_.get(), data, count, 0, remote_.get(), remote_.length)
                      : send(handle_.get(), data, count, 0);
    if (n != SOCKET_ERROR) {
        bytesSent_ += n;
        if (n > 0 && OnTraffic) OnTraffic();
        return n;
    }
    const int e = WSAGetLastError();
    switch (e) {
    case WSAECONNRESET:
    case WSAENOTSOCK:
    case WSAENOTCONN:
    case WSAEINVAL:
    case WSAECONNABORTED:
        // A lost connection is an event, not a failure of the sender, and
        // it reaches the owner from the message loop: the owner may be in
        // the middle of a hook or a step that sends (as PuTTY's try_send
        // defers its error to a callback).
        lastError_ = e;
        sendQueue_.clear();
        if (sendFailure_ == 0) {
            sendFailure_ = e;
            PostMessageA(window_.get(), kMsgSendFailed, WPARAM(handle_.get()), 0);
        }
        return -1;
    case WSAEWOULDBLOCK:
        return 0;
    default:
        reportWsaError(e, "TryToSend failed");
        return -1;
    }
}

int XSocket::Read(char* buffer, int size)
{
    if (tls_) return tlsRead(buffer, size);
    const int n = recv(handle_.get(), buffer, size, 0);
    if (n == SOCKET_ERROR) {
        lastError_ = WSAGetLastError();
        return -1;
    }
    bytesReceived_ += n;
    morePending_ = n == size;
    if (n > 0 && OnTraffic) OnTraffic();
    return n;
}

void XSocket::HalfClose(int how)
{
    if (handle_) shutdown(handle_.get(), how);
}

void XSocket::ShutdownSending()
{
    if (!handle_ || life_ != ConnectionLife::Open || sendFailure_ != 0) return;
    // Over TLS the stream ends with close_notify; servers such as vsftpd
    // take a bare end of the connection for a truncation. It goes through
    // the queue like data, so a full send buffer cannot drop it, and the
    // shutdown follows once it has gone (FD_WRITE).
    life_ = ConnectionLife::EndQueued;
    if (TlsEstablished()) {
        const std::string bye = tls_->Shutdown();
        if (!bye.empty()) sendWire(bye.data(), int(bye.size()));
        if (!sendQueue_.empty() || sendFailure_ != 0) return;
    }
    life_ = ConnectionLife::EndSent;
    if (shutdown(handle_.get(), SD_SEND) != 0) lastError_ = WSAGetLastError();
}

bool XSocket::PeerHasClosed()
{
    if (!handle_) return true;
    char probe;
    const int n = recv(handle_.get(), &probe, 1, MSG_PEEK);
    if (n == 0) return true;
    if (n > 0) return false;
    const int e = WSAGetLastError();
    return e != WSAEWOULDBLOCK && e != WSAEINPROGRESS;
}

// ---- closing ----------------------------------------------------------------

void XSocket::Close(bool shutdownFirst)
{
    if (!handle_) {
        setState(SocketState::Closed);
        resetSettings();
        return;
    }
    if (State() == SocketState::Closed) return;
    if (tls_ && !SendingShut()) tlsSendGoodbye();
    if (shutdownFirst) shutdown(handle_.get(), SD_SEND);
    WSAAsyncSelect(handle_.get(), window_.get(), 0, 0);
    int error = 0;
    while (closesocket(handle_.get()) != 0) {
        const int e = WSAGetLastError();
        if (e != WSAEWOULDBLOCK) {
            error = e;
            break;
        }
        PumpMessages();
    }
    handle_.release();  // closed above
    sendQueue_.clear();
    sendFailure_ = 0;   // a failure not reported yet belongs to this close
    purgeSocketEvents();
    setState(SocketState::Closed);
    if (!closedReported()) {
        life_ = ConnectionLife::ClosedHere;
        if (OnClosed) OnClosed(error);
    }
    resetSettings();
    if (error) reportWsaError(error, "Disconnect (closesocket)");
}

void XSocket::CloseLater() { PostMessageA(window_.get(), kMsgCloseLater, 0, 0); }

void XSocket::HoldEvents()
{
    if (handle_) WSAAsyncSelect(handle_.get(), window_.get(), 0, 0);
    paused_ = true;
}

void XSocket::ReleaseEvents()
{
    if (handle_) WSAAsyncSelect(handle_.get(), window_.get(), kMsgSocketEvent, eventMask_);
    paused_ = false;
}

// ---- host lookup --------------------------------------------------------------

void XSocket::LookupHost(const std::string& name)
{
    if (name.empty()) {
        lastError_ = WSAEINVAL;
        if (!OnError) throw FtpFailure("DNS lookup: invalid host name.", WSAEINVAL);
        OnError(WSAEINVAL, "DNS lookup: invalid host name.");
        if (OnLookupDone) OnLookupDone(WSAEINVAL);
        return;
    }
    CancelLookup();
    lookupResult_.clear();
    addressList_.clear();
    // An address is not looked up.
    std::string direct;
    const unsigned long v4 = inet_addr(name.c_str());
    if (v4 != INADDR_NONE || name == "255.255.255.255") {
        in_addr a;
        a.s_addr = v4;
        direct = inet_ntoa(a);
    } else if (const auto v6 = ipv6Literal(name)) {
        direct = addressText(*v6);
    }
    if (!direct.empty()) {
        lookupResult_ = direct;
        addressList_.push_back(direct);
        if (OnLookupDone) OnLookupDone(0);
        return;
    }
    if (!isHostName(name)) {
        if (OnLookupDone) OnLookupDone(WSAHOST_NOT_FOUND);
        return;
    }
    auto job = std::make_shared<LookupJob>();
    job->window = window_.get();
    job->number = ++g_lookupNumber;
    job->name = trimHostText(name);
    ++g_lookupsRunning;
    try {
        std::thread(runLookup, job).detach();
    } catch (const std::exception&) {
        --g_lookupsRunning;
        return reportWsaError(WSAENOBUFS, "Cannot start DNS lookup.");
    }
    lookup_ = std::move(job);
}

void XSocket::CancelLookup()
{
    if (!lookup_) return;
    {
        std::lock_guard<std::mutex> lock(lookup_->mutex);
        lookup_->cancelled = true;
    }
    lookup_.reset();
}

int XSocket::LookupsRunning() { return g_lookupsRunning.load(); }

void XSocket::lookupFinished(WPARAM number)
{
    // The end of a lookup that was cancelled or replaced meanwhile.
    if (!lookup_ || WPARAM(lookup_->number) != number) return;
    const std::shared_ptr<LookupJob> job = std::move(lookup_);
    int error;
    {
        std::lock_guard<std::mutex> lock(job->mutex);
        error = job->error;
        addressList_ = job->addresses;
    }
    if (error == 0) lookupResult_ = addressList_.front();
    // The 16 bits of a Windows Sockets event, as the other events carry.
    if (OnLookupDone) OnLookupDone(error & 0xFFFF);
}

// ---- addresses and options ------------------------------------------------------

void XSocket::GetPeerName(std::string& address, unsigned& port)
{
    NetAddress a;
    int len = sizeof a.storage;
    if (getpeername(handle_.get(), a.get(), &len) != 0) return reportWsaError(WSAGetLastError(), "getpeername");
    a.length = len;
    address = addressText(a);
    port = a.port();
}

std::string XSocket::LocalAddress() const
{
    const NetAddress a = LocalSockaddr();
    return a.empty() ? "error" : addressText(a);
}

int XSocket::LocalPortNumber() const
{
    const NetAddress a = LocalSockaddr();
    return a.empty() ? -1 : int(a.port());
}

NetAddress XSocket::LocalSockaddr() const
{
    NetAddress a;
    int len = sizeof a.storage;
    if (getsockname(handle_.get(), a.get(), &len) != 0) return {};
    a.length = len;
    return a;
}

void XSocket::ApplyLinger()
{
    if (lingerMode_ == 2) return;
    if (!handle_) return fail("Cannot set linger option at this time");
    linger l;
    l.l_onoff = u_short(lingerMode_);
    l.l_linger = u_short(lingerSeconds_);
    if (setsockopt(handle_.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l) != 0)
        reportWsaError(WSAGetLastError(), "setsockopt(SO_LINGER)");
}

bool XSocket::KeepAlive(unsigned idleMs, unsigned intervalMs)
{
    if (!handle_) return false;
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = idleMs;
    values.keepaliveinterval = intervalMs;
    DWORD returned = 0;
    return WSAIoctl(handle_.get(), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                    nullptr) == 0;
}

long XSocket::PendingBytes()
{
    u_long n = 0;
    if (ioctlsocket(handle_.get(), FIONREAD, &n) != 0) {
        reportWsaError(WSAGetLastError(), "ioctlSocket");
        return -1;
    }
    return long(n);
}

void XSocket::PumpMessages()
{
    if (PumpReplacement) {
        PumpReplacement();
        return;
    }
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            terminated_ = true;
            // Put it back so that the thread's own loop still ends.
            PostQuitMessage(int(m.wParam));
            return;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

// ---- events ---------------------------------------------------------------------

LRESULT XSocket::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case kMsgSocketEvent:
        socketEvent(wParam, lParam);
        return 0;
    case kMsgLookupDone:
        lookupFinished(wParam);
        return 0;
    case kMsgCloseLater:
        Close();
        return 0;
    case kMsgSendFailed:
        reportSendFailure(SOCKET(wParam));
        return 0;
    default:
        return DefWindowProcA(window_.get(), msg, wParam, lParam);
    }
}

// A send found the connection lost: now, from the message loop, the owner
// hears of it. An event of the handle that comes first brings it too.
void XSocket::reportSendFailure(SOCKET h)
{
    if (h != handle_.get() || h == INVALID_SOCKET || sendFailure_ == 0) return;
    const int error = std::exchange(sendFailure_, 0);
    life_ = SendingShut() ? ConnectionLife::PeerClosedAfterOurEnd : ConnectionLife::PeerClosed;
    Close();
    if (OnClosed) OnClosed(error);
}

void XSocket::peerClosed(int error)
{
    if (closedReported()) return;
    life_ = SendingShut() ? ConnectionLife::PeerClosedAfterOurEnd : ConnectionLife::PeerClosed;
    if (OnClosed) OnClosed(error);
}

void XSocket::socketEvent(WPARAM wParam, LPARAM lParam)
{
    const SOCKET h = SOCKET(wParam);
    if (h != handle_.get() || h == INVALID_SOCKET) return;
    const int events = WSAGETSELECTEVENT(lParam);
    if (events & FD_WRITE) writeNoticePosted_ = false;
    if (paused_) return;
    if (sendFailure_ != 0) return reportSendFailure(h);
    const int error = WSAGETSELECTERROR(lParam);
    // A hook may close the socket; later bits then belong to a gone handle.
    auto gone = [&] { return handle_.get() != h; };

    if (events & FD_CONNECT) {
        setState(SocketState::Connected);
        if (OnConnectDone) OnConnectDone(error);
        if (gone()) return;
        if (error != 0 && State() != SocketState::Closed) {
            Close();
            return;
        }
    }
    if (events & FD_READ) {
        deliverData(error);
        if (gone()) return;
    }
    if (events & FD_WRITE) {
        const bool drained = flushSendQueue();
        if (drained && life_ == ConnectionLife::EndQueued) {
            life_ = ConnectionLife::EndSent;
            if (shutdown(handle_.get(), SD_SEND) != 0) lastError_ = WSAGetLastError();
        }
        if (drained && OnSendDone) OnSendDone(error);
        if (gone()) return;
    }
    if (events & FD_ACCEPT) {
        if (OnIncomingConnection) OnIncomingConnection(error);
        if (gone()) return;
    }
    if (events & FD_CLOSE) {
        if (State() == SocketState::Connecting) return;
        deliverData(0);
        if (gone()) return;
        peerClosed(error);
        if (!gone() && State() != SocketState::Closed) Close();
    }
}

void XSocket::deliverData(int error)
{
    const SOCKET h = handle_.get();
    for (;;) {
        lastError_ = 0;
        // Handshake records are the TLS layer's, never the owner's; records
        // that came behind the end of the handshake go to the owner at once
        // (an FD_CLOSE may follow, and no FD_READ would bring them).
        if (tlsHandshaking_) {
            tlsHandshakeRead();
            if (tlsHandshaking_ || handle_.get() != h || tlsIn_.empty()) return;
        }
        const std::int64_t before = bytesReceived_;
        if (OnDataReady) {
            OnDataReady(error);
        } else {
            char discard[1024];
            const int n = recv(h, discard, sizeof discard, 0);
            if (n == SOCKET_ERROR) {
                const int e = WSAGetLastError();
                if (e == WSAEWOULDBLOCK) {
                    lastError_ = 0;
                    return;
                }
                lastError_ = e;
            } else {
                bytesReceived_ += n;
                if (n > 0 && OnTraffic) OnTraffic();
            }
        }
        if (lastError_ != 0 || handle_.get() != h) return;
        // An owner that read nothing will not read on another pass either.
        if (bytesReceived_ == before) return;
        u_long pending = 0;
        if (ioctlsocket(h, FIONREAD, &pending) != 0) {
            lastError_ = WSAGetLastError();
            return;
        }
        if (pending == 0 && tlsPlain_.empty()) return;
    }
}

} // namespace ftp
