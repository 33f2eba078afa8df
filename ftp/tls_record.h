// TLS record framing, free of sockets and of Schannel: finds the whole
// records at the front of received bytes, so that the TLS layer hands
// Schannel whole records only and keeps a partial record until the rest has
// come in. A peer that answers with anything but TLS records (a plain FTP
// reply, for example) is seen at once as invalid.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ftp {

// Content types of the record header (RFC 5246 6.2.1, RFC 8446 5.1).
enum class TlsContent : std::uint8_t {
    ChangeCipherSpec = 20,
    Alert = 21,
    Handshake = 22,
    ApplicationData = 23,
};

constexpr std::size_t kTlsHeaderSize = 5;
// A record body may carry 2^14 bytes plus 2048 bytes of expansion
// (RFC 5246 6.2.3); anything longer is no TLS.
constexpr std::size_t kTlsMaxBody = 16384 + 2048;

struct TlsRecordFrame {
    enum Status { Whole, Partial, Invalid };
    Status status = Partial;
    TlsContent type = TlsContent::Handshake;  // valid when the header is complete
    std::size_t size = 0;                     // header + body; set for Whole only
};

// Looks at the record that starts at `data`.
TlsRecordFrame frameRecord(const unsigned char* data, std::size_t length);

struct TlsRecordRun {
    std::size_t bytes = 0;    // bytes at the front that form whole records
    std::size_t records = 0;  // how many whole records
    bool invalid = false;     // the bytes after them are no TLS record
};

// The whole records at the front of `data`.
TlsRecordRun wholeRecords(const unsigned char* data, std::size_t length);

} // namespace ftp
