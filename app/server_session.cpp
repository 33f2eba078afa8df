#include "app/server_session.h"

#include "ftp/ftp_command.h"
#include "runtime/events.h"
#include "runtime/strings.h"
#include "runtime/system.h"

namespace app {
namespace {

bool setDir(const std::string& dir)
{
    return ftp::FtpCommand("SetDir", {rt::Value(dir)}).i != 0;
}

// The connect result alone is not trusted: the server must also let us
// into its root.
bool probeRoot(const SignOnWay& way)
{
    for (int refused = 0; !setDir("/");) {
        if (way.probePauseMs > 0)
            rt::sleepMs(way.probePauseMs);
        if (++refused >= way.probes)
            return false;
    }
    return true;
}

// Retrying a wrong login could lock the account; a busy server (421), a
// refused or cut connection, or a damaged reply may well pass.
void connectWithRetries(const UploadSettings& set)
{
    for (int tried = 1;; ++tried) {
        connectAsConfigured(set);
        if (ftp::connectedFlag() == 1 || tried >= kTries ||
            ftp::lastSignOnFailure() != ftp::SignOnFailure::Passing)
            return;
        pauseWithEvents(kPauseBetweenTriesMs);
    }
}

} // namespace

void pauseWithEvents(int ms)
{
    rt::takeTimerFlag();
    rt::startTimer(ms);
    while (!rt::takeTimerFlag())
        rt::waitNextEvent();
    rt::stopTimer();
}

int tlsModeOf(int useTls) { return useTls == 0 || useTls == 2 ? useTls : 1; }

void connectAsConfigured(const UploadSettings& set)
{
    if (!rt::trim(set.ProxyServer).empty())
        ftp::FtpCommand("SetProxy", {rt::Value(set.ProxyServer), rt::Value(set.ProxyPort)});
    if (set.PassiveMode != 0)
        ftp::FtpCommand("SetPassive", {rt::Value(1)});
    if (set.UseTLS != 0) {
        ftp::FtpCommand("SetTls", {rt::Value(tlsModeOf(set.UseTLS))});
        ftp::FtpCommand("SetTrust", {rt::Value(set.TrustedCertificate)});
    }
    ftp::FtpCommand("Connect", {rt::Value(set.Username), rt::Value(set.Password),
                                rt::Value(set.ServerName), rt::Value(set.ServerPort)});
}

SignOnResult signOn(const SignOnWay& way, const std::optional<std::string>& folder)
{
    connectWithRetries(state().uploadSettings);
    // A refused or untrusted encrypted connection is final: probing could
    // only fail the same way, and plain FTP is never tried instead. Asked
    // now: the next subcommand forgets it.
    if (ftp::lastTlsFailure().problem != ftp::TlsProblem::None)
        return SignOnResult::TlsRefused;
    const bool rooted = probeRoot(way);
    if (ftp::connectedFlag() != 1)
        return SignOnResult::NotConnected;
    if (!rooted && way.rootRequired)
        return SignOnResult::RootRefused;
    if (folder && !setDir(*folder))
        return SignOnResult::FolderRefused;
    return SignOnResult::Done;
}

bool reconnectToRunFolder()
{
    if (ftp::controlConnectionOpen()) return true;
    const UploadSettings& set = state().uploadSettings;
    const std::optional<std::string> folder =
        set.ServerDirectory.empty() ? std::nullopt : std::optional<std::string>(set.ServerDirectory);
    if (signOn(kSignOnAgain, folder) != SignOnResult::Done) return false;
    // The overwrite question needs SIZE, which many servers answer only in
    // binary mode; the run set it once at its start.
    if (set.Ask == 1) ftp::FtpCommand("SetBinary", {rt::Value(1)});
    return true;
}

} // namespace app
