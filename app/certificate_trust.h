// The user's trust in a server certificate that Windows does not trust, at
// the first sign-on of an upload run over an encrypted connection, and the
// German box for a refused encrypted connection.
#pragma once
#include <string>

namespace app {

// After the first sign-on was refused for its encrypted connection
// (SignOnResult::TlsRefused). A certificate that is only untrusted (self-
// signed, an unknown CA), out of date or for another name, with no
// certificate trusted for the configuration yet (no `TrustedCertificate`
// that is a fingerprint), is shown in the "Achtung:" question; nothing has
// been logged in. Yes stores its fingerprint as `TrustedCertificate` of the
// configuration and of the run's settings (so reconnections and the upload
// window take it too) and returns true: the caller signs on again. No, and
// every other refusal, return false and store nothing.
bool trustRefusedCertificate();

// The "Fehler:" box of the last refused encrypted connection: a changed
// certificate with the trusted and the shown fingerprint, otherwise the
// reason (tlsFailureMessage).
std::string tlsRefusalText();

} // namespace app
