// Host, port and protocol resolution for XSocket, and the addresses it
// works with (IPv4 and IPv6). Failures are thrown as FtpFailure with fixed
// texts (see resolve.cpp).
#pragma once
#include <winsock2.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ftp {

// One socket address, IPv4 or IPv6, in the form Winsock takes it. Empty
// (family AF_UNSPEC, length 0) until filled.
struct NetAddress {
    sockaddr_storage storage{};
    int length = 0;

    int family() const { return storage.ss_family; }
    bool empty() const { return length == 0; }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    // The IPv4 address in network order; 0 for IPv6.
    std::uint32_t ipv4() const;
    unsigned port() const;            // host order
    void setPort(unsigned hostOrder);
    bool isIpv4Broadcast() const;

    static NetAddress fromSockaddr(const sockaddr* addr, int length);
    // The wildcard address of a family ("0.0.0.0" or "::") with port 0.
    static NetAddress any(int family);
};

// The same host: the family and the address agree (ports and IPv6 scopes
// are not compared).
bool sameHost(const NetAddress& a, const NetAddress& b);

// The address as text: dotted for IPv4, the short IPv6 form ("::1") for
// IPv6, with "%" and the scope for a link-local one. The port is left out.
std::string addressText(const NetAddress& address);

// An IPv6 address written as text, with or without square brackets
// ("::1", "[::1]"), blanks at either end allowed. A host with a port
// ("[::1]:2121") or anything else is none. An IPv4-mapped address
// ("::ffff:127.0.0.1") comes back as the IPv4 address it names, so that it
// travels as any IPv4 address does.
std::optional<NetAddress> ipv6Literal(const std::string& text);

// Whether a text that is no address may be looked up as a host name:
// square brackets belong around an IPv6 address only. "[::1]:2121" names a
// port, which comes from the port setting, never from the host text; it is
// refused here rather than left to getaddrinfo (Wine's takes it as ::1 and
// drops the port).
bool isHostName(const std::string& text);

// A host as it stands in "host:port" texts (the login name through a
// proxy): an IPv6 address gets square brackets, unless it has them; names
// and IPv4 addresses stay as they are.
std::string bracketedHost(const std::string& host);

// The address of a host text: an IPv6 literal, a dotted IPv4 address
// (exactly three points, digits only, no part above 255; "255.255.255.255"
// is the broadcast address), or else a name, looked up on the spot (the
// first address getaddrinfo gives; this blocks, so the FTP component only
// ever connects to addresses it looked up beforehand). The port is 0.
NetAddress SocketResolveHost(const std::string& host);

// Port number in host order: a text starting with a digit is read as
// decimal, otherwise getservbyname decides.
unsigned SocketResolvePort(const std::string& port, const std::string& proto);

// Protocol number: a text starting with a digit is read as decimal,
// otherwise getprotobyname decides.
int SocketResolveProto(const std::string& proto);

// Whether a text has the dotted-address form: optional surrounding spaces,
// not starting with a point, exactly three points, only digits between
// them, no part above 255.
bool isDottedAddress(const std::string& text);

// Removes spaces, tabs, 0xA0, CR and LF at both ends.
std::string trimHostText(const std::string& text);

} // namespace ftp
