// Tables for the web address of an uploaded file (scheme, host, folders and
// name, each path segment percent-encoded once) and for judging what the web
// server said about it, with the German texts of the "Fehler:" box.
#include <gtest/gtest.h>

#include "app/address.h"
#include "app/address_report.h"

namespace {

TEST(EncodePathSegment, KeepsSegmentCharactersEncodesTheRest)
{
    struct Row { const char* bytes; const char* encoded; };
    const Row rows[] = {
        {"Mein_Bild.jpg", "Mein_Bild.jpg"},
        {"AZaz09-._~!$&'()*+,;=:@", "AZaz09-._~!$&'()*+,;=:@"},
        {"a#b.jpg", "a%23b.jpg"},
        {"100%.png", "100%25.png"},
        {"my%20dir", "my%2520dir"},  // a name, not an address: encoded once more
        {"M\xFC" "ller.txt", "M%FCller.txt"},
        {"\xC4\xD6\xDC\xDF", "%C4%D6%DC%DF"},
        {"B\xC3\xA4ume", "B%C3%A4ume"},
        {"q?x=1", "q%3Fx=1"},
        {"a b", "a%20b"},
        {"sub/file.txt", "sub%2Ffile.txt"},
        {"[x]{y}<z>|\"^`\\", "%5Bx%5D%7By%7D%3Cz%3E%7C%22%5E%60%5C"},
        {"\x7F\x01", "%7F%01"},
        {"", ""},
    };
    for (const Row& r : rows)
        EXPECT_EQ(app::encodePathSegment(r.bytes), r.encoded) << r.bytes;
}

TEST(SplitWebHost, SchemeAuthorityAndFolder)
{
    struct Row { const char* typed; const char* scheme; const char* authority; const char* folder; };
    const Row rows[] = {
        {"www.example.com", "http", "www.example.com", ""},
        {"https://w.example:8443", "https", "w.example:8443", ""},
        {"HTTPS://W.Example", "https", "W.Example", ""},
        {"Http://h:8080/", "http", "h:8080", ""},
        {"h/~bob/pub", "http", "h", "~bob/pub"},
        {"https://h//x", "https", "h", "/x"},
        {"  www.example.com \t", "http", "www.example.com", ""},
        {"https:/h", "http", "https:", "h"},  // no scheme as typed: a host like any other
        {"", "http", "", ""},
    };
    for (const Row& r : rows) {
        const app::WebHost h = app::splitWebHost(r.typed);
        EXPECT_EQ(h.scheme, r.scheme) << r.typed;
        EXPECT_EQ(h.authority, r.authority) << r.typed;
        EXPECT_EQ(h.folder, r.folder) << r.typed;
    }
}

TEST(FileAddress, SchemesPortsSlashesAndEncodingOnce)
{
    struct Row { const char* www; const char* dir; const char* stored; const char* address; };
    const Row rows[] = {
        // Schemes and ports.
        {"https://w.example:8443", "files", "Preis_100%_#1.txt", "https://w.example:8443/files/Preis_100%25_%231.txt"},
        {"w.example:8443", "files", "a.txt", "http://w.example:8443/files/a.txt"},
        {"www.example.com", "/files/", "Mein_Bild.jpg", "http://www.example.com/files/Mein_Bild.jpg"},
        {"HTTP://Host.example", "d", "a.txt", "http://Host.example/d/a.txt"},
        {"https://[::1]:8443", "d", "a.txt", "https://[::1]:8443/d/a.txt"},
        // "/" in every position of the host, the folder and the name.
        {"www.example.com/", "/", "a.txt", "http://www.example.com/a.txt"},
        {"h", "", "a.txt", "http://h/a.txt"},
        {"h", "//", "a.txt", "http://h/a.txt"},
        {"h", "/files", "a.txt", "http://h/files/a.txt"},
        {"h", "files/", "a.txt", "http://h/files/a.txt"},
        {"h", "pub//files", "a.txt", "http://h/pub/files/a.txt"},
        {"h", "///deep///er///", "a.txt", "http://h/deep/er/a.txt"},
        {"h/~bob/", "/pub/", "a.txt", "http://h/~bob/pub/a.txt"},
        {"https://h:443//site/", "//x/", "a.txt", "https://h:443/site/x/a.txt"},
        {"h", "d", "sub/file.txt", "http://h/d/sub/file.txt"},
        // Blanks, "%", "#" and "?" typed in the folder: encoded once.
        {"h", "my dir", "x.txt", "http://h/my%20dir/x.txt"},
        {"h", " lead/trail ", "x.txt", "http://h/%20lead/trail%20/x.txt"},
        {"h", "100%/my%20dir", "x.txt", "http://h/100%25/my%2520dir/x.txt"},
        {"h", "a#b?c", "x.txt", "http://h/a%23b%3Fc/x.txt"},
        {"  www.example.com ", "d", "a", "http://www.example.com/d/a"},
        // Umlauts in code page 1252, and names as a UTF-8 server stores them.
        {"h", "\xC4rger", "\xE4rger.txt", "http://h/%C4rger/%E4rger.txt"},
        {"h", "d", "B\xC3\xA4ume.txt", "http://h/d/B%C3%A4ume.txt"},
        {"h", "\xC3\x84rger/x y", "Gr\xC3\xBC\xC3\x9F" "e_2026.jpg",
         "http://h/%C3%84rger/x%20y/Gr%C3%BC%C3%9Fe_2026.jpg"},
        {"h", "\xCE\xA9mega", "a", "http://h/%CE%A9mega/a"},
        // Nothing typed.
        {"", "", "x.txt", "http:///x.txt"},
        {"h", "", "", "http://h/"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(app::fileAddress(r.www, r.dir, r.stored), r.address) << r.www << "|" << r.dir << "|" << r.stored;
}

TEST(JudgeAnswer, StatusAndLength)
{
    using P = app::AddressProblem;
    struct Row {
        int status;
        const char* length;
        const char* encoding;
        std::int64_t fileSize;
        P problem;
    };
    const Row rows[] = {
        {200, "6", "", 6, P::None},
        {200, "", "", 6, P::None},            // no length given: nothing to compare
        {204, "0", "", 0, P::None},
        {299, "6", "", 6, P::None},
        {206, "5", "", 6, P::Length},
        {200, "335", "", 6, P::Length},
        {200, "7", "identity", 6, P::Length},
        {200, "7", "IDENTITY", 6, P::Length},
        {200, "7", "gzip", 6, P::None},       // the length of the compressed body
        {200, "6x", "", 6, P::None},          // not a length
        {200, "-6", "", 6, P::None},
        {200, "4831838208", "", 4831838208LL, P::None},
        {200, "4831838208", "", 536870912, P::Length},
        {404, "335", "", 6, P::Status},
        {302, "0", "", 6, P::Status},         // a redirect left unfollowed
        {199, "6", "", 6, P::Status},
        {300, "6", "", 6, P::Status},
        {500, "", "", 6, P::Status},
    };
    for (const Row& r : rows) {
        const app::AddressVerdict v = app::judgeAnswer(r.status, "text", r.length, r.encoding, r.fileSize);
        EXPECT_EQ(v.problem, r.problem) << r.status << " " << r.length << " " << r.encoding;
        if (v.problem == P::Status) {
            EXPECT_EQ(v.status, r.status);
            EXPECT_EQ(v.statusText, "text");
        }
        if (v.problem == P::Length) {
            EXPECT_EQ(v.fileSize, r.fileSize);
            EXPECT_EQ(std::to_string(v.length), r.length);
        }
    }
}

TEST(StatusLine, StandardPhraseThenTheServersText)
{
    struct Row { int status; const char* serverText; const char* line; };
    const Row rows[] = {
        {404, "File not found", "404 Not Found"},
        {403, "", "403 Forbidden"},
        {301, "Moved", "301 Moved Permanently"},
        {503, "busy", "503 Service Unavailable"},
        {299, "Odd", "299 Odd"},
        {599, "", "599"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(app::statusLine(r.status, r.serverText), r.line) << r.status;
}

app::AddressVerdict verdict(app::AddressProblem p)
{
    app::AddressVerdict v;
    v.problem = p;
    return v;
}

TEST(ReasonText, OneSentencePerProblem)
{
    using P = app::AddressProblem;
    using ftp::TlsProblem;
    app::AddressVerdict status = verdict(P::Status);
    status.status = 404;
    status.statusText = "File not found";
    app::AddressVerdict length = verdict(P::Length);
    length.length = 335;
    length.fileSize = 6;
    app::AddressVerdict other = verdict(P::Other);
    other.error = 12152;
    auto certificate = [](TlsProblem t) {
        app::AddressVerdict v = verdict(P::Certificate);
        v.certificate = t;
        return v;
    };
    struct Row { app::AddressVerdict v; const char* text; };
    const Row rows[] = {
        {verdict(P::None), ""},
        {status, "Der Webserver antwortet mit 404 Not Found."},
        {length, "Der Webserver nennt eine andere Länge: 335 statt 6 Bytes."},
        {verdict(P::NoAnswer), "Keine Antwort vom Webserver innerhalb von 10 Sekunden."},
        {verdict(P::NoConnection), "Keine Verbindung zum Webserver."},
        {verdict(P::UnknownHost), "Der Name des Webservers ist unbekannt."},
        {certificate(TlsProblem::Untrusted), "Das Zertifikat des Webservers ist nicht vertrauenswürdig."},
        {certificate(TlsProblem::Expired), "Das Zertifikat des Webservers ist abgelaufen."},
        {certificate(TlsProblem::WrongName), "Das Zertifikat des Webservers gilt nicht für diesen Namen."},
        {certificate(TlsProblem::Certificate), "Das Zertifikat des Webservers wurde abgelehnt."},
        {verdict(P::Tls), "Die verschlüsselte Verbindung (https) zum Webserver kam nicht zustande."},
        {verdict(P::Redirect), "Die Weiterleitungen des Webservers führen zu keinem Ziel."},
        {verdict(P::Invalid), "Die Adresse ist ungültig."},
        {other, "Die Anfrage an den Webserver ist fehlgeschlagen (Fehler 12152)."},
    };
    for (const Row& r : rows)
        EXPECT_EQ(app::reasonText(r.v), r.text) << static_cast<int>(r.v.problem);
}

TEST(FailedAddressesText, ListsAddressesWithReasonsAndTheHint)
{
    const std::string hint = "\r\n\r\nBitte prüfen Sie in der Konfiguration die Angaben \"HTTP-Server\" und "
                             "\"HTTP-Verzeichnis\". Die Dateien liegen auf dem FTP-Server.";
    const std::string noAnswer = "Keine Antwort vom Webserver innerhalb von 10 Sekunden.";
    auto failed = [](int n) {
        std::vector<app::FailedAddress> list;
        for (int i = 1; i <= n; ++i)
            list.push_back({"http://h/f" + std::to_string(i), verdict(app::AddressProblem::NoAnswer)});
        return list;
    };
    auto entries = [&](int n) {
        std::string text;
        for (int i = 1; i <= n; ++i)
            text += "\r\n\r\nhttp://h/f" + std::to_string(i) + "\r\n" + noAnswer;
        return text;
    };
    const std::string one = "Diese Adresse zeigt die hochgeladene Datei nicht und wurde nicht in die "
                            "Zwischenablage kopiert:";
    const std::string many = "Diese Adressen zeigen die hochgeladenen Dateien nicht und wurden nicht in die "
                             "Zwischenablage kopiert:";
    struct Row { int count; std::string text; };
    const Row rows[] = {
        {1, one + entries(1) + hint},
        {2, many + entries(2) + hint},
        {10, many + entries(10) + hint},
        {11, many + entries(10) + "\r\n\r\n... und 1 weitere Adresse." + hint},
        {13, many + entries(10) + "\r\n\r\n... und 3 weitere Adressen." + hint},
    };
    for (const Row& r : rows)
        EXPECT_EQ(app::failedAddressesText(failed(r.count)), r.text) << r.count;

    app::AddressVerdict notFound = verdict(app::AddressProblem::Status);
    notFound.status = 404;
    EXPECT_EQ(app::failedAddressesText({{"https://w.example:8443/files/a.txt", notFound}}),
              one + "\r\n\r\nhttps://w.example:8443/files/a.txt\r\nDer Webserver antwortet mit 404 Not Found." +
                  hint);
}

} // namespace
