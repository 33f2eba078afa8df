// XSocket on the test thread, which pumps its own messages: settings and
// their refusals, events in their order, listen/accept/dup.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ftp/xsocket.h"
#include "scripted_server.h"
#include "socket_checks.h"

using namespace ftp;

namespace {

void aim(XSocket& s, unsigned port)
{
    s.SetProto("tcp");
    s.SetPort(std::to_string(port));
    s.SetAddr("127.0.0.1");
}

// A socket listening on `addr`, on a port of the system's choice, that
// notes an incoming connection.
struct Listener : XSocket {
    bool incoming = false;
    explicit Listener(const char* addr = "127.0.0.1")
    {
        SetProto("tcp");
        SetAddr(addr);
        SetPort("0");
        OnIncomingConnection = [this](int) { incoming = true; };
        Listen();
    }
    unsigned port() { return unsigned(LocalPortNumber()); }
};

// `client` connected to `listener`, which has the connection waiting.
void connectTo(Listener& listener, XSocket& client)
{
    aim(client, listener.port());
    client.Connect();
    ASSERT_TRUE(pumpUntil(client, [&] {
        return listener.incoming && client.State() == SocketState::Connected;
    }));
}

// A connection from `client` to `accepted` through a listener on loopback.
void connectPair(XSocket& client, XSocket& accepted)
{
    Listener listener("0.0.0.0");
    connectTo(listener, client);
    accepted.Dup(listener.Accept());
    listener.Close();
}

} // namespace

TEST(XSocket, SettingsAndTheirRefusals)
{
    ScriptedServer server({{"220 hi\r\n"}, {}});
    XSocket s;
    EXPECT_EQ(s.State(), SocketState::Closed);
    EXPECT_EQ(failureOf([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort(std::to_string(server.port()));
    EXPECT_EQ(failureOf([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(s.Addr(), "127.0.0.1");
    EXPECT_EQ(failureOf([&] { s.Connect(); }), "Connect: No Protocol Specified");
    s.SetProto("tcp");
    int connectError = -1;
    s.OnConnectDone = [&](int e) { connectError = e; };
    s.Connect();
    ASSERT_TRUE(pumpUntil(s, [&] { return connectError >= 0; }));
    EXPECT_EQ(connectError, 0);
    EXPECT_EQ(s.State(), SocketState::Connected);
    EXPECT_EQ(failureOf([&] { s.Connect(); }), "Connect: Socket already in use");
    EXPECT_EQ(failureOf([&] { s.SetAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(failureOf([&] { s.SetPort("21"); }), "Cannot change Port if not closed");
    EXPECT_EQ(failureOf([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
    s.Close();
    EXPECT_EQ(s.State(), SocketState::Closed);
    // Close returns every setting to its default.
    EXPECT_EQ(s.Addr(), "");
    EXPECT_EQ(s.Proto(), "tcp");
    EXPECT_EQ(s.BindAddr(), "0.0.0.0");
    EXPECT_EQ(failureOf([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort("21");
    EXPECT_EQ(failureOf([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr("127.0.0.1");
    s.SetPort("32768000000000000000000000000000");
    s.SetProto("tcp");
    EXPECT_EQ(failureOf([&] { s.Connect(); }), "Connect:SocketResolvePort: Invalid Port.");
    EXPECT_EQ(s.State(), SocketState::Closed);
}

TEST(XSocket, SendDoneComesFromTheMessageLoopOnly)
{
    ScriptedServer server({{}, {"200 ok\r\n"}});
    XSocket s;
    aim(s, server.port());
    int sendDone = 0;
    bool connected = false;
    s.OnConnectDone = [&](int) { connected = true; };
    s.OnSendDone = [&](int) { ++sendDone; };
    s.Connect();
    ASSERT_TRUE(pumpUntil(s, [&] { return connected && sendDone > 0; }));
    sendDone = 0;
    EXPECT_EQ(s.Send("NOOP\r\n", 6), 6);
    EXPECT_EQ(sendDone, 0);
    ASSERT_TRUE(pumpUntil(s, [&] { return sendDone > 0; }));
    EXPECT_EQ(sendDone, 1);
    EXPECT_TRUE(s.AllSent());
    EXPECT_EQ(s.BytesSent(), 6);
    s.Close();
    EXPECT_TRUE(server.finished());
    EXPECT_EQ(server.commands(), Lines{"NOOP"});
}

TEST(XSocket, CloseDeliversUnreadDataFirst)
{
    // 20000 bytes, then the server closes; the owner reads only 100 bytes
    // per DataReady, so delivery has to pass again and again.
    ServerScript script{{std::string(20000, 'd'), kCloseConnection}, {}};
    script.pauseMs = 0;
    ScriptedServer server(script);
    XSocket s;
    aim(s, server.port());
    std::size_t got = 0, gotAtClose = 0;
    int closedEvents = 0;
    s.OnDataReady = [&](int) {
        char buf[100];
        const int n = s.Read(buf, sizeof buf);
        if (n > 0) got += std::size_t(n);
    };
    s.OnClosed = [&](int) {
        ++closedEvents;
        gotAtClose = got;
    };
    s.Connect();
    ASSERT_TRUE(pumpUntil(s, [&] { return closedEvents > 0; }));
    EXPECT_EQ(gotAtClose, 20000u);
    EXPECT_EQ(s.BytesReceived(), 20000);
    EXPECT_EQ(s.State(), SocketState::Closed);
    s.PumpMessages();
    EXPECT_EQ(closedEvents, 1);
}

TEST(XSocket, RefusedConnectReportsTheError)
{
    XSocket probe;
    probe.SetProto("tcp");
    probe.SetAddr("127.0.0.1");
    probe.SetPort("0");
    probe.Listen();
    const int port = probe.LocalPortNumber();
    ASSERT_GT(port, 0);
    probe.Close();

    XSocket s;
    aim(s, unsigned(port));
    int error = -1;
    s.OnConnectDone = [&](int e) { error = e; };
    s.Connect();
    ASSERT_TRUE(pumpUntil(s, [&] { return error >= 0 && s.State() == SocketState::Closed; }));
    EXPECT_EQ(error, WSAECONNREFUSED);
}

TEST(XSocket, ListenAcceptDupCarryDataBothWays)
{
    XSocket listener, client, accepted;
    listener.SetProto("tcp");
    listener.SetAddr("0.0.0.0");
    listener.SetPort("0");
    std::vector<SocketState> states;
    listener.OnStateChanged = [&](SocketState, SocketState now) { states.push_back(now); };
    listener.Listen();
    EXPECT_EQ(states, (std::vector<SocketState>{SocketState::Opened, SocketState::Bound,
                                                SocketState::Listening}));
    EXPECT_EQ(failureOf([&] { client.Accept(); }), "not a listening socket");

    bool incoming = false;
    listener.OnIncomingConnection = [&](int) { incoming = true; };
    aim(client, unsigned(listener.LocalPortNumber()));
    client.Connect();
    ASSERT_TRUE(pumpUntil(client, [&] { return incoming; }));
    rt::OwnedSocket h = listener.Accept();
    ASSERT_TRUE(h);
    listener.Close();
    accepted.Dup(std::move(h));
    EXPECT_EQ(accepted.State(), SocketState::Connected);

    std::string atAccepted, atClient;
    accepted.OnDataReady = [&](int) {
        char buf[64];
        const int n = accepted.Read(buf, sizeof buf);
        if (n > 0) atAccepted.append(buf, std::size_t(n));
    };
    client.OnDataReady = [&](int) {
        char buf[64];
        const int n = client.Read(buf, sizeof buf);
        if (n > 0) atClient.append(buf, std::size_t(n));
    };
    ASSERT_TRUE(pumpUntil(client, [&] { return client.State() == SocketState::Connected; }));
    client.Send("ping", 4);
    accepted.Send("pong", 4);
    ASSERT_TRUE(pumpUntil(client, [&] { return atAccepted == "ping" && atClient == "pong"; }));
    std::string peer;
    unsigned peerPort = 0;
    accepted.GetPeerName(peer, peerPort);
    EXPECT_EQ(peer, "127.0.0.1");
    EXPECT_EQ(int(peerPort), client.LocalPortNumber());
    EXPECT_EQ(accepted.LocalAddress(), "127.0.0.1");

    bool clientClosed = false;
    client.OnClosed = [&](int) { clientClosed = true; };
    accepted.Close(true);
    ASSERT_TRUE(pumpUntil(client, [&] { return clientClosed; }));
    EXPECT_EQ(client.State(), SocketState::Closed);
}

// Connections over IPv6: the address text decides the family, with or
// without brackets; a listener on ::1 accepts, and both ends name ::1.
TEST(XSocket, Ipv6ConnectListenAcceptAndNames)
{
    const char* const forms[] = {"::1", "[::1]", "0:0:0:0:0:0:0:1"};
    for (const char* form : forms) {
        SCOPED_TRACE(form);
        Listener listener(form);
        XSocket client, accepted;
        ASSERT_EQ(listener.State(), SocketState::Listening);
        EXPECT_EQ(listener.LocalAddress(), "::1");
        client.SetProto("tcp");
        client.SetAddr(form);
        client.SetPort(std::to_string(listener.LocalPortNumber()));
        client.Connect();
        ASSERT_TRUE(pumpUntil(client, [&] {
            return listener.incoming && client.State() == SocketState::Connected;
        }));
        EXPECT_EQ(client.Addr(), form);  // as it was set
        EXPECT_EQ(client.RemoteSockaddr().family(), AF_INET6);
        NetAddress peer;
        accepted.Dup(listener.Accept(&peer));
        EXPECT_EQ(addressText(peer), "::1");
        EXPECT_EQ(int(peer.port()), client.LocalPortNumber());
        std::string name;
        unsigned port = 0;
        accepted.GetPeerName(name, port);
        EXPECT_EQ(name, "::1");
        EXPECT_EQ(int(port), client.LocalPortNumber());
        EXPECT_EQ(client.LocalAddress(), "::1");
        std::string got;
        accepted.OnDataReady = [&](int) {
            char buf[64];
            const int n = accepted.Read(buf, sizeof buf);
            if (n > 0) got.append(buf, std::size_t(n));
        };
        client.Send("over six", 8);
        ASSERT_TRUE(pumpUntil(client, [&] { return got == "over six"; }));
    }
}

TEST(XSocket, ShutdownSendingKeepsTheSocketForThePeersClose)
{
    // Our end of the stream first, then the peer's close (the accepted
    // socket closes on the end it reads): the order an upload counts on.
    XSocket client, accepted;
    connectPair(client, accepted);
    std::int64_t atAcceptedClose = -1;
    bool clientClosed = false;
    accepted.OnClosed = [&](int) { atAcceptedClose = accepted.BytesReceived(); };
    int closeError = -1;
    client.OnClosed = [&](int e) {
        clientClosed = true;
        closeError = e;
    };
    client.Send("last", 4);
    EXPECT_FALSE(client.PeerHasClosed());
    client.ShutdownSending();
    EXPECT_TRUE(client.SendingShut());
    EXPECT_EQ(client.State(), SocketState::Connected);
    ASSERT_TRUE(pumpUntil(client, [&] { return clientClosed; }));
    EXPECT_EQ(atAcceptedClose, 4);
    EXPECT_EQ(closeError, 0);
    EXPECT_TRUE(client.ClosedByPeer());
    EXPECT_TRUE(client.SendingShut());
    EXPECT_EQ(client.Life(), ConnectionLife::PeerClosedAfterOurEnd);
    EXPECT_EQ(client.State(), SocketState::Closed);
}

TEST(XSocket, PeerHasClosedSeesACloseNotHandledYet)
{
    // The peer's close is waiting before its FD_CLOSE went through the
    // message loop; a fresh connection starts with nothing shut.
    XSocket client, accepted;
    connectPair(client, accepted);
    accepted.Close();
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client.Handle(), &readable);
    timeval limit{3, 0};
    ASSERT_EQ(select(0, &readable, nullptr, nullptr, &limit), 1);  // the end of the stream
    EXPECT_TRUE(client.PeerHasClosed());
    EXPECT_FALSE(client.SendingShut());
    EXPECT_EQ(client.State(), SocketState::Connected);
}

TEST(XSocket, OneSendDoneServesTheSendsBeforeIt)
{
    XSocket client, accepted;
    int sendDone = 0;
    client.OnSendDone = [&](int) { ++sendDone; };
    connectPair(client, accepted);
    ASSERT_TRUE(pumpUntil(client, [&] { return sendDone > 0; }));  // the connect's FD_WRITE
    sendDone = 0;
    std::string got;
    accepted.OnDataReady = [&](int) {
        char buf[64];
        const int n = accepted.Read(buf, sizeof buf);
        if (n > 0) got.append(buf, std::size_t(n));
    };
    client.Send("one ", 4);
    client.Send("two ", 4);
    client.Send("three", 5);
    EXPECT_EQ(sendDone, 0);
    ASSERT_TRUE(pumpUntil(client, [&] { return got == "one two three"; }));
    client.PumpMessages();
    EXPECT_EQ(sendDone, 1);
}

// The bytes Winsock does not take at once are queued behind those it took;
// with a peer that stops reading, both parts must still arrive whole and in
// order once it reads again.
TEST(XSocket, BytesBeyondWhatWinsockTakesArriveWholeAndInOrder)
{
    XSocket client, accepted;
    connectPair(client, accepted);
    accepted.OnDataReady = [](int) {};  // the peer does not read for now
    const auto byteAt = [](std::int64_t i) { return char((i * 7 + i / 251) & 0xFF); };
    constexpr int kBlock = 256 * 1024;
    std::vector<char> block(kBlock);
    std::int64_t sent = 0;
    for (int i = 0; i < 256 && client.AllSent(); ++i) {
        for (int k = 0; k < kBlock; ++k) block[std::size_t(k)] = byteAt(sent + k);
        ASSERT_EQ(client.Send(block.data(), kBlock), kBlock);
        sent += kBlock;
    }
    ASSERT_FALSE(client.AllSent()) << "Winsock took " << sent << " bytes without blocking";
    EXPECT_LT(client.BytesSent(), sent);

    std::int64_t got = 0;
    bool inOrder = true;
    std::vector<char> buf(64 * 1024);
    ASSERT_TRUE(pumpUntil(client, [&] {
        for (;;) {
            const int n = accepted.Read(buf.data(), int(buf.size()));
            if (n <= 0) break;
            for (int k = 0; k < n; ++k) inOrder = inOrder && buf[std::size_t(k)] == byteAt(got + k);
            got += n;
        }
        return got == sent;
    }, 20000));
    EXPECT_TRUE(inOrder);
    EXPECT_TRUE(client.AllSent());
    EXPECT_EQ(client.BytesSent(), sent);
}

// Addresses are not looked up: LookupDone fires inside LookupHost.
TEST(XSocket, LookupOfAnAddressAnswersAtOnce)
{
    struct Row {
        const char* host;
        int error;
        const char* result;
    };
    const Row rows[] = {
        {"127.0.0.1", 0, "127.0.0.1"},
        {"::1", 0, "::1"},
        {"[::1]", 0, "::1"},
        {" [::1]\r\n", 0, "::1"},
        {"0:0:0:0:0:0:0:1", 0, "::1"},
        {"::ffff:127.0.0.2", 0, "127.0.0.2"},
        // Brackets hold an IPv6 address and nothing else; the port is the
        // port setting's.
        {"[::1]:2121", WSAHOST_NOT_FOUND, ""},
        {"[127.0.0.1]", WSAHOST_NOT_FOUND, ""},
        {"[ftp.example.com]", WSAHOST_NOT_FOUND, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.host);
        XSocket s;
        int done = -1;
        s.OnLookupDone = [&](int e) { done = e; };
        s.LookupHost(r.host);
        EXPECT_EQ(done, r.error);
        EXPECT_EQ(s.LookupResult(), r.result);
        EXPECT_EQ(s.AddressList(), r.error ? std::vector<std::string>{} : std::vector<std::string>{r.result});
    }
    XSocket s;
    EXPECT_EQ(failureOf([&] { s.LookupHost(""); }), "DNS lookup: invalid host name.");
}

TEST(XSocket, LookupOfANameGoesThroughTheMessageLoop)
{
    XSocket s;
    int done = -1;
    s.OnLookupDone = [&](int e) { done = e; };
    s.LookupHost("localhost");
    EXPECT_EQ(done, -1);
    ASSERT_TRUE(pumpUntil(s, [&] { return done >= 0; }, 5000));
    EXPECT_EQ(done, 0);
    EXPECT_FALSE(s.AddressList().empty());
    EXPECT_EQ(s.LookupResult(), s.AddressList().front());
}

// A lookup that was replaced, cancelled or outlived by its socket reports
// nothing; its thread ends on its own.
TEST(XSocket, ALookupNoLongerAwaitedReportsNothing)
{
    const char* const ways[] = {"replaced", "cancelled", "socket gone"};
    for (const char* way : ways) {
        SCOPED_TRACE(way);
        const std::string w = way;
        XSocket pump;  // pumps this thread's messages while the other may be gone
        auto s = std::make_unique<XSocket>();
        int calls = 0, error = -1;
        s->OnLookupDone = [&](int e) {
            ++calls;
            error = e;
        };
        s->LookupHost("localhost");
        if (w == "replaced") {
            s->LookupHost("::1");  // answered at once
            EXPECT_EQ(calls, 1);
        } else if (w == "cancelled") {
            s->CancelLookup();
        } else {
            s.reset();
        }
        // The thread posts before it counts itself out: once none runs, any
        // message of theirs is in the queue.
        ASSERT_TRUE(pumpUntil(pump, [] { return XSocket::LookupsRunning() == 0; }, 10000));
        pump.PumpMessages();
        EXPECT_EQ(calls, w == "replaced" ? 1 : 0);
        if (w == "replaced") {
            EXPECT_EQ(error, 0);
            EXPECT_EQ(s->LookupResult(), "::1");
        }
    }
}

TEST(XSocket, PumpTakesQuitAndPutsItBack)
{
    XSocket s;
    PostQuitMessage(3);
    s.PumpMessages();
    EXPECT_TRUE(s.Terminated());
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(m.wParam, 3u);
}

namespace {

// Sends blocks to a peer that does not read until Winsock takes no more:
// the rest waits in the socket's own queue.
void fillUntilQueued(XSocket& client, XSocket& accepted)
{
    accepted.OnDataReady = [](int) {};
    std::vector<char> block(256 * 1024, 'q');
    for (int i = 0; i < 256 && client.AllSent(); ++i) client.Send(block.data(), int(block.size()));
}

} // namespace

// Every new connection starts with nothing queued and nothing ended, however
// the last one of the same object ended (here: closed with bytes still
// queued, after our end of the stream).
TEST(XSocket, ANewConnectionStartsClean)
{
    const char* const ways[] = {"Connect", "Listen", "Dup"};
    for (const char* way : ways) {
        SCOPED_TRACE(way);
        XSocket s, peer;
        connectPair(s, peer);
        fillUntilQueued(s, peer);
        ASSERT_FALSE(s.AllSent());
        s.ShutdownSending();
        s.Close();
        ASSERT_EQ(s.Life(), ConnectionLife::ClosedHere);

        Listener listener;
        XSocket other;
        const std::string w = way;
        if (w == "Listen") {
            s.SetProto("tcp");
            s.SetAddr("127.0.0.1");
            s.SetPort("0");
            s.Listen();
            EXPECT_EQ(s.State(), SocketState::Listening);
        } else if (w == "Connect") {
            connectTo(listener, s);
        } else {
            connectTo(listener, other);
            s.Dup(listener.Accept());
            EXPECT_EQ(s.State(), SocketState::Connected);
        }
        EXPECT_TRUE(s.AllSent());
        EXPECT_EQ(s.Life(), ConnectionLife::Open);
        EXPECT_FALSE(s.SendingShut());
        EXPECT_FALSE(s.ClosedByPeer());
    }
}

// A send that finds the connection reset fires nothing inside Send: the
// owner hears Closed, once, with the send's error, from the message loop.
TEST(XSocket, LostConnectionFoundBySendIsClosedFromTheLoop)
{
    Listener listener;
    XSocket client;
    connectTo(listener, client);
    rt::OwnedSocket peer = listener.Accept();
    ASSERT_TRUE(peer);
    int closedCalls = 0, closeError = -1;
    client.OnClosed = [&](int e) {
        ++closedCalls;
        closeError = e;
    };
    // The peer resets; its RST is here before any event of it is handled.
    const linger abort{1, 0};
    setsockopt(peer.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
    peer.reset();
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client.Handle(), &readable);
    timeval limit{3, 0};
    ASSERT_EQ(select(0, &readable, nullptr, nullptr, &limit), 1);

    const char bytes[] = "after the reset";
    for (int i = 0; i < 20 && client.AllSent(); ++i) {
        client.Send(bytes, int(sizeof bytes));
        EXPECT_EQ(closedCalls, 0) << "Closed fired inside Send";
        EXPECT_EQ(client.State(), SocketState::Connected);
    }
    ASSERT_FALSE(client.AllSent()) << "no send failed";
    ASSERT_TRUE(pumpUntil(client, [&] { return closedCalls > 0; }));
    client.PumpMessages();
    EXPECT_EQ(closedCalls, 1);
    EXPECT_TRUE(closeError == WSAECONNRESET || closeError == WSAECONNABORTED) << closeError;
    EXPECT_EQ(client.State(), SocketState::Closed);
    EXPECT_EQ(client.Life(), ConnectionLife::PeerClosed);
}
