#include "ftp/resolve.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>

#include "ftp/ftp_error.h"

namespace ftp {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isTrimmed(unsigned char c)
{
    return c == ' ' || c == '\t' || c == 0xA0 || c == '\r' || c == '\n';
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

} // namespace

std::string trimHostText(const std::string& text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && isTrimmed((unsigned char)text[b])) ++b;
    while (e > b && isTrimmed((unsigned char)text[e - 1])) --e;
    return text.substr(b, e - b);
}

bool isDottedAddress(const std::string& text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    if (b == e || text[b] == '.') return false;
    int points = 0;
    unsigned part = 0;
    for (std::size_t i = b; i < e; ++i) {
        const char c = text[i];
        if (c == '.') {
            ++points;
            part = 0;
        } else if (isDigit(c)) {
            part = part * 10 + unsigned(c - '0');
            if (part > 255) return false;
        } else {
            return false;
        }
    }
    return points == 3;
}

// ---- addresses ----------------------------------------------------------------

std::uint32_t NetAddress::ipv4() const
{
    if (family() != AF_INET) return 0;
    return reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr;
}

unsigned NetAddress::port() const
{
    if (family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    if (family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return 0;
}

void NetAddress::setPort(unsigned hostOrder)
{
    const u_short net = htons(u_short(hostOrder));
    if (family() == AF_INET) reinterpret_cast<sockaddr_in*>(&storage)->sin_port = net;
    if (family() == AF_INET6) reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = net;
}

bool NetAddress::isIpv4Broadcast() const { return family() == AF_INET && ipv4() == INADDR_BROADCAST; }

NetAddress NetAddress::fromSockaddr(const sockaddr* addr, int length)
{
    NetAddress a;
    if (!addr || length <= 0 || length > int(sizeof a.storage)) return a;
    std::memcpy(&a.storage, addr, std::size_t(length));
    a.length = length;
    return a;
}

NetAddress NetAddress::any(int family)
{
    NetAddress a;
    a.storage.ss_family = short(family);
    a.length = family == AF_INET6 ? int(sizeof(sockaddr_in6)) : int(sizeof(sockaddr_in));
    return a;
}

bool sameHost(const NetAddress& a, const NetAddress& b)
{
    if (a.family() != b.family()) return false;
    if (a.family() == AF_INET) return a.ipv4() == b.ipv4();
    if (a.family() != AF_INET6) return false;
    const auto& x = reinterpret_cast<const sockaddr_in6*>(&a.storage)->sin6_addr;
    const auto& y = reinterpret_cast<const sockaddr_in6*>(&b.storage)->sin6_addr;
    return std::memcmp(&x, &y, sizeof x) == 0;
}

std::string addressText(const NetAddress& address)
{
    if (address.family() == AF_INET) {
        in_addr a;
        a.s_addr = address.ipv4();
        return inet_ntoa(a);
    }
    char host[NI_MAXHOST];
    if (address.empty() ||
        getnameinfo(address.get(), address.length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return host;
}

std::optional<NetAddress> ipv6Literal(const std::string& text)
{
    std::string host = trimHostText(text);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    // Only an IPv6 address has a colon; a bracket left over is a port or garbage.
    if (host.find(':') == std::string::npos || host.find_first_of("[] ") != std::string::npos)
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;  // never a lookup: a text that is no address fails here
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
    NetAddress a = NetAddress::fromSockaddr(found->ai_addr, int(found->ai_addrlen));
    freeaddrinfo(found);
    if (a.family() != AF_INET6) return std::nullopt;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&reinterpret_cast<sockaddr_in6*>(&a.storage)->sin6_addr);
    static const unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(bytes, kMappedPrefix, sizeof kMappedPrefix) == 0) {
        NetAddress v4 = NetAddress::any(AF_INET);
        std::memcpy(&reinterpret_cast<sockaddr_in*>(&v4.storage)->sin_addr, bytes + 12, 4);
        return v4;
    }
    return a;
}

bool isHostName(const std::string& text)
{
    return text.find_first_of("[]") == std::string::npos;
}

std::string bracketedHost(const std::string& host)
{
    if (host.find(':') == std::string::npos || (!host.empty() && host.front() == '[')) return host;
    return "[" + host + "]";
}

NetAddress SocketResolveHost(const std::string& host)
{
    if (host.empty() || host.size() > 256)
        throw FtpFailure("SocketResolveHost: " + quoted(host) + " Invalid Hostname.");
    const std::string name = trimHostText(host);
    if (auto six = ipv6Literal(name)) return *six;
    NetAddress a = NetAddress::any(AF_INET);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a.storage);
    if (isDottedAddress(name)) {
        if (name == "255.255.255.255") {
            v4->sin_addr.s_addr = INADDR_BROADCAST;
            return a;
        }
        const unsigned long addr = inet_addr(name.c_str());
        if (addr == INADDR_NONE)
            throw FtpFailure("SocketResolveHost: " + quoted(host) + " Invalid IP address.");
        v4->sin_addr.s_addr = addr;
        return a;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (!isHostName(name) || getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found)
        throw FtpFailure("SocketResolveHost: Cannot convert host address.");
    NetAddress first;
    for (const addrinfo* ai = found; ai && first.empty(); ai = ai->ai_next)
        if (ai->ai_family == AF_INET || ai->ai_family == AF_INET6)
            first = NetAddress::fromSockaddr(ai->ai_addr, int(ai->ai_addrlen));
    freeaddrinfo(found);
    if (first.empty()) throw FtpFailure("SocketResolveHost: Cannot convert host address.");
    first.setPort(0);
    return first;
}

unsigned SocketResolvePort(const std::string& port, const std::string& proto)
{
    if (port.empty() || port.size() > 31) throw FtpFailure("SocketResolvePort: Invalid Port.");
    if (proto.empty() || proto.size() > 31)
        throw FtpFailure("SocketResolvePort: Invalid Protocol.");
    if (isDigit(port[0])) return unsigned(std::strtoul(port.c_str(), nullptr, 10)) & 0xFFFFu;
    const std::string name = trimHostText(port);
    const std::string protoName = trimHostText(proto);
    const servent* se = getservbyname(name.c_str(), protoName.empty() ? nullptr : protoName.c_str());
    if (!se) throw FtpFailure("SocketResolvePort: Cannot convert port.");
    return ntohs(u_short(se->s_port));
}

int SocketResolveProto(const std::string& proto)
{
    if (proto.empty() || proto.size() > 31)
        throw FtpFailure("SocketResolvePort: Invalid Protocol.");
    const std::string name = trimHostText(proto);
    if (!name.empty() && isDigit(name[0])) return int(std::strtol(name.c_str(), nullptr, 10));
    const protoent* pe = getprotobyname(name.c_str());
    if (!pe) throw FtpFailure("SocketResolveProto: Cannot convert protocol.");
    return pe->p_proto;
}

} // namespace ftp
