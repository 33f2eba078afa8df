// Small helpers of the socket and component tests: pumping until something
// holds, the text a step fails with, a loopback port that nobody listens on.
#pragma once
#include <winsock2.h>

#include <functional>
#include <string>

#include "ftp/ftp_error.h"
#include "ftp/xsocket.h"

namespace {

// Pumps this thread's messages until pred holds or ms pass.
inline bool pumpUntil(ftp::XSocket& s, const std::function<bool()>& pred, int ms = 5000)
{
    const DWORD end = GetTickCount() + DWORD(ms);
    while (!pred()) {
        if (LONG(end - GetTickCount()) <= 0) return false;
        s.PumpMessages();
        MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

inline std::string failureOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ftp::FtpFailure& e) {
        return e.what();
    }
    return "<no failure>";
}

// A port on 127.0.0.1 that was free a moment ago and has no listener.
inline unsigned unusedPort()
{
    WSADATA wsa;
    WSAStartup(0x0202, &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    WSACleanup();
    return ntohs(a.sin_port);
}

} // namespace
