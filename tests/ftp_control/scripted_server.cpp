#include "scripted_server.h"

#include <ws2tcpip.h>

#include <chrono>

namespace {

// Waits up to ms for s to become readable; false on timeout.
bool readable(SOCKET s, int ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &tv) > 0;
}

bool endsWithClose(const std::string& text)
{
    return text.size() >= kCloseConnection.size() &&
           text.compare(text.size() - kCloseConnection.size(), std::string::npos, kCloseConnection) == 0;
}

std::string withoutClose(const std::string& text)
{
    return endsWithClose(text) ? text.substr(0, text.size() - kCloseConnection.size()) : text;
}

} // namespace

ScriptedServer::ScriptedServer(ServerScript script) : script_(std::move(script))
{
    WSADATA wsa;
    WSAStartup(0x0202, &wsa);
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    getaddrinfo(script_.address.c_str(), std::to_string(script_.port).c_str(), &hints, &found);
    listener_ = socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
    bind(listener_, found->ai_addr, int(found->ai_addrlen));
    freeaddrinfo(found);
    listen(listener_, 1);
    sockaddr_storage a{};
    int len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);  // sin6_port lies at the same place
    thread_ = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer()
{
    {
        // Unblocks the server thread wherever it waits: in accept or recv.
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        if (conn_ != INVALID_SOCKET) shutdown(conn_, SD_BOTH);
    }
    closesocket(listener_);
    thread_.join();
    WSACleanup();
}

void ScriptedServer::record(const std::string& line)
{
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(line);
    changed_.notify_all();
}

bool ScriptedServer::sendText(SOCKET s, const std::string& text)
{
    if (text.empty()) return true;
    std::size_t cut = script_.splitAt > 0 && std::size_t(script_.splitAt) < text.size()
                          ? std::size_t(script_.splitAt)
                          : text.size();
    if (send(s, text.data(), int(cut), 0) != int(cut)) return false;
    if (cut == text.size()) return true;
    // A pause between the two parts makes them separate segments.
    Sleep(5);
    return send(s, text.data() + cut, int(text.size() - cut), 0) == int(text.size() - cut);
}

void ScriptedServer::run()
{
    SOCKET s = accept(listener_, nullptr, nullptr);
    if (s != INVALID_SOCKET) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_) {
            closesocket(s);
            s = INVALID_SOCKET;
        } else {
            conn_ = s;
        }
    }
    if (s != INVALID_SOCKET) {
        BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        std::string pending;
        char buf[4096];
        bool open = true;
        for (std::size_t i = 0; i < script_.greeting.size() && open; ++i) {
            if (i > 0 && readable(s, script_.pauseMs)) {
                record("<early>");
                const int n = recv(s, buf, sizeof buf, 0);
                if (n <= 0) open = false;
                else pending.append(buf, n);
            }
            if (!open) break;
            open = sendText(s, withoutClose(script_.greeting[i])) && !endsWithClose(script_.greeting[i]);
        }
        std::size_t next = 0;
        while (open) {
            std::size_t lf;
            while (open && (lf = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, lf);
                pending.erase(0, lf + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                record(line);
                const std::string reply = next < script_.replies.size() ? script_.replies[next] : kSilent;
                ++next;
                open = sendText(s, withoutClose(reply)) && !endsWithClose(reply);
            }
            if (!open) break;
            const int n = recv(s, buf, sizeof buf, 0);
            if (n <= 0) break;
            pending.append(buf, n);
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (s != INVALID_SOCKET) closesocket(s);
    conn_ = INVALID_SOCKET;
    finished_ = true;
    changed_.notify_all();
}

Lines ScriptedServer::commands()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

bool ScriptedServer::finished(int waitMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return finished_; });
}
