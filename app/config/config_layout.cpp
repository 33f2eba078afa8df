#include "app/config/config_layout.h"

namespace app {

namespace {

using K = ControlKind;
using F = ControlFont;
using R = ControlRole;

constexpr ControlRow text(const char* caption, int x, int y, int w, int h, F font = F::Standard)
{
    return {K::Text, caption, x, y, w, h, false, font, R::None, EditPlain, 0, 0};
}
constexpr ControlRow edit(R role, int x, int y, int w, unsigned flags = EditPlain, int limit = 0)
{
    return {K::Edit, "", x, y, w, 18, false, F::Standard, role, flags, limit, 0};
}
constexpr ControlRow check(R role, const char* caption, int y, int w)
{
    return {K::CheckBox, caption, 7, y, w, 20, false, F::Standard, role, EditPlain, 0, 0};
}
constexpr ControlRow line(int y)
{
    return {K::EtchedLine, "", 7, y, 383, 4, false, F::Standard, R::None, EditPlain, 0, 0};
}
constexpr ControlRow help(int number, int y)
{
    return {K::HelpButton, "?", 370, y, 20, 19, false, F::Standard, R::Help, EditPlain, 0, number};
}

} // namespace

const std::array<ControlRow, kConfigControlCount> kConfigControls = {{
    {K::GroupBox, "Konfigurationen / Verknüpfungen", 7, 67, 383, 52, false, F::Standard, R::Group, EditPlain, 0, 0},
    {K::DropList, "", 11, 20, 120, 200, true, F::Bold, R::Selector, EditPlain, 0, 0},
    // Grown to the name field (at 213) so that the caption fits.
    {K::Text, "Bezeichnung:", 145, 23, 67, 20, true, F::Standard, R::None, EditPlain, 0, 0},
    {K::Edit, "", 213, 22, 80, 18, true, F::Standard, R::Name, EditPlain, 20, 0},
    {K::CheckBox, "aktiviert", 314, 20, 60, 20, true, F::Standard, R::Active, EditPlain, 0, 0},
    text("FTP-Server", 7, 130, 110, 20),
    text("FTP-Port", 7, 153, 110, 20),
    text("(Standard ist Port 21)", 190, 154, 110, 18, F::Italic),
    text("FTP-Verzeichnis*", 7, 176, 110, 20),
    text("FTP-Benutzer", 7, 199, 110, 20),
    text("FTP-Passwort", 7, 222, 110, 20),
    text("Proxyserver*", 7, 245, 110, 20),
    text("Proxyport*", 253, 245, 53, 20),
    text("HTTP-Server*", 7, 288, 110, 20),
    text("HTTP-Verzeichnis*", 7, 311, 110, 20),
    text("Alte Dateien bei Upload löschen", 7, 355, 160, 20),
    text("Verschlüsselung", 7, 519, 160, 20),
    // Shows whether a certificate is trusted; the window sets its text.
    {K::Text, "", 7, 542, 270, 18, false, F::Standard, R::TrustedCertificate, EditPlain, 0, 0},
    edit(R::ServerName, 130, 129, 230),
    edit(R::ServerPort, 130, 152, 50, EditDigits),
    edit(R::ServerDirectory, 130, 175, 230, EditPlain, 255),
    edit(R::Username, 130, 198, 230),
    edit(R::Password, 130, 221, 230, EditPassword),
    edit(R::ProxyServer, 130, 244, 115),
    edit(R::ProxyPort, 310, 244, 50, EditDigits),
    edit(R::WWWName, 130, 287, 230),
    edit(R::WWWDirectory, 130, 310, 230, EditPlain, 255),
    {K::DropList, "", 170, 351, 192, 200, false, F::Standard, R::KeepList, EditPlain, 0, 0},
    check(R::DelClick, "Rechtsklick auf Uploadfenster setzt Datei in Löschliste", 377, 350),
    check(R::Passive, "&Passiven Modus verwenden", 400, 200),
    check(R::Clipboard, "&URL nach Upload in die Zwischenablage kopieren", 423, 300),
    check(R::Ask, "&Vor dem Überschreiben fragen", 446, 300),
    check(R::DirSel, "&Ordnerwahl vor Upload anbieten", 469, 300),
    check(R::CheckAddress, "Adresse vor dem Kopieren prüfen", 492, 300),
    // Beside the keep list's column: the same kind of choice.
    {K::DropList, "", 170, 515, 192, 200, false, F::Standard, R::Tls, EditPlain, 0, 0},
    {K::Button, "Entfernen", 282, 539, 80, 20, false, F::Standard, R::RemoveTrust, EditPlain, 0, 0},
    line(274),
    line(339),
    line(590),
    {K::Button, "Beenden und Einstellungen speichern", 10, 605, 200, 20, false, F::Standard, R::Save, EditPlain, 0, 0},
    {K::Button, "Abbrechen", 215, 605, 80, 20, false, F::Standard, R::Cancel, EditPlain, 0, 0},
    {K::Button, "Über...", 315, 605, 70, 20, false, F::Bold, R::About, EditPlain, 0, 0},
    text("*Optionale Angaben", 5, 567, 110, 18, F::Italic),
    // The "?" buttons from top to bottom, each at the height of its field.
    help(1, 129),
    help(2, 152),
    help(3, 175),
    help(4, 198),
    help(5, 221),
    help(11, 244),
    help(6, 287),
    help(7, 310),
    help(8, 353),
    help(14, 379),
    help(9, 402),
    help(10, 425),
    help(12, 448),
    help(13, 471),
    help(16, 494),
    help(15, 517),
    text("Hier können Sie Quillpost konfigurieren. Zum Dateiupload nutzen Sie die Funktion "
         "\"Senden an\" beim Rechtsklick auf eine beliebige Datei.",
         7, 12, 310, 40),
    {K::Icon, "marlow", 337, 9, 48, 48, false, F::Standard, R::Icon, EditPlain, 0, 0},
}};

const std::array<const char*, kKeepEntryCount> kKeepEntries = {
    "Keine Dateien löschen",  "Eine Datei beibehalten", "2 Dateien beibehalten",
    "3 Dateien beibehalten",  "5 Dateien beibehalten",  "10 Dateien beibehalten",
    "20 Dateien beibehalten",
};

} // namespace app
