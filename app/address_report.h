// What the web server said about an address, judged, and the German text of
// the "Fehler:" box for the addresses that did not serve their file. Pure
// logic, no Windows calls.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ftp/tls_failure.h"

namespace app {

// The time a check may take in all: name lookup, connection, redirects and
// the answer's headers.
constexpr int kAddressCheckSeconds = 10;

enum class AddressProblem {
    None,          // served: 2xx, and the length (where given) is the file's size
    Status,        // the final answer was not 2xx
    Length,        // 2xx with another length than the file's
    NoAnswer,      // nothing within the check's time
    NoConnection,  // refused, reset or unreachable
    UnknownHost,   // the host name does not resolve
    Certificate,   // https: the certificate was refused (`certificate` says why)
    Tls,           // https: no encrypted connection came about
    Redirect,      // the redirects lead nowhere (a loop, too many)
    Invalid,       // not an address WinHTTP takes
    Other,         // another WinHTTP error (`error`)
};

struct AddressVerdict {
    AddressProblem problem = AddressProblem::None;
    int status = 0;                  // Status: the final status code
    std::string statusText;          // Status: the server's reason phrase
    std::int64_t length = -1;        // Length: what the server announced
    std::int64_t fileSize = -1;      // Length: the file's size
    ftp::TlsProblem certificate = ftp::TlsProblem::None;  // Certificate
    unsigned long error = 0;         // Other: the WinHTTP error code
};

// The final answer to a HEAD (or GET) request: served when the status is
// 2xx and, where the server gives a length for the plain file (no content
// encoding other than "identity"), the length equals `fileSize`.
// `contentLength` is the header's text, "" when there is none.
AddressVerdict judgeAnswer(int status, const std::string& statusText, const std::string& contentLength,
                           const std::string& contentEncoding, std::int64_t fileSize);

// "404 Not Found": the standard phrase of the code, else the server's
// text, else the code alone.
std::string statusLine(int status, const std::string& serverText);

// The reason in German, one sentence; "" for None.
std::string reasonText(const AddressVerdict& verdict);

struct FailedAddress {
    std::string address;
    AddressVerdict verdict;
};

// Text of the "Fehler:" box: each address with its reason (the first ten,
// then how many more), and where to look.
std::string failedAddressesText(const std::vector<FailedAddress>& failed);

} // namespace app
