#include "app/certificate_trust.h"

#include <windows.h>

#include "app/state.h"
#include "app/tls_message.h"
#include "ftp/ftp_command.h"
#include "runtime/foreign.h"
#include "runtime/ini.h"

namespace app {
namespace {

// Exclamation icon, Yes and No, No the default: Enter must not trust.
constexpr unsigned kTrustQuestionBox = MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2;

} // namespace

bool trustRefusedCertificate()
{
    ProgramState& st = state();
    UploadSettings& set = st.uploadSettings;
    const ftp::TlsFailure failure = ftp::lastTlsFailure();
    // A stored value that is no fingerprint (edited by hand) trusts nothing.
    if (!ftp::trustCanBeAsked(failure) || ftp::parseFingerprint(set.TrustedCertificate)) return false;
    if (rt::msgBox(trustQuestion(set.ServerName, failure.certificate, failure.reasons), "Achtung:",
                   kTrustQuestionBox) != IDYES)
        return false;
    set.TrustedCertificate = fingerprintText(failure.certificate.sha256);
    rt::iniWrite(st.iniPath, sectionName(st.configNumber), "TrustedCertificate", set.TrustedCertificate);
    return true;
}

std::string tlsRefusalText()
{
    const UploadSettings& set = state().uploadSettings;
    const ftp::TlsFailure failure = ftp::lastTlsFailure();
    if (failure.problem == ftp::TlsProblem::Changed)
        return certificateChangedMessage(set.ServerName, set.TrustedCertificate, failure.certificate);
    return tlsFailureMessage(failure, set.ServerName);
}

} // namespace app
