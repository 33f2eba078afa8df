// The FTP command interface: one call with seventeen named subcommands over
// the process's single FtpComponent, used synchronously from the program
// thread. Names compare without regard to case.
//
//   setproxy host port | connect user pass host port | download remote local
//   upload local remote [again] | getfilesize remote | deletefile remote
//   rename old new | listdir localfile | setdir dir [asListed] | makedir dir
//   deletedir dir [asListed] | setpassive n | setbinary n | disconnect | getdir
//   settls n (1 explicit FTPS, 2 implicit FTPS, 0 plain FTP from the next
//   connect on; any other number is explicit; the previous setting is
//   returned; no network traffic)
//   settrust fingerprint (the SHA-256 fingerprint "AB:CD:..." of the one
//   certificate to accept from the next connect on, whatever its chain; ""
//   for Windows' check; 1 when taken, 0 for a text that is no fingerprint,
//   which leaves Windows' check; no network traffic)
//
// Names are code page 1252 text. After a login to a server that lists UTF8
// in its FEAT reply they go out as UTF-8 (serverName); "getdir" gives its
// reply back in the code page. "listdir" writes the listing as the server
// sends it: a name read from it goes back unchanged when "setdir" or
// "deletedir" get a second argument that is not 0, so a folder whose name
// the code page cannot show can still be entered or removed.
//
// getfilesize gives sizes beyond the integer range exactly in the value's
// text; its integer stops at 2147483647. upload answers 1 only when the
// server's size of the stored file matches the bytes sent and, where the
// server offers a hash command (HASH, XSHA256, XSHA1, XMD5, XCRC), its hash
// matches the hash of the bytes sent. "upload local remote 1" is a further
// attempt at the same file after a failed one: a copy on the server that
// an attempt of this run wrote and that may be whole is checked first and
// counts as stored when it is; a shorter one is continued with REST where
// the server lists "REST STREAM"; otherwise the file goes again from byte 0.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include "ftp/sign_on_failure.h"
#include "ftp/tls_failure.h"
#include "runtime/value.h"

namespace ftp {

rt::Value FtpCommand(const std::string& name, const std::vector<rt::Value>& args = {});

// A name as it goes to the server, and a name from the server (a listing
// line's name) as the program shows it; both as they stand after the last
// login.
std::string serverName(const std::string& name);
std::string displayName(const std::string& serverBytes);

// State kept between calls.
int connectedFlag();          // 1 after a successful connect
// Whether the component's control connection stands now. The connected flag
// stays 1 after a connection was lost (a timeout, a 421, a close by the
// server); this does not.
bool controlConnectionOpen();
int lastReplyCode();
// Why the last connect failed: None after a successful one; Passing when
// trying again may work (see sign_on_failure.h).
SignOnFailure lastSignOnFailure();
// The algorithm ("SHA-256", "MD5", ...) whose hash of the stored file
// differed from the bytes sent in the last "upload" (any of the transfers
// it made); empty when none did.
std::string lastUploadMismatch();
std::string lastReplyText();
// Why TLS failed in the last subcommand (problem None when it did not).
TlsFailure lastTlsFailure();

// The program's table of named procedures for names that are no subcommand.
void registerNamedProcedure(const std::string& name,
                            std::function<rt::Value(const std::vector<rt::Value>&)> proc);

// Creates the component on the calling (GUI) thread / shuts it down; the
// runtime calls these through its component hooks. installIntoRuntime()
// registers them with rt::setComponentHooks.
// Observer of the component's display lines ("> command", "< reply",
// "! note"), for diagnostics; called on the GUI thread. Set it after
// startupComponent and before the program thread runs.
void setDisplayHook(std::function<void(const std::string&)> hook);

void startupComponent();
void shutdownComponent();
void installIntoRuntime();

} // namespace ftp
