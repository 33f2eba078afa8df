// Host names with IPv6 and IPv4 addresses: the socket's lookup, and the Open
// step trying each address in turn. Runs through tests/support/with_hosts,
// which gives it a hosts file of its own (and no DNS):
//   both.test  ::1 and 127.0.0.1      six.test  ::1      four.test  127.0.0.1
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "component_owner.h"
#include "ftp/xsocket.h"
#include "scripted_server.h"
#include "socket_checks.h"

using namespace ftp;

namespace {

class Names : public ::testing::Environment {
public:
    void SetUp() override
    {
        WSADATA wsa;
        WSAStartup(0x0202, &wsa);
        addrinfo* found = nullptr;
        ASSERT_EQ(getaddrinfo("both.test", nullptr, nullptr, &found), 0)
            << "both.test does not resolve: run this through tests/support/with_hosts";
        freeaddrinfo(found);
    }
    void TearDown() override { WSACleanup(); }
};
const auto* const kNames = ::testing::AddGlobalTestEnvironment(new Names);

// A listener on [::1]:port that takes no connection: its queue is filled by
// one that is never accepted, so a further connect gets no answer at all, as
// from an address whose route swallows it.
class SilentListener {
public:
    explicit SilentListener(unsigned port)
    {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        a.sin6_port = htons(u_short(port));
        listener_ = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
        bound_ = bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listener_, 0) == 0;
        filler_ = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
        bound_ = bound_ && connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~SilentListener()
    {
        closesocket(filler_);
        closesocket(listener_);
    }
    bool ready() const { return bound_; }

private:
    SOCKET listener_ = INVALID_SOCKET;
    SOCKET filler_ = INVALID_SOCKET;
    bool bound_ = false;
};

} // namespace

TEST(Lookup, NamesGiveTheirIpv6AndIpv4Addresses)
{
    struct Row {
        const char* name;
        int error;
        std::vector<std::string> addresses;
    };
    const Row rows[] = {
        {"both.test", 0, {"::1", "127.0.0.1"}},
        {"six.test", 0, {"::1"}},
        {"four.test", 0, {"127.0.0.1"}},
        {" six.test\r\n", 0, {"::1"}},
        {"nosuch.test", WSAHOST_NOT_FOUND, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        XSocket s;
        int done = -1, calls = 0;
        s.OnLookupDone = [&](int e) {
            done = e;
            ++calls;
        };
        s.LookupHost(r.name);
        EXPECT_EQ(calls, 0) << "a name is answered from the message loop";
        ASSERT_TRUE(pumpUntil(s, [&] { return calls > 0; }));
        EXPECT_EQ(done, r.error);
        EXPECT_EQ(s.AddressList(), r.addresses);
        EXPECT_EQ(s.LookupResult(), r.addresses.empty() ? "" : r.addresses.front());
    }
}

// The Open step tries the addresses of the name in their order until one
// connects: one that refuses, or does not answer within the attempt's time,
// leads to the next; the last one's failure is the sign-on's.
TEST(OpenStep, EachAddressInTurnUntilOneConnects)
{
    enum class At { Nothing, Server, Silent };
    struct Row {
        const char* name;
        const char* host;
        At ipv6, ipv4;
        bool ok;
        const char* addr;  // the address connected to, or the last reply
    };
    const Row rows[] = {
        {"IPv6 refuses, IPv4 answers", "both.test", At::Nothing, At::Server, true, "127.0.0.1"},
        {"IPv6 answers first", "both.test", At::Server, At::Nothing, true, "::1"},
        {"IPv6 only", "six.test", At::Server, At::Nothing, true, "::1"},
        {"IPv6 swallows the connect, IPv4 answers", "both.test", At::Silent, At::Server, true, "127.0.0.1"},
        {"both refuse", "both.test", At::Nothing, At::Nothing, false, "500 Connection refused (Winsock error #10061)"},
        {"no such name", "nosuch.test", At::Nothing, At::Nothing, false, "500 Host not found (Winsock error #11001)"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const unsigned port = unusedPort();
        std::unique_ptr<ScriptedServer> server;
        if (r.ipv6 == At::Server || r.ipv4 == At::Server) {
            ServerScript script{{"220 ready\r\n"}, {"331 pw\r\n", "230 in\r\n"}};
            script.address = r.ipv6 == At::Server ? "::1" : "127.0.0.1";
            script.port = port;
            server = std::make_unique<ScriptedServer>(script);
            ASSERT_EQ(server->port(), port);
        }
        std::unique_ptr<SilentListener> silent;
        if (r.ipv6 == At::Silent) {
            silent = std::make_unique<SilentListener>(port);
            ASSERT_TRUE(silent->ready());
        }
        ComponentOwner owner;
        FtpComponent& c = *owner;
        c.Host = r.host;
        c.Port = std::to_string(port);
        c.UserName = "user";
        c.Password = "secret";
        c.WaitSeconds = 15;  // beyond the time one of several addresses gets
        if (std::getenv("FTPCTL_TRACE"))
            c.OnDisplay = [](const std::string& t) { std::fprintf(stderr, "%s\n", t.c_str()); };
        EXPECT_EQ(c.Run(FtpOperation::SignOn), r.ok) << c.LastReply();
        if (r.ok) {
            EXPECT_EQ(c.ControlSocket().Addr(), r.addr);
            EXPECT_EQ(server->commands(), (Lines{"USER user", "PASS secret"}));
        } else {
            EXPECT_EQ(c.LastReply(), r.addr);
            EXPECT_EQ(c.ReplyCode(), 500);
            EXPECT_FALSE(c.Connected());
            EXPECT_EQ(c.State(), FtpState::Idle);
        }
    }
}
