// Whether an address serves the uploaded file, asked of the web server
// through Windows' own HTTP client (WinHTTP): HEAD, or a GET whose body is
// not read where HEAD is refused (405, 501); redirects followed; the
// system's proxy settings; WinHTTP's certificate checks for https.
//
// Every check runs on a thread of its own, started as soon as the file is
// stored, so the run goes on with the next file meanwhile. A blocking
// WinHTTP call never runs on the GUI thread, whose message loop carries the
// FTP component's socket events. Each check is bounded by
// kAddressCheckSeconds from its start; one that is still running when it is
// collected after that time counts as unanswered, and its thread is left to
// end by itself (its own WinHTTP time-outs end it, at the latest the end of
// the process).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/address_report.h"

namespace app {

class AddressChecks {
public:
    AddressChecks();
    ~AddressChecks();
    AddressChecks(const AddressChecks&) = delete;
    AddressChecks& operator=(const AddressChecks&) = delete;

    // Starts asking for `address`, which must serve `fileSize` bytes, and
    // returns at once.
    void start(const std::string& address, std::int64_t fileSize);

    // The verdicts in the order of start(), each waited for until it is in
    // or its time is up.
    std::vector<AddressVerdict> collect();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace app
