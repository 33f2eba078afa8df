#include "ftp/resolve.h"

#include <winsock2.h>

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

std::uint32_t SocketResolveHost(const std::string& host)
{
    if (host.empty() || host.size() > 256)
        throw FtpFailure("SocketResolveHost: " + quoted(host) + " Invalid Hostname.");
    const std::string name = trimHostText(host);
    if (isDottedAddress(name)) {
        if (name == "255.255.255.255") return INADDR_BROADCAST;
        const unsigned long addr = inet_addr(name.c_str());
        if (addr == INADDR_NONE)
            throw FtpFailure("SocketResolveHost: " + quoted(host) + " Invalid IP address.");
        return std::uint32_t(addr);
    }
    const hostent* he = gethostbyname(name.c_str());
    if (!he || he->h_addrtype != AF_INET || !he->h_addr_list || !he->h_addr_list[0])
        throw FtpFailure("SocketResolveHost: Cannot convert host address.");
    std::uint32_t addr;
    std::memcpy(&addr, he->h_addr_list[0], sizeof addr);
    return addr;
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
