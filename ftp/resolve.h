// Host, port and protocol resolution for XSocket. Failures are thrown as
// FtpFailure with fixed texts (see resolve.cpp).
#pragma once
#include <cstdint>
#include <string>

namespace ftp {

// IPv4 address in network order. Dotted texts (exactly three points, digits
// only, no part above 255) are converted directly; anything else is looked
// up with gethostbyname. "255.255.255.255" yields the broadcast address.
std::uint32_t SocketResolveHost(const std::string& host);

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
