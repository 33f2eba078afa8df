// Loading, saving and reading configurations with a real INI file and real
// controls, on the runtime's program thread.
#include "app/config/config_file.h"
#include "app/config/password_store.h"
#include "app/config/scramble.h"
#include "app/tls_message.h"
#include "app/config/shortcuts.h"
#include "runtime/runtime.h"
#include "tests/support/runtime_host.h"
#include <gtest/gtest.h>
#include <functional>
#include <string_view>
#include <vector>

namespace {

using testhost::iniSection;

const char* const kKeepList[] = {"Keine Dateien löschen", "Eine Datei beibehalten", "2 Dateien beibehalten",
                                 "3 Dateien beibehalten", "5 Dateien beibehalten", "10 Dateien beibehalten",
                                 "20 Dateien beibehalten"};

// The controls of a configuration window, built once on a runtime window.
const app::ConfigControls& controls()
{
    static const app::ConfigControls c = [] {
        rt::setWindowPosition(10, 10, 420, 300);
        const rt::Handle w = rt::mainWindow();
        auto edit = [w](std::uint32_t extra = 0) {
            return rt::createControl("EDIT", "", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | extra, 0, 0, 100, 18, w, 0);
        };
        auto box = [w] { return rt::createControl("BUTTON", "", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 0, 0, 20, 20, w, 0); };
        app::ConfigControls k;
        k.ConfigName = edit();
        k.Active = box();
        k.ServerName = edit();
        k.ServerPort = edit();
        k.ServerDirectory = edit();
        k.Username = edit();
        k.Password = edit(ES_PASSWORD);
        k.ProxyServer = edit();
        k.ProxyPort = edit();
        k.ServerWWWName = edit();
        k.ServerWWWDirectory = edit();
        k.DelOld = rt::createControl("COMBOBOX", "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL, 0, 0, 190,
                                     200, w, 0);
        for (const char* entry : kKeepList) rt::listAdd(k.DelOld, entry);
        k.DelClick = box();
        k.PassiveMode = box();
        k.UseClipboardFunction = box();
        k.Ask = box();
        k.DirSel = box();
        k.UseTLS = rt::createControl("COMBOBOX", "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL, 0, 0, 190,
                                     200, w, 0);
        for (const char* entry : app::kEncryptionEntries) rt::listAdd(k.UseTLS, entry);
        k.TrustedCertificate = rt::createControl("STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 200, 18, w, 0);
        k.RemoveTrust = rt::createControl("BUTTON", "Entfernen", WS_CHILD | WS_VISIBLE, 0, 0, 80, 20, w, 0);
        k.CheckAddress = box();
        return k;
    }();
    return c;
}

HWND hwnd(rt::Handle h) { return static_cast<HWND>(rt::hwndOf(h)); }
int checkState(rt::Handle h) { return static_cast<int>(SendMessageA(hwnd(h), BM_GETCHECK, 0, 0)); }
void setCheck(rt::Handle h, bool on) { SendMessageA(hwnd(h), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }
int keepSelection() { return static_cast<int>(SendMessageA(hwnd(controls().DelOld), CB_GETCURSEL, 0, 0)); }
int encryptionSelection() { return static_cast<int>(SendMessageA(hwnd(controls().UseTLS), CB_GETCURSEL, 0, 0)); }
void selectEncryption(int index) { SendMessageA(hwnd(controls().UseTLS), CB_SETCURSEL, index, 0); }
bool enabled(rt::Handle h) { return IsWindowEnabled(hwnd(h)) != FALSE; }

class ConfigFile : public testing::Test {
protected:
    void SetUp() override
    {
        folder = testhost::freshFolder("ini");
        app::state().baseFolder = folder + "\\";
        app::state().iniPath = app::state().baseFolder + "Quillpost.ini";
        app::state().sendToFolder = testhost::freshFolder("sendto");
        ini = app::state().iniPath;
    }
    void write(int n, const char* key, const std::string& value) { rt::iniWrite(ini, app::sectionName(n), key, value); }
    std::string stored(int n, const char* key) { return rt::iniRead(ini, app::sectionName(n), key); }

    std::string folder;
    std::string ini;
    testhost::BoxWatcher boxes;
};

TEST_F(ConfigFile, NoFileShowsTheDefaultsAndSavingWritesEveryKey)
{
    ASSERT_FALSE(testhost::fileExists(ini));
    const app::ConfigControls& c = controls();
    app::loadIntoWindow(1, c);
    EXPECT_FALSE(testhost::fileExists(ini)) << "loading writes nothing";
    const std::pair<rt::Handle, const char*> texts[] = {
        {c.ConfigName, "Upload 1"}, {c.ServerName, "ftp.example.com"}, {c.ServerPort, "21"},
        {c.Username, "Anonymous"}, {c.Password, "tinsel"}, {c.ServerWWWName, "www.example.com"},
        {c.ServerDirectory, ""}, {c.ProxyServer, ""}, {c.ProxyPort, ""}, {c.ServerWWWDirectory, ""},
        {c.TrustedCertificate, "Vertrautes Zertifikat: keines"}};
    for (const auto& [h, text] : texts) EXPECT_EQ(rt::getText(h), text);
    for (rt::Handle h : {c.Active, c.DelClick, c.PassiveMode, c.UseClipboardFunction, c.Ask, c.DirSel, c.CheckAddress})
        EXPECT_EQ(checkState(h), BST_UNCHECKED);
    EXPECT_EQ(keepSelection(), 0);
    EXPECT_EQ(encryptionSelection(), 0);
    EXPECT_FALSE(enabled(c.RemoveTrust));
    EXPECT_FALSE(enabled(c.DelClick));
    EXPECT_TRUE(enabled(c.DelOld));
    EXPECT_TRUE(enabled(c.ServerWWWDirectory));

    app::saveFromWindow(1, c);
    ASSERT_TRUE(testhost::fileExists(ini));
    // The password in the form only this user can decrypt.
    const std::string password = rt::iniReadWhole(ini, "Set1", "Password");
    EXPECT_EQ(app::passwordFormOf(password), app::PasswordForm::Protected);
    EXPECT_EQ(app::readStoredPassword(password).password, "tinsel");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"ConfigName", "Upload 1"}, {"Active", "0"}, {"UseClipboardFunction", "0"}, {"DelOld", "0"},
        {"PassiveMode", "0"}, {"ServerName", "ftp.example.com"}, {"ServerPort", "21"},
        {"Username", "Anonymous"}, {"Password", password}, {"ServerDirectory", ""},
        {"ServerWWWName", "www.example.com"}, {"ServerWWWDirectory", ""}, {"ProxyServer", ""},
        {"ProxyPort", ""}, {"Ask", "0"}, {"DirSel", "0"}, {"DelClick", "0"}, {"UseTLS", "0"},
        {"CheckAddress", "0"}};
    EXPECT_EQ(iniSection(ini, "Set1"), expected);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(ConfigFile, BlankStoredTextsShowDefaultsOtherTextsStayUnchanged)
{
    write(2, "ServerName", "   ");
    write(2, "ServerWWWName", " web.example.net ");
    write(2, "ConfigName", "Bilder");
    write(2, "Username", "\t");
    write(2, "Password", "");
    write(2, "ServerDirectory", " /pub/ ");
    const app::ConfigControls& c = controls();
    app::loadIntoWindow(2, c);
    EXPECT_EQ(rt::getText(c.ServerName), "ftp.example.com");
    // Windows' profile reader strips blanks around values, so stored blanks
    // cannot survive the file; the window shows what the reader returns.
    EXPECT_EQ(rt::getText(c.ServerWWWName), stored(2, "ServerWWWName"));
    EXPECT_EQ(rt::getText(c.ConfigName), "Bilder");
    EXPECT_EQ(rt::getText(c.Username), "Anonymous");
    EXPECT_EQ(rt::getText(c.Password), "tinsel");
    EXPECT_EQ(rt::getText(c.ServerDirectory), stored(2, "ServerDirectory"));
}

TEST_F(ConfigFile, SavingNormalisesHostNamesAndTheConfigurationName)
{
    const app::ConfigControls& c = controls();
    app::loadIntoWindow(3, c);
    const struct { const char* name; const char* server; const char* www; const char* storedName;
                   const char* storedServer; const char* storedWWW; } cases[] = {
        {"a/b:c", "FTP://Host.Example", "HTTP://Www.Example.Org", "a_b_c", "host.example", "www.example.org"},
        {"My:Files?", "ftp.Example.com", "www.example.com/http://x", "My_Files_", "ftp.example.com", "www.example.com/x"},
        {"\\*<>\"|", "\xC4RGER.example", "h", "_____|", "\xE4rger.example", "h"},
        {"https", "h", "HTTPS://W.Example:8443", "https", "h", "https://w.example:8443"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        rt::setText(c.ConfigName, k.name);
        rt::setText(c.ServerName, k.server);
        rt::setText(c.ServerWWWName, k.www);
        app::saveFromWindow(3, c);
        EXPECT_EQ(rt::getText(c.ConfigName), k.storedName);
        EXPECT_EQ(stored(3, "ConfigName"), k.storedName);
        EXPECT_EQ(stored(3, "ServerName"), k.storedServer);
        EXPECT_EQ(stored(3, "ServerWWWName"), k.storedWWW);
    }
}

TEST_F(ConfigFile, KeepListAndSwitchesFollowTheStoredNumbers)
{
    const app::ConfigControls& c = controls();
    for (const char* key : {"DelClick", "Ask", "Active", "UseTLS", "CheckAddress"}) write(4, key, "1");
    write(4, "DelOld", "4");
    write(4, "ConfigName", "Vier");
    app::loadIntoWindow(4, c);
    EXPECT_EQ(keepSelection(), 4);
    EXPECT_EQ(rt::listItemText(c.DelOld, keepSelection()), "5 Dateien beibehalten");
    EXPECT_TRUE(enabled(c.DelClick));
    EXPECT_TRUE(enabled(c.DelOld));
    for (rt::Handle h : {c.DelClick, c.Ask, c.Active, c.CheckAddress}) EXPECT_EQ(checkState(h), BST_CHECKED);
    EXPECT_EQ(encryptionSelection(), 1);
    EXPECT_EQ(checkState(c.PassiveMode), BST_UNCHECKED);

    for (const char* key : {"DirSel", "DelClick"}) write(5, key, "1");
    write(5, "DelOld", "0");
    app::loadIntoWindow(5, c);
    EXPECT_FALSE(enabled(c.DelOld));
    EXPECT_FALSE(enabled(c.ServerWWWDirectory));
    EXPECT_FALSE(enabled(c.DelClick));
    EXPECT_EQ(checkState(c.DelClick), BST_CHECKED) << "a disabled box keeps its state";
    EXPECT_EQ(checkState(c.DirSel), BST_CHECKED);
    app::saveFromWindow(5, c);
    EXPECT_EQ(stored(5, "DelClick"), "1");
    EXPECT_EQ(stored(5, "DirSel"), "1");

    // Switching back enables everything again.
    app::loadIntoWindow(4, c);
    EXPECT_TRUE(enabled(c.DelOld));
    EXPECT_TRUE(enabled(c.ServerWWWDirectory));
}

TEST_F(ConfigFile, SwitchesAreSavedAsZeroOrOne)
{
    const app::ConfigControls& c = controls();
    app::loadIntoWindow(6, c);
    setCheck(c.PassiveMode, true);
    setCheck(c.UseClipboardFunction, true);
    selectEncryption(1);
    setCheck(c.CheckAddress, true);
    SendMessageA(hwnd(c.DelOld), CB_SETCURSEL, 6, 0);
    rt::setText(c.ServerPort, "2121");
    rt::setText(c.ProxyServer, "proxy.example.com");
    rt::setText(c.ProxyPort, "8021");
    app::saveFromWindow(6, c);
    const std::pair<const char*, const char*> saved[] = {
        {"PassiveMode", "1"}, {"UseClipboardFunction", "1"}, {"Ask", "0"},    {"UseTLS", "1"},
        {"CheckAddress", "1"}, {"DelOld", "6"},               {"ServerPort", "2121"},
        {"ProxyServer", "proxy.example.com"},                 {"ProxyPort", "8021"}};
    for (const auto& [key, value] : saved) EXPECT_EQ(stored(6, key), value) << key;
}

// Stored UseTLS and the list entry shown, and what the entry saves.
TEST_F(ConfigFile, EncryptionListFollowsUseTls)
{
    const app::ConfigControls& c = controls();
    const struct { const char* stored; int shown; const char* saved; } rows[] = {
        {"", 0, "0"}, {"0", 0, "0"}, {"1", 1, "1"}, {"2", 2, "2"},
        // Numbers the window does not know are explicit FTPS, as for the
        // upload run: never unencrypted without the user's choice.
        {"3", 1, "1"}, {"-1", 1, "1"}, {"x", 0, "0"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.stored);
        write(6, "UseTLS", r.stored);
        app::loadIntoWindow(6, c);
        EXPECT_EQ(encryptionSelection(), r.shown);
        app::saveFromWindow(6, c);
        EXPECT_EQ(stored(6, "UseTLS"), r.saved);
    }
    selectEncryption(2);
    app::saveFromWindow(6, c);
    EXPECT_EQ(stored(6, "UseTLS"), "2");
}

// The trusted certificate is shown, and removed only by a save that asks
// for it; other saves leave it to the upload run.
TEST_F(ConfigFile, TrustedCertificateIsShownAndRemovedOnRequest)
{
    const app::ConfigControls& c = controls();
    const std::string fingerprint =
        "3A:F1:0C:5D:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:10:21:32:43:54:65:76:87:98:A9:BA:CB";
    write(8, "TrustedCertificate", fingerprint);
    EXPECT_TRUE(app::loadIntoWindow(8, c));
    EXPECT_EQ(rt::getText(c.TrustedCertificate), app::trustedCertificateCaption(fingerprint));
    EXPECT_TRUE(enabled(c.RemoveTrust));
    app::saveFromWindow(8, c);
    EXPECT_EQ(stored(8, "TrustedCertificate"), fingerprint);
    app::saveFromWindow(8, c, true);
    EXPECT_EQ(stored(8, "TrustedCertificate"), "");
    app::loadIntoWindow(8, c);
    EXPECT_EQ(rt::getText(c.TrustedCertificate), "Vertrautes Zertifikat: keines");
    EXPECT_FALSE(enabled(c.RemoveTrust));
}

// Typed passwords of any length and character are saved protected and read
// back whole; older scrambled values load as before and are replaced at the
// next save; a value that does not decrypt shows empty and is reported.
TEST_F(ConfigFile, PasswordsAreStoredProtectedAndReadInEitherForm)
{
    const app::ConfigControls& c = controls();
    std::string every;
    for (int ch = 0x20; ch <= 0xFF; ++ch)
        if (ch != 0x7F) every += static_cast<char>(ch);
    for (const std::string& password : {std::string("Geheim 42!"), std::string(40, 'p'),
                                        std::string("Pa$$'\"\\`x") + std::string(35, 'y'), every.substr(0, 200),
                                        std::string(" Blanks at both ends ")}) {
        SCOPED_TRACE(password);
        app::loadIntoWindow(7, c);
        rt::setText(c.Password, password);
        app::saveFromWindow(7, c);
        const std::string storedForm = rt::iniReadWhole(ini, "Set7", "Password");
        EXPECT_EQ(app::passwordFormOf(storedForm), app::PasswordForm::Protected);
        EXPECT_EQ(storedForm.find(password), std::string::npos);
        app::loadIntoWindow(8, c);
        EXPECT_TRUE(app::loadIntoWindow(7, c));
        EXPECT_EQ(rt::getText(c.Password), password);
        EXPECT_EQ(app::readUploadSettings(ini, 7).Password, password);
    }

    write(7, "Password", app::scramble("Alt 42"));
    EXPECT_TRUE(app::loadIntoWindow(7, c));
    EXPECT_EQ(rt::getText(c.Password), "Alt 42");
    EXPECT_EQ(app::readUploadSettings(ini, 7).Password, "Alt 42");
    app::saveFromWindow(7, c);
    EXPECT_EQ(app::passwordFormOf(stored(7, "Password")), app::PasswordForm::Protected);
    EXPECT_EQ(app::readUploadSettings(ini, 7).Password, "Alt 42");

    // A hand-edited value, or one from another user's file.
    for (const std::string& foreign : {std::string(36, 'A'), app::base64Encode(std::string(150, 'Q'))}) {
        write(7, "Password", foreign);
        EXPECT_FALSE(app::loadIntoWindow(7, c));
        EXPECT_EQ(rt::getText(c.Password), "");
        EXPECT_EQ(app::readUploadSettings(ini, 7).Password, "");
    }
    EXPECT_TRUE(boxes.boxes().empty()) << "the window tells the user, not the load";
}

// Every character of the set as first and as last character of a stored
// form, for several lengths, and as first and last character of a password:
// each password read back through the file is the one written.
TEST_F(ConfigFile, EveryPasswordReadsBackThroughTheFile)
{
    const std::string_view set = app::scrambleRow(0);
    const std::string filler = "Yellow42Kette9_x-Y#abcdefghijklmnopqrstu";
    std::vector<std::string> passwords;
    for (char c : set) {
        passwords.push_back(std::string(1, c) + "ellow42");
        passwords.push_back("Yellow4" + std::string(1, c));
        for (std::size_t n : {1u, 2u, 8u, 29u, 30u, 31u, 35u}) {
            std::string storedForm = std::string(1, c);
            if (n > 1) storedForm += filler.substr(0, n - 2) + c;
            passwords.push_back(app::unscramble(storedForm));
            ASSERT_EQ(app::scramble(passwords.back()), storedForm);
        }
    }
    // And every character inside a stored form.
    for (std::size_t at = 0; at < set.size(); at += 33) {
        const std::string storedForm = "x" + std::string(set.substr(at, 33)) + "x";
        passwords.push_back(app::unscramble(storedForm));
        ASSERT_EQ(app::scramble(passwords.back()), storedForm);
    }
    int failures = 0;
    for (const std::string& password : passwords) {
        write(4, "Password", app::scramble(password));
        const std::string back = app::readUploadSettings(ini, 4).Password;
        if (back != password && ++failures <= 10)
            ADD_FAILURE() << "[" << password << "] stored as [" << app::scramble(password) << "] reads back as ["
                          << back << "]";
    }
    EXPECT_EQ(failures, 0) << "of " << passwords.size();
}

// The configuration window's own path: saved from the field, loaded into it.
TEST_F(ConfigFile, WindowKeepsPasswordsWithBlanksInTheirStoredForm)
{
    const app::ConfigControls& c = controls();
    for (const char* password : {"Yellow42", "Wasabi", "Mein Pass 1", "Y", "Ya", "Yellow4\xC0"}) {
        app::loadIntoWindow(5, c);
        rt::setText(c.Password, password);
        app::saveFromWindow(5, c);
        app::loadIntoWindow(6, c);
        app::loadIntoWindow(5, c);
        EXPECT_EQ(rt::getText(c.Password), password) << "stored as [" << stored(5, "Password") << "]";
        EXPECT_EQ(app::readUploadSettings(ini, 5).Password, password);
    }
    EXPECT_EQ(app::scramble("Yellow42"), " 76TJbLe");
    EXPECT_EQ(app::scramble("Wasabi").back(), ' ');
    EXPECT_EQ(app::scramble("Y"), " ");
}

TEST_F(ConfigFile, NothingIsCached)
{
    const app::ConfigControls& c = controls();
    write(9, "ServerName", "first.example");
    app::loadIntoWindow(9, c);
    EXPECT_EQ(rt::getText(c.ServerName), "first.example");
    write(9, "ServerName", "second.example");
    app::loadIntoWindow(9, c);
    EXPECT_EQ(rt::getText(c.ServerName), "second.example");
}

// Each key as stored and what the upload run takes from it; without the
// keys the run takes nothing (no window defaults), and configurations from
// before a key behave as ever.
TEST_F(ConfigFile, UploadReadTakesStoredValuesWithoutDefaults)
{
    using U = app::UploadSettings;
    using Read = std::function<std::string(const U&)>;
    auto text = [](std::string U::*m) -> Read { return [m](const U& u) { return u.*m; }; };
    auto number = [](int U::*m) -> Read { return [m](const U& u) { return std::to_string(u.*m); }; };
    const struct { const char* key; std::string value; Read read; std::string none, taken; } rows[] = {
        {"UseClipboardFunction", "1", number(&U::UseClipboardFunction), "0", "1"},
        {"DirSel", "1", number(&U::DirSel), "0", "1"},
        {"Ask", "1", number(&U::Ask), "0", "1"},
        {"DelOld", "5", number(&U::DelOld), "0", "5"},
        {"DelClick", "1", number(&U::DelClick), "0", "1"},
        {"ProxyServer", "proxy.example.com", text(&U::ProxyServer), "", "proxy.example.com"},
        {"ProxyPort", "8021", text(&U::ProxyPort), "", "8021"},
        {"ServerName", "ftp.example.net", text(&U::ServerName), "", "ftp.example.net"},
        {"PassiveMode", "1", number(&U::PassiveMode), "0", "1"},
        {"ServerPort", "2121", text(&U::ServerPort), "", "2121"},
        {"Username", "Anna", text(&U::Username), "", "Anna"},
        {"Password", app::scramble("s3cret"), text(&U::Password), "", "s3cret"},
        {"ServerDirectory", "/pub/files/", text(&U::ServerDirectory), "", "pub/files"},
        {"ServerWWWName", "www.example.net", text(&U::ServerWWWName), "", "www.example.net"},
        {"ServerWWWDirectory", "files", text(&U::ServerWWWDirectory), "", "files"},
        {"UseTLS", "1", number(&U::UseTLS), "0", "1"},
        {"CheckAddress", "1", number(&U::CheckAddress), "0", "1"},
        {"TrustedCertificate", " AB:CD ", text(&U::TrustedCertificate), "", "AB:CD"},
    };
    const U none = app::readUploadSettings(ini, 3);
    for (const auto& r : rows) EXPECT_EQ(r.read(none), r.none) << r.key;
    for (const auto& r : rows) write(3, r.key, r.value);
    write(2, "ServerName", "other.example");
    const U u = app::readUploadSettings(ini, 3);
    for (const auto& r : rows) EXPECT_EQ(r.read(u), r.taken) << r.key;
    EXPECT_EQ(stored(3, "ServerDirectory"), "/pub/files/") << "the stored value is not changed";

    write(3, "DelOld", "x");
    EXPECT_EQ(app::readUploadSettings(ini, 3).DelOld, 0);
    EXPECT_EQ(app::readUploadSettings(ini, 0).ServerName, "");
}

TEST(ConfigNormalise, ServerDirectoryLosesOneSlashAtEachEnd)
{
    const struct { const char* stored; const char* used; } cases[] = {
        {"/pub/files/", "pub/files"}, {"//x", "/x"}, {"/", ""}, {"//", ""}, {"///", "/"},
        {"", ""}, {"pub", "pub"}, {"pub/", "pub"}, {"/pub", "pub"}, {"x//", "x/"},
        {"/home/meinordner", "home/meinordner"}, {" /a/ ", " /a/ "},
    };
    for (const auto& k : cases) EXPECT_EQ(app::normaliseServerDirectory(k.stored), k.used) << k.stored;
}

TEST(ConfigNormalise, HostNamesAndNames)
{
    EXPECT_EQ(app::normaliseServerName("FTP://Host.Example"), "host.example");
    EXPECT_EQ(app::normaliseServerName("ftp://a.example/ftp://"), "a.example/");
    EXPECT_EQ(app::normaliseServerName("HTTP://x"), "http://x");
    // IPv6 addresses come through whole, brackets and all; their hex digits
    // in lower case mean the same address.
    EXPECT_EQ(app::normaliseServerName("ftp://[2001:DB8::A]"), "[2001:db8::a]");
    EXPECT_EQ(app::normaliseServerName("::1"), "::1");
    EXPECT_EQ(app::normaliseServerName("FE80::1%3"), "fe80::1%3");
    EXPECT_EQ(app::normaliseServerWWWName("HTTP://Www.Example.Org"), "www.example.org");
    EXPECT_EQ(app::normaliseServerWWWName("ftp://x"), "ftp://x");
    EXPECT_EQ(app::cleanConfigName("a/b:c"), "a_b_c");
    EXPECT_EQ(app::cleanConfigName("/\\:?*<>\""), "________");
    EXPECT_EQ(app::cleanConfigName("Urlaub \xE4|2"), "Urlaub \xE4|2");
    EXPECT_EQ(app::sectionName(10), "Set10");
    EXPECT_EQ(app::defaultConfigName(3), "Upload 3");
}

} // namespace
