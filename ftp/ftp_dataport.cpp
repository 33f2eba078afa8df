#include "ftp/ftp_dataport.h"

#include <cstdio>

namespace ftp {
namespace {

constexpr std::uint32_t kLoopbackNetOrder = 0x0100007Fu;  // 127.0.0.1 as in sin_addr

// Bytes of an address held in network order, first byte first.
unsigned octet(std::uint32_t netOrder, int i)
{
    const auto* p = reinterpret_cast<const unsigned char*>(&netOrder);
    return p[i];
}

} // namespace

std::string portCommand(std::uint32_t serverAddr, std::uint32_t localAddr, unsigned port)
{
    char buf[64];
    const unsigned hi = (port / 256) & 0xFF, lo = port % 256;
    if (serverAddr == kLoopbackNetOrder)
        std::snprintf(buf, sizeof buf, "PORT 127,0,0,1,%u,%u", hi, lo);
    else
        std::snprintf(buf, sizeof buf, "PORT %u,%u,%u,%u,%u,%u", octet(localAddr, 0),
                      octet(localAddr, 1), octet(localAddr, 2), octet(localAddr, 3), hi, lo);
    return buf;
}

std::string eprtCommand(const std::string& address, unsigned port)
{
    const bool ipv6 = address.find(':') != std::string::npos;
    const std::string host = address.substr(0, address.find('%'));
    return std::string("EPRT |") + (ipv6 ? "2" : "1") + "|" + host + "|" + std::to_string(port & 0xFFFF) + "|";
}

bool uploadConfirmed(int sizeCode, std::int64_t reportedSize, std::int64_t bytesSent, bool sentToEnd)
{
    switch (sizeCode) {
    case 213:
        return reportedSize >= 0 ? reportedSize == bytesSent : sentToEnd;
    case 500:
    case 502:
    case 504:
    case 550:
        return sentToEnd;
    default:
        return false;
    }
}

std::int64_t transferRate(std::int64_t bytes, std::uint32_t elapsedMs)
{
    if (bytes < 32768) return bytes * 1000 / elapsedMs;
    return bytes / elapsedMs * 1000;
}

std::string summaryLine(std::int64_t bytes, std::uint32_t elapsedMs)
{
    std::string line = "! " + std::to_string(bytes) + " bytes received/sent in " +
                       std::to_string(elapsedMs / 1000) + " seconds";
    if (elapsedMs != 0)
        line += " (" + std::to_string(transferRate(bytes, elapsedMs)) + " Bytes/sec)";
    return line;
}

} // namespace ftp
