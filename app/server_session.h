// The upload run's connection to the server: signing on the configured way
// (proxy and passive mode included), and signing on again and returning to
// the run's folder once the control connection has gone (a timeout, a 421,
// the server closing an idle connection). Whatever has to follow every
// login belongs in signOnToServer, so a reconnection gets it too.
#pragma once

namespace app {

// "SetProxy", "SetPassive" and "SetTls" as configured, then "Connect"
// (which also asks FEAT and switches names to UTF-8 where offered).
void signOnToServer();

// Before a file and before each upload attempt: true at once while the
// control connection stands; otherwise signs on again, enters "/" and then
// the run's folder (`ServerDirectory`, configured or chosen in the folder
// window), as the run did at its start. False when any of that failed.
bool reconnectToRunFolder();

} // namespace app
