// The German text of the "Fehler:" box when an encrypted connection could
// not be used: the reason and, where a certificate was seen, its subject.
#pragma once
#include <string>

#include "ftp/tls_failure.h"

namespace app {

// Empty for problem None.
std::string tlsFailureMessage(const ftp::TlsFailure& failure, const std::string& serverName);

} // namespace app
