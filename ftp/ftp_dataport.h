// Text side of data connections, free of sockets: the PORT and EPRT
// commands, the rule that confirms an upload, and the end-of-transfer
// summary line. (The 227 and 229 replies are read in ftp_reply.)
#pragma once
#include <cstdint>
#include <string>

namespace ftp {

// The PORT command announcing local port `port`. Addresses are IPv4 in
// network order: `serverAddr` is the address the control connection was made
// to, `localAddr` the control connection's own end. A server at 127.0.0.1 is
// always told 127,0,0,1, whatever the local interface.
std::string portCommand(std::uint32_t serverAddr, std::uint32_t localAddr, unsigned port);

// The EPRT command (RFC 2428) announcing local port `port` on `address`, the
// control connection's own end as text: "EPRT |2|::1|40000|" for IPv6,
// "EPRT |1|...|" for an IPv4 text. A scope ("%3") means nothing to the
// server and is left out.
std::string eprtCommand(const std::string& address, unsigned port);

// Whether an upload counts as stored, judged by the reply to SIZE asked in
// binary mode after the transfer's final reply. 213 must name exactly the
// bytes sent. A server without SIZE (500, 502, 504, or 550 for the file just
// stored) or a 213 without a number leaves only the transfer itself: every
// byte of the file went out and this side closed the data connection. Any
// other reply (a lost connection, a timeout) is no confirmation.
bool uploadConfirmed(int sizeCode, std::int64_t reportedSize, std::int64_t bytesSent, bool sentToEnd);

// Bytes per second of a transfer; elapsed must not be 0. Below 32768 bytes
// the product comes first (precise), above it the quotient (no overflow).
std::int64_t transferRate(std::int64_t bytes, std::uint32_t elapsedMs);

// "! N bytes received/sent in S seconds" plus " (R Bytes/sec)" when any time
// passed.
std::string summaryLine(std::int64_t bytes, std::uint32_t elapsedMs);

} // namespace ftp
