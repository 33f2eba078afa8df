// The texts of the sixteen help boxes, in the order in which the help
// buttons are numbered.
#include "app/config/help_texts.h"

namespace app {

namespace {

const char* const kHelpTexts[kHelpCount] = {
    // 1: FTP server
    "Diese Option legt fest, auf welchem FTP-Server zugegriffen werden soll. Es kann\r\n"
    "die Domain oder die IP-Adresse verwendet werden. Das verwendete Protokoll\r\n"
    "(ftp://) darf nicht in den Servernamen integriert werden.",
    // 2: FTP port
    "Diese Option legt den Port des Servers fest. Normalerweise sollte hier der Port 21\r\n"
    "stehen. Ändern Sie diese Angabe nur, wenn der Server einen anderen Port\r\n"
    "verwendet!",
    // 3: FTP directory
    "Hier legen Sie fest, in welches Verzeichnis auf dem Server die Datei geladen werden\r\n"
    "soll. Ein Beispiel hierfür ist /home/meinordner.",
    // 4: FTP user
    "Geben Sie hier den Benutzernamen an, den Sie für den Server benötigen. Wenn der Server\r\n"
    "eine anonyme Anmeldung zulässt, wählen Sie den Benutzernamen anonymous.",
    // 5: FTP password
    "Geben Sie hier das Passwort ein, das Sie für den Zugriff auf den Server benötigen. Wenn\r\n"
    "Sie sich anonym anmelden können, sollte das Passwort Ihrer Emailadresse entsprechen.",
    // 6: HTTP server
    "Diese Einstellung legt fest, unter welchem Namen der Server über das HTTP-Protokoll\r\n"
    "erreichbar ist. Der Webservername muss nicht mit dem FTP-Servername überein-\r\n"
    "stimmen, geben Sie ihn in diesem Fall hier an.",
    // 7: HTTP directory
    "Diese Einstellung legt das Serververzeichnis fest. In der Regel geben Sie hier\r\n"
    "das Gleiche wie bei \"FTP-Verzeichnis\" an. Es ist jedoch auch möglich, hier einen\r\n"
    "abweichenden Pfad anzugeben.",
    // 8: keep list
    "Um nicht zu viele Dateien auf dem Server anzuhäufen, wird mit dieser Funktion bei jedem\r\n"
    "Upload die jeweils letzte, vorletzte oder drittletzte usw. Datei gelöscht.\r\n"
    "\r\n"
    "Dies bezieht sich nur auf mit Quillpost hochgeladene Dateien, schon auf dem Server\r\n"
    "befindliche Dateien werden nicht gelöscht. In der INI-Datei werden zu löschende Dateien\r\n"
    "erfasst.",
    // 9: passive mode
    "Manche Server arbeitet nur im passiven Modus, in dem Fall ist diese Option zu wählen.",
    // 10: clipboard
    "Hier legen Sie fest, ob die Zwischenablagefunktion benutzt werden soll. In diesem Fall\r\n"
    "wird der Serverdateiname in die Zwischenablage kopiert, damit Sie diesen zum Beispiel\r\n"
    "im ICQ-Nachrichtenfenster einfügen können.",
    // 11: proxy
    "Falls Sie über einen Proxy-Server online sind, geben Sie diesen hier an.",
    // 12: ask before overwrite
    "Existiert eine Datei schon auf dem Server, so wird vorher gefragt, ob diese\r\n"
    "überschrieben werden soll. Ist die Option nicht gewählt so werden Dateien\r\n"
    "immer ohne Rückfrage überschrieben.",
    // 13: folder selection
    "Zeigt vor jedem Upload einen Dialog an, in dem Sie das Zielverzeichnis auf\r\n"
    "dem Server auswählen können. Startverzeichnis ist das oben gewählte.",
    // 14: right-click deletion list
    "Bei gewählter Löschfunktion werden dennoch nur Dateien auf die Löschliste\r\n"
    "gesetzt, die Sie mit Rechtsklick auf das Upload-Fenster bestimmen.\r\n"
    "\r\n"
    "Die Farbe des Fortschrittbalkens färbt sich zur Signalisierung.",
    // 15: encryption and the trusted certificate
    "Hier legen Sie fest, ob Anmeldung und Dateien verschlüsselt übertragen werden (FTPS).\r\n"
    "Bei \"Explizites FTPS\" wird die Verbindung nach AUTH TLS verschlüsselt, meist auf\r\n"
    "Port 21. Bei \"Implizites FTPS\" ist sie von Anfang an verschlüsselt, meist auf Port\r\n"
    "990. Der Server muss die gewählte Art anbieten, sonst wird nichts übertragen.\r\n"
    "\r\n"
    "Das Zertifikat des Servers wird geprüft. Ist es nicht vertrauenswürdig (zum Beispiel\r\n"
    "selbst signiert), abgelaufen oder für einen anderen Namen ausgestellt, werden Sie vor\r\n"
    "der Anmeldung gefragt, ob Sie ihm für diese Konfiguration vertrauen. Das vertraute\r\n"
    "Zertifikat wird unten angezeigt; mit \"Entfernen\" wird beim nächsten Upload wieder\r\n"
    "gefragt.",
    // 16: check the address
    "Vor dem Kopieren in die Zwischenablage wird jede Adresse beim Webserver abgefragt.\r\n"
    "Nur Adressen, unter denen er die hochgeladene Datei ausliefert, werden kopiert; für\r\n"
    "die übrigen nennt eine Meldung den Grund. Prüfen Sie dann \"HTTP-Server\" und\r\n"
    "\"HTTP-Verzeichnis\". Für https-Adressen geben Sie den HTTP-Server mit https:// an.",
};

} // namespace

const char* helpText(int k)
{
    return (k >= 1 && k <= kHelpCount) ? kHelpTexts[k - 1] : "";
}

} // namespace app
