#include "app/config/info_window.h"

#include <cstdlib>
#include <string>
#include <windows.h>

#include "app/config/config_layout.h"
#include "app/config/window_events.h"
#include "runtime/events.h"
#include "runtime/foreign.h"
#include "runtime/handles.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "runtime/windows.h"

namespace app {

const char* const kProjectPageUrl = "https://quillpost.example/";
const char* const kDownloadPageUrl = "https://example.org/quillpost/";

namespace {

constexpr int kInfoWindowStyle = 18;  // minimise box, no menu
constexpr int kWidth = 400;
constexpr int kHeight = 311;
constexpr int kPictureId = 31000;
constexpr unsigned kSsEtchedHorz = 0x10;
constexpr unsigned kSsBitmap = 0x0E;
constexpr unsigned kLrLoadMap3dColors = 4096;
constexpr int kVkEscape = 27;

// The information text, one entry per line.
const char* const kInfoLines[] = {
    "___________________________________________",
    " :: Informationen",
    "¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯",
    "Quillpost 1.2",
    "Projektseite: https://quillpost.example/",
    "Fehlerberichte und Anregungen bitte über die Projektseite.",
    "Dank an alle, die Fehler gemeldet und Vorschläge gemacht haben.",
    "___________________________________________",
    " :: Beschreibung",
    "¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯",
    "Quillpost ist ein kleines Tool, mit dem man Dateien über das \"Senden an\" Menü von Windows "
    "mit einem Klick auf einen FTP Server laden kann. Die dazugehörige HTTP-Adresse wird dabei "
    "automatisch in der Zwischenablage abgelegt.",
    "Dies kann sehr hilfreich sein, um Gesprächspartnern in Instant Messengern wie ICQ oder AIM "
    "schnell eine Datei zukommen zu lassen.",
    "Gerade wenn ein Router zum Einsatz kommt, funktioniert die eingebaute Dateiübertragung "
    "vieler Messenger nicht. Auch bei vorhandene Funktionalität kann Quillpost dennoch der "
    "bequemere Weg sein.",
    "___________________________________________",
    " :: Versionen",
    "¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯",
    "1.0 (03.02.2005)",
    "Erstes Release.",
    "",
    "1.1 (02.06.2006)",
    "Komplett neu programmiert wegen Datenverlust kurz nach der Fertigstellung der ersten Version.",
    " - passiver Modus wählbar",
    " - Proxy-Einstellungen",
    " - Uploadfortschritt",
    " - Abbruch möglich",
    " - Uploadfenster verschiebbar",
    " - Lösch-History beeinflussbar",
    " - Bestätigung vor dem Überschreiben (optional)",
    " - überarbeitetes Design",
    " - mehrere markierte Dateien hochladen",
    " - bis zu 10 Konfigurationen/Uploadverknüpfungen",
    " - Ordnerwahl vor Upload",
    "",
    "1.2 (30.03.2009)",
    " - Bugfixes",
    " - https-Adressen: HTTP-Server mit https:// angeben",
    " - Adresse vor dem Kopieren prüfen (optional)",
    "___________________________________________",
    " :: Haftungsausschluss",
    "¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯¯",
    "Für eventuelle Schäden oder bei Datenverlusten, die durch die Nutzung dieser Software "
    "entstehen, wird keine Haftung übernommen.",
    " ",
    "Alle genannten Markennamen und Bezeichnungen sind eingetragene Warenzeichen ihrer Eigentümer.",
};

// The open window; all zero while it is closed.
struct InfoWindow {
    rt::Handle window = 0;
    rt::Handle text = 0;
    rt::Handle link1 = 0;
    rt::Handle link2 = 0;
    rt::Handle ok = 0;
    rt::OwnedGdiObject picture;  // a bitmap static does not own its image
};

InfoWindow info;
bool isOpen = false;

// Identifiers of the controls created with their own styles.
enum : int { IdFrame = 200, IdLine1, IdLine2, IdLink1, IdLink2, IdOk };

void setFont(rt::Handle control, std::int32_t font)
{
    ::SendMessageA(static_cast<HWND>(rt::hwndOf(control)), WM_SETFONT,
                   static_cast<WPARAM>(static_cast<std::intptr_t>(font)), TRUE);
}

// Host part of an http(s) address, shown as the link button's caption.
std::string hostOf(const std::string& url)
{
    auto start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    return url.substr(start, url.find('/', start) - start);
}

void close()
{
    rt::destroy(info.window);
    info = InfoWindow{};  // the bitmap goes after the window that showed it
    isOpen = false;
}

} // namespace

bool infoWindowOpen() { return isOpen; }

void openInfoWindow(rt::Handle owner, std::int32_t boldFont)
{
    if (isOpen)
        return;
    int allowance = static_cast<int>(rt::callByName("USER32", "GetSystemMetrics", {SM_CYCAPTION})) - 19;
    if (allowance < 0)
        allowance = 0;

    // Runtime windows take the main-window style that is current when they
    // are made; the configuration window's own style is put back afterwards.
    rt::setWindowStyle(kInfoWindowStyle);
    const rt::Handle w = rt::create("window", {owner, "Über...", rt::screenWidth() / 2 - 200,
                                               rt::screenHeight() / 2 - 155 + allowance / 2,
                                               kWidth, kHeight + allowance});
    rt::setWindowStyle(kConfigWindowStyle);
    if (w == 0)
        return;
    info.window = w;

    setFont(rt::create("text", {w, "Quillpost", 87, 17, 82, 16}), boldFont);
    rt::create("text", {w, "(v.1.2)", 340, 17, 170, 16});
    rt::create("text", {w, "FTP-Upload über das \"Senden an\" Menü", 87, 38, 280, 16});
    rt::create("text", {w, "Internet:", 87, 189, 50, 20});
    rt::create("text", {w, "", 87, 222, 280, 20});
    rt::createControl("STATIC", "", WS_CHILD | WS_VISIBLE, 10, 8, 70, 229, w, IdFrame, WS_EX_STATICEDGE);

    const rt::Handle picture = rt::createControl("STATIC", "", WS_CHILD | WS_VISIBLE | kSsBitmap,
                                                 12, 10, 66, 225, w, kPictureId);
    rt::callByName("USER32", "SetWindowLongA", {picture, GWL_EXSTYLE, WS_EX_TRANSPARENT});
    info.picture.reset(reinterpret_cast<HGDIOBJ>(
        rt::callByName("USER32", "LoadImageA", {rt::instance(), "INFO", IMAGE_BITMAP, 0, 0, kLrLoadMap3dColors})));
    if (info.picture)
        ::SendMessageA(static_cast<HWND>(rt::hwndOf(picture)), STM_SETIMAGE, IMAGE_BITMAP,
                       reinterpret_cast<LPARAM>(info.picture.get()));

    // A negative height drops the horizontal scroll bar.
    info.text = rt::create("multiedit", {w, "", 87, 71, 295, -88});
    rt::createControl("STATIC", "", WS_CHILD | WS_VISIBLE | kSsEtchedHorz, 88, 172, 303, 5, w, IdLine1);
    rt::createControl("STATIC", "", WS_CHILD | WS_VISIBLE | kSsEtchedHorz, 7, 245, 384, 5, w, IdLine2);
    info.link1 = rt::createControl("BUTTON", hostOf(kProjectPageUrl), WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                   144, 185, 115, 22, w, IdLink1, WS_EX_STATICEDGE);
    info.link2 = rt::createControl("BUTTON", hostOf(kDownloadPageUrl), WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                   266, 185, 115, 22, w, IdLink2, WS_EX_STATICEDGE);
    info.ok = rt::createControl("BUTTON", "OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 301, 255, 80, 22, w, IdOk);
    setFont(info.ok, boldFont);

    rt::stringListClear();
    for (const char* line : kInfoLines)
        rt::stringListAdd(line);
    rt::stringListMoveTo(info.text);
    rt::stringListClear();
    ::SendMessageA(static_cast<HWND>(rt::hwndOf(info.text)), EM_SETREADONLY, TRUE, 0);

    isOpen = true;
}

bool infoWindowHasFocus()
{
    if (!isOpen)
        return false;
    for (rt::Handle h : {info.window, info.text, info.link1, info.link2, info.ok})
        if (h != 0 && rt::hasFocus(h))
            return true;
    return false;
}

void handleInfoWindowEvent()
{
    if (!isOpen)
        return;
    // The key state is a SHORT: the high bit means "down now".
    const auto escapeState = static_cast<std::int16_t>(rt::callByName("USER32", "GetAsyncKeyState", {kVkEscape}));
    if (clickedOn(info.ok) || (std::abs(static_cast<int>(escapeState)) > 1 && infoWindowHasFocus())) {
        close();
        return;
    }
    const char* url = clickedOn(info.link1) ? kProjectPageUrl : clickedOn(info.link2) ? kDownloadPageUrl : nullptr;
    if (url) {
        settleAfterClick();
        rt::shellExecute(url, "", 0);
    }
}

} // namespace app
