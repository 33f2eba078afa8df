// The configuration file "Quillpost.ini": sections Set1 to Set10, one per
// configuration. Nothing is cached: every value is read from the file when it
// is needed and every change is written at once.
//
// Three operations use the file: loading a configuration into the
// configuration window, saving the window into a configuration, and reading
// a configuration for an upload. The history keys (History1..20, Protect,
// Dirs1..10) are read and written by the upload workflow directly through
// rt::iniRead / rt::iniWrite with app::sectionName().
#pragma once
#include <string>
#include "app/state.h"
#include "runtime/windows.h"

namespace app {

// Window defaults for keys whose stored text is blank.
inline constexpr const char* kDefaultServerName = "ftp.example.com";
inline constexpr const char* kDefaultServerWWWName = "www.example.com";
inline constexpr const char* kDefaultServerPort = "21";
inline constexpr const char* kDefaultUsername = "Anonymous";
inline constexpr const char* kDefaultPassword = "tinsel";
// "Upload " + number.
std::string defaultConfigName(int configNumber);

// The controls of the configuration window whose values are loaded and
// saved, each named after its INI key.
struct ConfigControls {
    rt::Handle ConfigName = 0;            // edit: "Bezeichnung:"
    rt::Handle Active = 0;                // check box "aktiviert"
    rt::Handle ServerName = 0;            // edit
    rt::Handle ServerPort = 0;            // edit
    rt::Handle ServerDirectory = 0;       // edit
    rt::Handle Username = 0;              // edit
    rt::Handle Password = 0;              // password edit (shows the plain password)
    rt::Handle ProxyServer = 0;           // edit
    rt::Handle ProxyPort = 0;             // edit
    rt::Handle ServerWWWName = 0;         // edit
    rt::Handle ServerWWWDirectory = 0;    // edit
    rt::Handle DelOld = 0;                // drop-down keep list, selected index = DelOld
    rt::Handle DelClick = 0;              // check box "Rechtsklick auf Uploadfenster ..."
    rt::Handle PassiveMode = 0;           // check box "&Passiven Modus verwenden"
    rt::Handle UseClipboardFunction = 0;  // check box "&URL nach Upload ..."
    rt::Handle Ask = 0;                   // check box "&Vor dem Überschreiben fragen"
    rt::Handle DirSel = 0;                // check box "&Ordnerwahl vor Upload anbieten"
    rt::Handle UseTLS = 0;                // drop-down "Verschlüsselung", selected index = UseTLS
    rt::Handle CheckAddress = 0;          // check box "Adresse vor dem Kopieren prüfen"
    rt::Handle TrustedCertificate = 0;    // text: the certificate trusted for the configuration, if any
    rt::Handle RemoveTrust = 0;           // button that removes that trust (enabled while one is stored)
};

// Entries of the "Verschlüsselung" list; the index is the stored UseTLS.
inline constexpr const char* kEncryptionEntries[] = {
    "Keine (normales FTP)", "Explizites FTPS (AUTH TLS)", "Implizites FTPS (Port 990)"};
inline constexpr int kImplicitTls = 2;
// The list entry of a stored UseTLS: 0 and 2 as they are, any other number
// explicit FTPS, as the upload run reads it (never silently unencrypted).
int encryptionIndex(int useTls);


// Fills the controls from section "Set" + configNumber of state().iniPath,
// key by key: ConfigName, ServerName, ServerPort, Username, Password (either
// stored form, password_store.h), ServerDirectory, ProxyServer, ProxyPort,
// ServerWWWName, ServerWWWDirectory, DelOld, DirSel, UseClipboardFunction,
// PassiveMode, Ask, Active, DelClick, UseTLS, CheckAddress, TrustedCertificate. Blank
// texts show the window defaults above; the password shows its default only
// when nothing is stored, since a scrambled form may consist of blanks, and
// is empty when its stored form does not decrypt. Also sets the enabled
// states that follow from the values: DelClick enabled exactly when
// DelOld != 0; the keep list and ServerWWWDirectory enabled exactly when
// DirSel == 0; RemoveTrust enabled exactly when a certificate is trusted.
// The window's own coupling flags are not touched. The name field is
// filled last, so that a name shown means the whole configuration is.
// Returns false when a stored password could not be decrypted.
bool loadIntoWindow(int configNumber, const ConfigControls& controls);

// Stores the controls into section "Set" + configNumber: cleans the name
// field (/ \ : ? * < > " become "_", the field shows the cleaned name), runs
// the shortcut step (UpdateShortcut, which may show the duplicate-name box
// and writes ConfigName), then writes Active, UseClipboardFunction, DelOld,
// PassiveMode, ServerName, ServerPort, Username, Password (protected by
// Windows, always in that form), ServerDirectory, ServerWWWName,
// ServerWWWDirectory, ProxyServer, ProxyPort, Ask, DirSel, DelClick, UseTLS,
// CheckAddress in this order, and an empty TrustedCertificate when `removeTrust` is set.
// TrustedCertificate is otherwise left to the upload run, which stores it.
void saveFromWindow(int configNumber, const ConfigControls& controls, bool removeTrust = false);

// Reads the settings of section "Set" + configNumber of iniPath for an
// upload, in the order UseClipboardFunction, DirSel, Ask, DelOld, DelClick,
// ProxyServer, ProxyPort, ServerName, PassiveMode, ServerPort, Username,
// Password (either stored form; "" when it does not decrypt), ServerDirectory
// (normalised), ServerWWWName, ServerWWWDirectory, UseTLS, CheckAddress,
// TrustedCertificate (without blanks at its ends). No defaults: missing keys
// give "" or 0.
UploadSettings readUploadSettings(const std::string& iniPath, int configNumber);

// Pure normalisations.
// One leading "/" and one trailing "/" removed: "/pub/files/" -> "pub/files",
// "//x" -> "/x", "/" -> "".
std::string normaliseServerDirectory(const std::string& stored);
// Lower case, then every "ftp://" removed.
std::string normaliseServerName(const std::string& typed);
// Lower case, then every "http://" removed; a typed "https://" stays, so
// that the host keeps its scheme.
std::string normaliseServerWWWName(const std::string& typed);
// Each of / \ : ? * < > " replaced by "_".
std::string cleanConfigName(const std::string& typed);

} // namespace app
