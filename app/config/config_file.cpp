// Loading, saving and reading the configurations of "Quillpost.ini".
#include "app/config/config_file.h"
#include "app/config/password_store.h"
#include "app/config/shortcuts.h"
#include "app/tls_message.h"
#include "runtime/foreign.h"
#include "runtime/ini.h"
#include "runtime/strings.h"
#include "runtime/value.h"
#include <string_view>
#include <windows.h>

namespace app {
namespace {

// Check boxes and the keep list are driven with plain window messages, run
// on the GUI thread that owns the controls.
std::intptr_t sendMessage(rt::Handle control, UINT message, int wParam = 0)
{
    return rt::callByName("USER32", "SendMessageA", {control, static_cast<int>(message), wParam, 0});
}

void setChecked(rt::Handle box, int number) { sendMessage(box, BM_SETCHECK, number != 0 ? BST_CHECKED : BST_UNCHECKED); }
int checked(rt::Handle box) { return static_cast<int>(sendMessage(box, BM_GETCHECK)) == BST_CHECKED ? 1 : 0; }

bool blank(const std::string& text) { return rt::trim(text).empty(); }

// Reads one key of a section; every call goes to the file.
class Section {
public:
    Section(const std::string& iniPath, int configNumber)
        : iniPath_(iniPath), name_(sectionName(configNumber)) {}
    std::string text(const char* key) const { return rt::iniRead(iniPath_, name_, key); }
    // A protected password is far longer than the 255 characters of text().
    std::string password() const { return rt::iniReadWhole(iniPath_, name_, "Password"); }
    int number(const char* key) const { return rt::toInt(text(key)); }
    std::string textOr(const char* key, const std::string& fallback) const
    {
        std::string stored = text(key);
        return blank(stored) ? fallback : stored;
    }
    void write(const char* key, const std::string& value) const { rt::iniWrite(iniPath_, name_, key, value); }
    void write(const char* key, int value) const { rt::iniWrite(iniPath_, name_, key, static_cast<std::int32_t>(value)); }

private:
    std::string iniPath_;
    std::string name_;
};

} // namespace

std::string defaultConfigName(int configNumber) { return "Upload " + std::to_string(configNumber); }

int encryptionIndex(int useTls) { return useTls == 0 || useTls == kImplicitTls ? useTls : 1; }

std::string normaliseServerDirectory(const std::string& stored)
{
    std::string dir = stored;
    if (!dir.empty() && dir.front() == '/') dir.erase(0, 1);
    if (!dir.empty() && dir.back() == '/') dir.pop_back();
    return dir;
}

std::string normaliseServerName(const std::string& typed) { return rt::replace(rt::lower(typed), "ftp://", ""); }

std::string normaliseServerWWWName(const std::string& typed) { return rt::replace(rt::lower(typed), "http://", ""); }

std::string cleanConfigName(const std::string& typed)
{
    std::string name = typed;
    for (char& c : name)
        if (std::string_view("/\\:?*<>\"").find(c) != std::string_view::npos) c = '_';
    return name;
}

bool loadIntoWindow(int configNumber, const ConfigControls& c)
{
    const Section s(state().iniPath, configNumber);
    const std::string name = s.textOr("ConfigName", defaultConfigName(configNumber));
    rt::setText(c.ServerName, s.textOr("ServerName", kDefaultServerName));
    rt::setText(c.ServerPort, s.textOr("ServerPort", kDefaultServerPort));
    rt::setText(c.Username, s.textOr("Username", kDefaultUsername));
    // Blanks are characters of the scrambled form (" " is the stored "Y"):
    // only a missing password shows the default.
    const std::string storedPassword = s.password();
    const StoredPassword password = readStoredPassword(storedPassword);
    rt::setText(c.Password, storedPassword.empty() ? std::string(kDefaultPassword) : password.password);
    rt::setText(c.ServerDirectory, s.text("ServerDirectory"));
    rt::setText(c.ProxyServer, s.text("ProxyServer"));
    rt::setText(c.ProxyPort, s.text("ProxyPort"));
    rt::setText(c.ServerWWWName, s.textOr("ServerWWWName", kDefaultServerWWWName));
    rt::setText(c.ServerWWWDirectory, s.text("ServerWWWDirectory"));

    const int delOld = s.number("DelOld");
    sendMessage(c.DelOld, CB_SETCURSEL, delOld);
    rt::enable(c.DelClick, delOld != 0);
    const int dirSel = s.number("DirSel");
    rt::enable(c.DelOld, dirSel == 0);
    setChecked(c.UseClipboardFunction, s.number("UseClipboardFunction"));
    setChecked(c.PassiveMode, s.number("PassiveMode"));
    setChecked(c.Ask, s.number("Ask"));
    setChecked(c.DirSel, dirSel);
    setChecked(c.Active, s.number("Active"));
    setChecked(c.DelClick, s.number("DelClick"));
    sendMessage(c.UseTLS, CB_SETCURSEL, encryptionIndex(s.number("UseTLS")));
    setChecked(c.CheckAddress, s.number("CheckAddress"));
    rt::enable(c.ServerWWWDirectory, dirSel == 0);
    const std::string trusted = s.text("TrustedCertificate");
    rt::setText(c.TrustedCertificate, trustedCertificateCaption(trusted));
    rt::enable(c.RemoveTrust, !blank(trusted));
    // The name comes last: once it shows, the whole configuration does.
    rt::setText(c.ConfigName, name);
    return password.readable;
}

void saveFromWindow(int configNumber, const ConfigControls& c, bool removeTrust)
{
    const std::string name = cleanConfigName(rt::getText(c.ConfigName));
    rt::setText(c.ConfigName, name);
    const int active = checked(c.Active);
    UpdateShortcut(configNumber, active != 0, name);

    const Section s(state().iniPath, configNumber);
    s.write("Active", active);
    s.write("UseClipboardFunction", checked(c.UseClipboardFunction));
    // A keep list without a selection (hand-edited DelOld out of range)
    // stores "keep everything" rather than -1.
    const int keep = static_cast<int>(sendMessage(c.DelOld, CB_GETCURSEL));
    s.write("DelOld", keep < 0 ? 0 : keep);
    s.write("PassiveMode", checked(c.PassiveMode));
    s.write("ServerName", normaliseServerName(rt::getText(c.ServerName)));
    s.write("ServerPort", rt::getText(c.ServerPort));
    s.write("Username", rt::getText(c.Username));
    // Written anew at every save, so an older scrambled form goes.
    if (const std::optional<std::string> sealed = protectPassword(rt::getText(c.Password)))
        s.write("Password", *sealed);
    else
        rt::msgBox("Das Passwort konnte nicht verschlüsselt gespeichert werden. Das bisher gespeicherte "
                   "Passwort bleibt erhalten.",
                   "Fehler:", MB_OK | MB_ICONSTOP);
    s.write("ServerDirectory", rt::getText(c.ServerDirectory));
    s.write("ServerWWWName", normaliseServerWWWName(rt::getText(c.ServerWWWName)));
    s.write("ServerWWWDirectory", rt::getText(c.ServerWWWDirectory));
    s.write("ProxyServer", rt::getText(c.ProxyServer));
    s.write("ProxyPort", rt::getText(c.ProxyPort));
    s.write("Ask", checked(c.Ask));
    s.write("DirSel", checked(c.DirSel));
    s.write("DelClick", checked(c.DelClick));
    // Loading always selects an entry, so the index is 0, 1 or 2.
    const int encryption = static_cast<int>(sendMessage(c.UseTLS, CB_GETCURSEL));
    s.write("UseTLS", encryption < 0 ? 0 : encryption);
    s.write("CheckAddress", checked(c.CheckAddress));
    if (removeTrust) s.write("TrustedCertificate", std::string());
}

UploadSettings readUploadSettings(const std::string& iniPath, int configNumber)
{
    const Section s(iniPath, configNumber);
    UploadSettings u;
    u.UseClipboardFunction = s.number("UseClipboardFunction");
    u.DirSel = s.number("DirSel");
    u.Ask = s.number("Ask");
    u.DelOld = s.number("DelOld");
    u.DelClick = s.number("DelClick");
    u.ProxyServer = s.text("ProxyServer");
    u.ProxyPort = s.text("ProxyPort");
    u.ServerName = s.text("ServerName");
    u.PassiveMode = s.number("PassiveMode");
    u.ServerPort = s.text("ServerPort");
    u.Username = s.text("Username");
    u.Password = readStoredPassword(s.password()).password;
    u.ServerDirectory = normaliseServerDirectory(s.text("ServerDirectory"));
    u.ServerWWWName = s.text("ServerWWWName");
    u.ServerWWWDirectory = s.text("ServerWWWDirectory");
    u.UseTLS = s.number("UseTLS");
    u.CheckAddress = s.number("CheckAddress");
    u.TrustedCertificate = rt::trim(s.text("TrustedCertificate"));
    return u;
}

} // namespace app
