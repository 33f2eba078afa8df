// The server's data side of one passive upload: a listener on loopback
// whose one connection is read to its end and then closed, as a server
// that stored the file does; or, with `keep`, reset once that many bytes
// have come, as a link that breaks.
#pragma once
#include <winsock2.h>

#include <algorithm>
#include <string>
#include <thread>

class DataSink {
public:
    explicit DataSink(int keep = -1) : keep_(keep)
    {
        WSADATA wsa;
        WSAStartup(0x0202, &wsa);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener_, 1);
        int len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
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
