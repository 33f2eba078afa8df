// The configuration window: built from the control table, then driven by the
// runtime's event wait on the program thread until it is left.
#include "app/config/config_window.h"

#include <algorithm>
#include <array>
#include <string>
#include <windows.h>

#include "app/config/config_file.h"
#include "app/config/config_layout.h"
#include "app/config/help_texts.h"
#include "app/config/info_window.h"
#include "app/config/window_events.h"
#include "app/state.h"
#include "app/tls_message.h"
#include "runtime/errors.h"
#include "runtime/events.h"
#include "runtime/foreign.h"
#include "runtime/process.h"
#include "runtime/windows.h"

namespace app {

namespace {

constexpr int kColorBtnFace = 15;
constexpr int kControlIdBase = 1000;
constexpr unsigned kSsIcon = 0x03;
constexpr unsigned kSsNotify = 0x100;  // lets the icon's tooltip see the mouse
constexpr unsigned kSsEtchedHorz = 0x10;
constexpr unsigned kDropListStyle = 0x54210603;  // drop-down list, unsorted, vertical scroll

struct ConfigWindow {
    rt::Handle window = 0;
    std::int32_t boldFont = 0;
    std::int32_t italicFont = 0;
    rt::Handle selector = 0;
    rt::Handle save = 0;
    rt::Handle cancel = 0;
    rt::Handle about = 0;
    std::array<rt::Handle, kHelpCount + 1> help{};  // by help number
    ConfigControls fields;
};

HWND hwnd(rt::Handle h) { return static_cast<HWND>(rt::hwndOf(h)); }

LRESULT send(rt::Handle h, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageA(hwnd(h), message, wParam, lParam);
}

bool isChecked(rt::Handle box) { return send(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

int systemMetric(int index)
{
    return static_cast<int>(rt::callByName("USER32", "GetSystemMetrics", {index}));
}

// Extra height for captions taller than the 19 pixels the layout assumes.
int captionAllowance() { return std::max(0, systemMetric(SM_CYCAPTION) - 19); }

// Centred on the primary screen; never above or left of it, where the
// runtime would refuse the position.
void placeWindow()
{
    rt::setWindowPosition(std::max(0, rt::screenWidth() / 2 - kConfigWindowWidth / 2),
                          std::max(0, rt::screenHeight() / 2 - kConfigWindowHeight / 2),
                          kConfigWindowWidth, kConfigWindowHeight + captionAllowance());
}

rt::Handle makeFont(bool bold, bool italic)
{
    return rt::create("font", {kWindowFontFace, kWindowFontHeight, 0, bold ? 1 : 0, italic ? 1 : 0, 0});
}

void setFont(rt::Handle control, std::int32_t font)
{
    send(control, WM_SETFONT, static_cast<WPARAM>(static_cast<std::intptr_t>(font)), TRUE);
}

rt::Handle createFromRow(const ControlRow& c, int index, rt::Handle parent)
{
    int x = c.x, y = c.y;
    if (c.inGroup) {
        // Group members are children of the window itself so that their
        // commands reach the event loop and Tab reaches them.
        x += kConfigControls[0].x;
        y += kConfigControls[0].y;
    }
    const int id = kControlIdBase + index;
    constexpr unsigned child = WS_CHILD | WS_VISIBLE;
    switch (c.kind) {
    case ControlKind::GroupBox:
        return rt::create("groupbox", {parent, c.text, x, y, c.w, c.h});
    case ControlKind::DropList:
        return rt::createControl("COMBOBOX", "", kDropListStyle, x, y, c.w, c.h, parent, id);
    case ControlKind::Text:
        return rt::create("text", {parent, c.text, x, y, c.w, c.h});
    case ControlKind::Edit: {
        // Every field scrolls, so that a host name or a long password
        // can be typed beyond the visible width.
        unsigned style = child | WS_TABSTOP | ES_AUTOHSCROLL;
        if (c.editFlags & EditDigits)
            style |= ES_NUMBER;
        if (c.editFlags & EditPassword)
            style |= ES_PASSWORD;
        const rt::Handle h = rt::createControl("EDIT", "", style, x, y, c.w, c.h, parent, id, WS_EX_STATICEDGE);
        if (c.limit > 0)
            send(h, EM_LIMITTEXT, static_cast<WPARAM>(c.limit), 0);
        return h;
    }
    case ControlKind::CheckBox:
        return rt::create("checkbox", {parent, c.text, x, y, c.w, c.h});
    case ControlKind::EtchedLine:
        return rt::createControl("STATIC", "", child | kSsEtchedHorz, x, y, c.w, c.h, parent, id);
    case ControlKind::Button:
        return rt::create("button", {parent, c.text, x, y, c.w, c.h});
    case ControlKind::HelpButton:
        return rt::createControl("BUTTON", c.text, child | WS_TABSTOP, x, y, c.w, c.h, parent, id,
                                 WS_EX_STATICEDGE);
    case ControlKind::Icon: {
        const rt::Handle h = rt::createControl("STATIC", "", child | kSsIcon | kSsNotify, x, y, c.w, c.h,
                                               parent, kIconControlId);
        const std::string resourceName = c.text;
        const auto icon = rt::callByName("USER32", "LoadImageA",
                                         {rt::instance(), resourceName, IMAGE_ICON, kIconSize, kIconSize, 0});
        if (icon)
            send(h, STM_SETIMAGE, IMAGE_ICON, static_cast<LPARAM>(icon));
        rt::create("tooltip", {parent, h, "Quillpost 1.2 - Dateien per \"Senden an\" hochladen"});
        return h;
    }
    }
    return 0;
}

void assignRole(ConfigWindow& w, const ControlRow& c, rt::Handle h)
{
    ConfigControls& f = w.fields;
    switch (c.role) {
    case ControlRole::Selector: w.selector = h; break;
    case ControlRole::Name: f.ConfigName = h; break;
    case ControlRole::Active: f.Active = h; break;
    case ControlRole::ServerName: f.ServerName = h; break;
    case ControlRole::ServerPort: f.ServerPort = h; break;
    case ControlRole::ServerDirectory: f.ServerDirectory = h; break;
    case ControlRole::Username: f.Username = h; break;
    case ControlRole::Password: f.Password = h; break;
    case ControlRole::ProxyServer: f.ProxyServer = h; break;
    case ControlRole::ProxyPort: f.ProxyPort = h; break;
    case ControlRole::WWWName: f.ServerWWWName = h; break;
    case ControlRole::WWWDirectory: f.ServerWWWDirectory = h; break;
    case ControlRole::KeepList: f.DelOld = h; break;
    case ControlRole::DelClick: f.DelClick = h; break;
    case ControlRole::Passive: f.PassiveMode = h; break;
    case ControlRole::Clipboard: f.UseClipboardFunction = h; break;
    case ControlRole::Ask: f.Ask = h; break;
    case ControlRole::DirSel: f.DirSel = h; break;
    case ControlRole::Tls: f.UseTLS = h; break;
    case ControlRole::CheckAddress: f.CheckAddress = h; break;
    case ControlRole::TrustedCertificate: f.TrustedCertificate = h; break;
    case ControlRole::RemoveTrust: f.RemoveTrust = h; break;
    case ControlRole::Save: w.save = h; break;
    case ControlRole::Cancel: w.cancel = h; break;
    case ControlRole::About: w.about = h; break;
    case ControlRole::Help: w.help[c.help] = h; break;
    case ControlRole::None:
    case ControlRole::Group:
    case ControlRole::Icon: break;
    }
}

ConfigWindow build()
{
    ConfigWindow w;
    rt::setWindowStyle(kConfigWindowStyle);
    rt::setWindowTitle("Quillpost 1.2");
    placeWindow();
    w.window = rt::mainWindow();
    // The system colour is a 24-bit RGB value, not a 15-bit one.
    rt::setSwitch("truecolor", rt::Value(1));
    rt::setBackground(static_cast<std::uint32_t>(rt::callByName("USER32", "GetSysColor", {kColorBtnFace})));

    w.boldFont = makeFont(true, false);
    w.italicFont = makeFont(false, true);
    // Every control, and every control of the info window, gets the
    // window's font: one face and size throughout, the one the table's
    // rectangles are made for.
    rt::setCurrentFont(makeFont(false, false));

    for (int i = 0; i < kConfigControlCount; ++i) {
        const ControlRow& c = kConfigControls[i];
        const rt::Handle h = createFromRow(c, i, w.window);
        if (c.font == ControlFont::Bold)
            setFont(h, w.boldFont);
        else if (c.font == ControlFont::Italic)
            setFont(h, w.italicFont);
        assignRole(w, c, h);
    }
    for (int n = 1; n <= kSelectorEntryCount; ++n)
        rt::listAdd(w.selector, "Konfiguration " + std::to_string(n));
    send(w.selector, CB_SETCURSEL, 0, 0);
    for (const char* entry : kKeepEntries)
        rt::listAdd(w.fields.DelOld, entry);
    for (const char* entry : kEncryptionEntries)
        rt::listAdd(w.fields.UseTLS, entry);
    return w;
}

bool keepsNothing(const ConfigWindow& w) { return rt::listSelection(w.fields.DelOld) == 0; }

int encryption(const ConfigWindow& w) { return rt::listSelection(w.fields.UseTLS); }

// Loads configuration N. A stored password that does not decrypt (a file
// from another user or machine) shows as empty, and the user is told; the
// configuration's next save (at the latest when it is left) replaces it, so
// this is said once.
void load(ConfigWindow& w, int configNumber)
{
    if (loadIntoWindow(configNumber, w.fields)) return;
    rt::msgBox("Das gespeicherte Passwort der Konfiguration " + std::to_string(configNumber) +
                   " kann nicht gelesen werden. Es wurde von einem anderen Benutzer oder auf einem anderen "
                   "Computer gespeichert.\r\n\r\nBitte geben Sie das Passwort neu ein.",
               "Achtung:", MB_OK | MB_ICONEXCLAMATION);
}

// What the last event was, taken before any step runs: the steps that wait
// once more overwrite the runtime's event variables.
struct Event {
    bool closeRequest = false;
    bool save = false;
    bool cancel = false;
    bool about = false;
    bool removeTrust = false;
    int help = 0;  // number of the clicked help button
};

Event readEvent(const ConfigWindow& w)
{
    Event e;
    e.closeRequest = rt::userMessage() == WM_CLOSE;
    e.save = clickedOn(w.save);
    e.cancel = clickedOn(w.cancel);
    e.about = clickedOn(w.about);
    e.removeTrust = clickedOn(w.fields.RemoveTrust);
    for (int k = 1; k <= kHelpCount; ++k)
        if (clickedOn(w.help[k]))
            e.help = k;
    return e;
}

} // namespace

void runConfigWindow()
{
    ConfigWindow w = build();
    int& configNumber = state().configNumber;
    configNumber = 1;
    placeWindow();
    load(w, configNumber);

    // The close box and control commands reach the loop as events; the
    // close box no longer closes the window by itself.
    rt::registerUserMessages({0, WM_CLOSE, WM_COMMAND});

    int handledIndex = 0;
    bool folderSelectionSeen = false;  // box "&Ordnerwahl ..." last seen checked
    // Keep list last seen on "Keine Dateien löschen". Loading sets the
    // right-click box to match the list, so the flag follows each load:
    // otherwise a first event that picks another entry would leave the box
    // disabled.
    bool keepNothingSeen = keepsNothing(w);
    // The encryption last seen, so that only the user's choice of implicit
    // FTPS moves the standard port, never a load.
    int encryptionSeen = encryption(w);
    // The trusted certificate of the shown configuration is to go at its
    // next save.
    bool trustRemoved = false;
    for (;;) {
        rt::waitNextEvent();
        const Event event = readEvent(w);

        // 1. Folder selection before the upload: nothing is deleted, and the
        //    web directory follows the chosen folder.
        const bool folderSelection = isChecked(w.fields.DirSel);
        if (folderSelection && !folderSelectionSeen) {
            send(w.fields.DelOld, CB_SETCURSEL, 0, 0);
            rt::enable(w.fields.DelOld, false);
            rt::enable(w.fields.ServerWWWDirectory, false);
            folderSelectionSeen = true;
        } else if (!folderSelection && folderSelectionSeen) {
            rt::enable(w.fields.DelOld, true);
            rt::enable(w.fields.ServerWWWDirectory, true);
            folderSelectionSeen = false;
        }

        // 2. The right-click deletion list only matters when files are deleted.
        const bool keepNothing = keepsNothing(w);
        if (keepNothing && !keepNothingSeen) {
            rt::enable(w.fields.DelClick, false);
            keepNothingSeen = true;
        } else if (!keepNothing && keepNothingSeen) {
            rt::enable(w.fields.DelClick, true);
            keepNothingSeen = false;
        }

        // Implicit FTPS listens on its own port: a port still at the
        // standard 21 becomes 990.
        const int encryptionNow = encryption(w);
        if (encryptionNow != encryptionSeen) {
            if (encryptionNow == kImplicitTls && rt::getText(w.fields.ServerPort) == kDefaultServerPort)
                rt::setText(w.fields.ServerPort, "990");
            encryptionSeen = encryptionNow;
        }

        // The trust is removed when the configuration is saved; "Abbrechen"
        // keeps it.
        if (event.removeTrust) {
            trustRemoved = true;
            rt::setText(w.fields.TrustedCertificate, trustedCertificateCaption(""));
            rt::enable(w.fields.RemoveTrust, false);
        }

        // 3. Another configuration chosen: store the shown one first.
        const int index = rt::listSelection(w.selector);
        if (index >= 0 && index < kSelectorEntryCount && index != handledIndex) {
            saveFromWindow(configNumber, w.fields, trustRemoved);
            trustRemoved = false;
            handledIndex = index;
            configNumber = index + 1;
            load(w, configNumber);
            keepNothingSeen = keepsNothing(w);
            encryptionSeen = encryption(w);
        }

        // 4. Save and leave. A close request while the info window has the
        //    focus came from there and does not end the program.
        if ((event.closeRequest && !infoWindowHasFocus()) || event.save) {
            saveFromWindow(configNumber, w.fields, trustRemoved);
            break;
        }

        // 5. The info window.
        if (event.about && !infoWindowOpen()) {
            settleAfterClick();
            openInfoWindow(w.window, w.boldFont);
        } else if (infoWindowOpen()) {
            handleInfoWindowEvent();
        }

        // 6. Help.
        if (event.help != 0) {
            settleAfterClick();
            rt::msgBox(helpText(event.help), "Hilfe:", MB_OK | MB_ICONINFORMATION);
        }

        if (event.cancel)
            break;
    }
    rt::endProgram();
}

} // namespace app
