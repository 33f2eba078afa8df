// Reporting of numbered errors and warnings: the German texts, the log file,
// and the boxes or silence by the error level.
#include "runtime/errors.h"

#include <atomic>
#include <mutex>
#include <windows.h>
#include "runtime/foreign.h"
#include "runtime/handles.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "runtime/windows.h"

namespace rt {

namespace {

struct ErrorEntry {
    int number;
    const char* text;
};
constexpr ErrorEntry kErrors[] = {
    {101, "Unbekanntes Create-Objekt: "},
    {124, "STARTPAINT fehlt!"},
    {200, "Ungültiger Funktionswert!"},
    {202, "Falscher Typ für @DTOC$ !"},
    {203, "Falscher Typ für @CTOD$ !"},
    {204, "String-Index ist < 1 !"},
    {205, "Substring-Nr ist < 1 !"},
    {206, "So viele Elemente sind nicht da!"},
    {207, "Bereichsgrenze überschritten: "},
    {208, "Kommandozeilenparameter fehlt!"},
    {209, "Datei nicht gefunden: "},
    {210, "Dateinummer nicht im erlaubten Bereich!"},
    {212, "Zu wenig Parameter!"},
    {221, "Während der Druckausgabe verboten: "},
    {222, "Box nicht innerhalb des Fensters!"},
    {223, "Negative Fenstergröße!"},
    {224, "ICON nicht vorhanden: "},
    {225, "ICON nicht vorhanden! (Nur 0..4)"},
    {228, "Bitmap nicht ladbar: "},
    {229, "Bitmap konnte nicht gespeichert werden: "},
    {230, "Cursor nicht vorhanden! (Nur 0..11)"},
    {235, "Drucken ist nicht möglich!"},
    {237, "Der Befehl setzt ein Fenster vorraus!"},
    {240, "Zu wenig Speicher für Bereichs-Variable!"},
    {244, "Der Text paßt nicht komplett in die Bereichsvariable!"},
    {247, "Fehler beim Laden der DLL: "},
    {248, "Funktion in DLL nicht vohanden: "},
    {250, "SETTIMER fehlt!"},
    {252, "Menü ist nicht ladbar: "},
    {262, "Unbekannter Schalter: "},
    {263, "Unbekannte Subfunktion: "},
    {269, "Kein freier CALLBACK mit der gewünschten Parameterzahl!"},
    {272, "Operation nicht auf Objekte anwendbar: "},
    {275, "Zuweisung auf dieses Objekt nicht möglich: "},
    {276, "Struktur bzw. Bereich zu klein: "},
    {280, "Funktion nicht auf dieses Fensterobjekt anwendbar!"},
    {282, "Das Array paßt nicht komplett in die Liste!"},
    {284, "Fehler im Regulären Ausdruck: "},
    {300, "Datei kann nicht gelesen werden: "},
    {301, "Datei kann nicht erzeugt werden: "},
    {303, "Fehler beim Schreiben: "},
    {305, "REGISTRY: "},
    {601, "Datei nicht gefunden: "},
};

constexpr const char* kBoxCaption = "Zeilennummer nicht verfügbar.";
constexpr unsigned kStopBox = MB_ICONHAND;                     // 16
constexpr unsigned kAskBox = MB_OKCANCEL | MB_ICONEXCLAMATION;  // 0x31

// Reports come from both threads.
std::atomic<int> g_kind{0};
std::atomic<int> g_number{0};
std::mutex g_mutex;  // the last argument, the error procedure, the log file
std::string g_lastArgument;
std::function<void()> g_errorProc;
std::atomic<bool> g_inErrorProc{false};

// Appends bytes at the end of the file; failures are ignored, a log must
// never add reports of its own.
void appendToFile(const std::string& file, const std::string& bytes)
{
    if (file.empty()) return;
    std::lock_guard lock(g_mutex);
    const OwnedFile h(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return;
    SetFilePointer(h.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int box(const std::string& text, unsigned flags)
{
    return static_cast<int>(callByName("USER32", "MessageBoxA",
                                       {mainWindow(), text, kBoxCaption, flags}));
}

void callErrorProc()
{
    if (!onErrorSwitch()) return;
    std::function<void()> proc;
    {
        std::lock_guard lock(g_mutex);
        proc = g_errorProc;
    }
    if (!proc || g_inErrorProc.exchange(true)) return;
    proc();
    g_inErrorProc.store(false);
}

[[noreturn]] void stopAndEnd(const std::string& text)
{
    box(text, kStopBox);
    endProgram();
}

void report(int kind, int number, const std::optional<std::string>& argument)
{
    g_kind.store(kind);
    g_number.store(number);
    std::string text = errorText(number);
    {
        std::lock_guard lock(g_mutex);
        g_lastArgument = argument.value_or(std::string());
    }
    if (argument) text += *argument;

    appendToFile(logFile(), std::string(kind == 2 ? "ERROR:\t" : "WARN:\t") + programPath() +
                                " (?) :" + text + "\r\n");

    const int level = errorLevel();
    if (kind == 2) {
        if (level == -1) {
            callErrorProc();
            return;
        }
        stopAndEnd(text);
    }
    if (level < 1) {
        callErrorProc();
        return;
    }
    if (level == 2) stopAndEnd(text);
    if (box(text, kAskBox) == IDCANCEL) stopAndEnd("Programm abgebrochen!");
}

const char* const kWeekdays[] = {"Sonntag", "Montag", "Dienstag", "Mittwoch",
                                 "Donnerstag", "Freitag", "Samstag"};
const char* const kMonths[] = {"Januar", "Februar", "März", "April", "Mai", "Juni", "Juli",
                               "August", "September", "Oktober", "November", "Dezember"};

} // namespace

// The header written when "logfile" names a file: a rule, the local date in
// the long German form and the time, a rule.
void appendLogHeader(const std::string& file)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    const std::string rule(53, '-');
    char time[8];
    wsprintfA(time, "%02u:%02u", t.wHour, t.wMinute);
    appendToFile(file, " \r\n" + rule + "\r\n" + kWeekdays[t.wDayOfWeek % 7] + ", der " +
                           std::to_string(t.wDay) + ". " + kMonths[(t.wMonth + 11) % 12] + " " +
                           std::to_string(t.wYear) + " - " + time + "\r\n" + rule + "\r\n");
}

const char* errorText(int number)
{
    for (const ErrorEntry& e : kErrors)
        if (e.number == number) return e.text;
    return "";
}

void raiseError(int number, std::optional<std::string> argument)
{
    report(2, number, argument);
}

void raiseWarning(int number, std::optional<std::string> argument)
{
    report(1, number, argument);
}

int lastReportKind()
{
    return g_kind.load();
}

int lastReportNumber()
{
    return g_number.load();
}

std::string lastReportArgument()
{
    std::lock_guard lock(g_mutex);
    return g_lastArgument;
}

void registerErrorProc(std::function<void()> proc)
{
    std::lock_guard lock(g_mutex);
    g_errorProc = std::move(proc);
}

} // namespace rt
