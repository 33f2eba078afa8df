// The server's data side of one passive upload: a listener on loopback
// whose one connection is read to its end and then closed, as a server
// that stored the file does; or, with `keep`, reset once that many bytes
// have come, as a link that breaks. On IPv4 loopback, or with `ipv6` on ::1.
#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <string>
#include <thread>

class DataSink {
public:
    explicit DataSink(int keep = -1, bool ipv6 = false) : keep_(keep)
    {
        WSADATA wsa;
        WSAStartup(0x0202, &wsa);
        sockaddr_in6 a{};  // an IPv4 address fits, its port at the same place
        int len = ipv6 ? int(sizeof(sockaddr_in6)) : int(sizeof(sockaddr_in));
        if (ipv6) {
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
        } else {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
            v4->sin_family = AF_INET;
            v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        }
        listener_ = socket(a.sin6_family, SOCK_STREAM, IPPROTO_TCP);
        bind(listener_, reinterpret_cast<sockaddr*>(&a), len);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin6_port);
        thread_ = std::thread([this] { run(); });
    }
    ~DataSink()
    {
        if (thread_.joinable()) thread_.join();
        closesocket(listener_);
        WSACleanup();
    }
    // The 227 reply that names this listener.
    std::string pasvReply() const
    {
        return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port_ / 256) + "," +
               std::to_string(port_ % 256) + ").\r\n";
    }
    // The 229 reply to EPSV that names it.
    std::string epsvReply() const { return "229 Entering Extended Passive Mode (|||" + std::to_string(port_) + "|)\r\n"; }
    unsigned port() const { return port_; }
    // The bytes received, once the connection has ended (waits for it,
    // 10 s at most without data).
    const std::string& received()
    {
        if (thread_.joinable()) thread_.join();
        return received_;
    }

private:
    void run()
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(listener_, &set);
        timeval limit{10, 0};
        if (select(0, &set, nullptr, nullptr, &limit) != 1) return;
        const SOCKET s = accept(listener_, nullptr, nullptr);
        char buf[4096];
        for (;;) {
            fd_set r;
            FD_ZERO(&r);
            FD_SET(s, &r);
            timeval wait{10, 0};
            if (select(0, &r, nullptr, nullptr, &wait) != 1) break;
            const int room = keep_ < 0 ? int(sizeof buf) : std::min<int>(sizeof buf, keep_ - int(received_.size()));
            const int n = room > 0 ? recv(s, buf, room, 0) : 0;
            if (n <= 0) break;
            received_.append(buf, std::size_t(n));
            if (keep_ >= 0 && int(received_.size()) >= keep_) {
                const linger reset{1, 0};
                setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
                break;
            }
        }
        closesocket(s);
    }

    SOCKET listener_ = INVALID_SOCKET;
    unsigned port_ = 0;
    int keep_;
    std::string received_;
    std::thread thread_;
};
