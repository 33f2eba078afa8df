// The upload run's connection to the server. Every sign-on, the first of the
// run and a new one after the control connection has gone (a timeout, a 421,
// the server closing an idle connection), is one sequence: connect the
// configured way, check the encrypted connection, probe the root, check the
// connected state, enter the folder. The two ways differ only in how they
// probe; each step's failure is an outcome of its own, so that a caller can
// tell a refusal from a failure that may pass. Whatever has to follow every
// login belongs in this sequence, so a reconnection gets it too.
#pragma once
#include <optional>
#include <string>

#include "app/state.h"

namespace app {

// "SetProxy", "SetPassive", "SetTls" and "SetTrust" as configured, then
// "Connect" (which also asks FEAT and switches names to UTF-8 where
// offered).
void connectAsConfigured(const UploadSettings& set);

// Pause while the GUI thread keeps handling messages (a one-shot timer on
// the main window).
void pauseWithEvents(int ms);
// Tries of one sign-on and of one upload, and the pause between them.
inline constexpr int kTries = 3;
inline constexpr int kPauseBetweenTriesMs = 3300;

enum class SignOnResult {
    Done,
    TlsRefused,     // the encrypted connection was refused or not trusted (ftp::lastTlsFailure)
    NotConnected,   // "Connect" did not sign on
    RootRefused,    // connected, but the root never let us in
    FolderRefused,  // the folder could not be entered
};

// How a sign-on probes with "SetDir /".
struct SignOnWay {
    int probes;         // at most this many
    int probePauseMs;   // pause after each refused probe
    bool rootRequired;  // false: a standing connection will do even if no probe succeeded
};
// The run's start: the server gets about ten seconds to let us in.
inline constexpr SignOnWay kFirstSignOn{50, 200, false};
// Signing on again in the middle of a run: one probe, which must succeed.
inline constexpr SignOnWay kSignOnAgain{1, 0, true};

// The sign-on sequence with the run's settings; `folder`, when given, is
// entered after the probe. "Connect" is tried up to kTries times, a pause
// apart, while it fails for a reason that may pass (the server busy, the
// connection refused or cut, a reply that cannot be read, no answer); a
// wrong login, a refused encrypted connection or a name that does not
// resolve is not tried again.
SignOnResult signOn(const SignOnWay& way, const std::optional<std::string>& folder);

// The value for "SetTls" of a stored UseTLS: 0 plain FTP, 2 implicit FTPS,
// any other number explicit FTPS.
int tlsModeOf(int useTls);

// Before a file and before each upload attempt: true at once while the
// control connection stands; otherwise signs on again and returns to the
// run's folder (`ServerDirectory`, configured or chosen in the folder
// window). False when any of that failed.
bool reconnectToRunFolder();

} // namespace app
