// The texts about certificates and TLS refusals, as tables.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "app/server_session.h"
#include "app/tls_message.h"

namespace {

using ftp::TlsProblem;

std::string hashOf(unsigned char first, unsigned char step)
{
    std::string h;
    for (int i = 0; i < 32; ++i) h += static_cast<char>(first + i * step);
    return h;
}

app::CertificateFacts facts()
{
    return {"O=Quillpost Tests, CN=localhost", "O=Quillpost Tests, CN=Quillpost Test CA", {2025, 3, 7},
            {2026, 12, 31}, hashOf(0x00, 0x11)};
}

TEST(Fingerprint, PairsInCapitals)
{
    const struct {
        std::string hash;
        const char* text;
    } rows[] = {
        {"", ""},
        {"\x01", "01"},
        {"\xAB\xcd\x09", "AB:CD:09"},
        {std::string("\x00\xFF", 2), "00:FF"},
        {hashOf(0x00, 0x11), "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:"
                             "10:21:32:43:54:65:76:87:98:A9:BA:CB:DC:ED:FE:0F"},
    };
    for (const auto& r : rows) EXPECT_EQ(app::fingerprintText(r.hash), r.text);
}

TEST(Fingerprint, ParsedFromPairsOrPlainHex)
{
    const std::string hash = hashOf(0x00, 0x11);
    const std::string pairs = app::fingerprintText(hash);
    std::string plain, lower;
    for (char c : pairs)
        if (c != ':') plain += c;
    for (char c : pairs) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const struct {
        std::string text;
        bool ok;
    } rows[] = {
        {pairs, true}, {plain, true}, {lower, true},
        {"", false}, {pairs.substr(3), false}, {pairs + ":00", false}, {plain.substr(2), false},
        {std::string(pairs).replace(2, 1, "-"), false}, {std::string(pairs).replace(0, 1, "G"), false},
        {" " + pairs.substr(1), false}, {plain + "0", false},
    };
    for (const auto& r : rows) {
        const std::optional<std::string> parsed = ftp::parseFingerprint(r.text);
        EXPECT_EQ(parsed.has_value(), r.ok) << r.text;
        if (r.ok && parsed) {
            EXPECT_EQ(*parsed, hash) << r.text;
        }
    }
}

TEST(TrustCanBeAsked, OnlyForASoundHandshakeWithUntrustedExpiredOrMisnamedCertificates)
{
    const std::string hash = hashOf(1, 1);
    const struct {
        TlsProblem problem;
        std::vector<TlsProblem> reasons;
        std::string sha256;
        bool asked;
    } rows[] = {
        {TlsProblem::Untrusted, {TlsProblem::Untrusted}, hash, true},
        {TlsProblem::Expired, {TlsProblem::Expired}, hash, true},
        {TlsProblem::WrongName, {TlsProblem::WrongName}, hash, true},
        {TlsProblem::Untrusted, {TlsProblem::Untrusted, TlsProblem::Expired, TlsProblem::WrongName}, hash, true},
        {TlsProblem::Untrusted, {TlsProblem::Untrusted}, "", false},  // no certificate seen
        {TlsProblem::Untrusted, {TlsProblem::Untrusted, TlsProblem::Certificate}, hash, false},
        {TlsProblem::Certificate, {}, hash, false},
        {TlsProblem::Changed, {}, hash, false},
        {TlsProblem::Handshake, {}, "", false},
        {TlsProblem::Refused, {}, "", false},
        {TlsProblem::None, {}, "", false},
    };
    for (const auto& r : rows) {
        ftp::TlsFailure f;
        f.problem = r.problem;
        f.reasons = r.reasons;
        f.certificate.sha256 = r.sha256;
        EXPECT_EQ(ftp::trustCanBeAsked(f), r.asked) << ftp::tlsProblemName(r.problem) << " " << r.reasons.size();
    }
}

TEST(TrustQuestion, NamesEveryReasonAndTheCertificate)
{
    const std::string certificate =
        "\r\n\r\nZertifikat: O=Quillpost Tests, CN=localhost\r\n"
        "Aussteller: O=Quillpost Tests, CN=Quillpost Test CA\r\n"
        "G\xFCltig vom 07.03.2025 bis 31.12.2026\r\n"
        "SHA-256-Fingerabdruck:\r\n" + app::fingerprintText(hashOf(0x00, 0x11)) +
        "\r\n\r\nVergleichen Sie den Fingerabdruck mit dem, den der Betreiber des Servers nennt.\r\n"
        "Soll diesem Zertifikat f\xFCr diese Konfiguration ab jetzt vertraut werden?\r\n\r\n"
        "Bei \"Nein\" wird nichts \xFC" "bertragen.";
    const std::string head = "Der Server nas.local zeigt ein Zertifikat, dem nicht ohne Weiteres vertraut werden kann:";
    const std::string untrusted = "\r\n - Es ist von keiner bekannten Stelle ausgestellt (zum Beispiel selbst signiert).";
    const std::string expired = "\r\n - Es ist abgelaufen.";
    const std::string wrongName = "\r\n - Es gilt nicht f\xFCr den Namen nas.local.";
    const struct {
        std::vector<TlsProblem> reasons;
        std::string lines;
    } rows[] = {
        {{TlsProblem::Untrusted}, untrusted},
        {{TlsProblem::Expired}, expired},
        {{TlsProblem::WrongName}, wrongName},
        // Always in the same order, each once.
        {{TlsProblem::WrongName, TlsProblem::Untrusted, TlsProblem::Expired, TlsProblem::Untrusted},
         untrusted + expired + wrongName},
    };
    for (const auto& r : rows) EXPECT_EQ(app::trustQuestion("nas.local", facts(), r.reasons), head + r.lines + certificate);
}

TEST(TrustQuestion, DatesArePaddedDayMonthYear)
{
    app::CertificateFacts f = facts();
    f.validFrom = {2009, 1, 2};
    f.validTo = {10000, 10, 10};
    const std::string text = app::trustQuestion("h", f, {TlsProblem::Untrusted});
    EXPECT_NE(text.find("G\xFCltig vom 02.01.2009 bis 10.10.10000\r\n"), std::string::npos) << text;
}

TEST(CertificateChanged, ShowsBothFingerprints)
{
    app::CertificateFacts shown = facts();
    shown.sha256 = hashOf(0xF0, 1);
    const std::string trusted = app::fingerprintText(hashOf(0x00, 0x11));
    EXPECT_EQ(app::certificateChangedMessage("nas.local", trusted, shown),
              "Das Zertifikat des Servers nas.local hat sich ge\xE4ndert.\r\n\r\n"
              "Vertraut: " + trusted + "\r\n"
              "Jetzt: F0:F1:F2:F3:F4:F5:F6:F7:F8:F9:FA:FB:FC:FD:FE:FF:00:01:02:03:04:05:06:07:08:09:0A:0B:0C:0D:0E:0F\r\n"
              "Zertifikat: O=Quillpost Tests, CN=localhost\r\n\r\n"
              "Das kann ein erneuertes Zertifikat sein, aber auch ein anderer Server, der sich als dieser ausgibt. "
              "Hat der Betreiber das Zertifikat erneuert, entfernen Sie das vertraute Zertifikat in der "
              "Konfiguration; beim n\xE4" "chsten Upload werden Sie dann gefragt.\r\n\r\n"
              "Es wurde nichts \xFC" "bertragen.");
}

TEST(SessionReuse, RecognisedFromTheRepliesThatSayIt)
{
    const struct {
        int code;
        const char* reply;
        bool refusal;
    } rows[] = {
        {522, "522 SSL connection failed; session reuse required", true},
        {522, "522 SSL connection failed: session reuse required.", true},
        {522, "522 SSL CONNECTION FAILED; SESSION REUSE REQUIRED", true},
        {425, "425 TLS session of data connection not resumed.", true},
        {425, "425 Unable to build data connection: TLS session of data connection not resumed.", true},
        // The same words under another code, or other refusals under these codes.
        {550, "550 session reuse required", false},
        {426, "426 TLS session of data connection not resumed.", false},
        {522, "522 Data connections must be encrypted.", false},
        {425, "425 Can't open data connection.", false},
        {0, "", false},
    };
    for (const auto& r : rows) EXPECT_EQ(app::isSessionReuseRefusal(r.code, r.reply), r.refusal) << r.reply;
}

TEST(SessionReuse, MessageNamesTheCauseTheReplyAndTheFile)
{
    EXPECT_EQ(app::sessionReuseMessage("localhost", "522 SSL connection failed; session reuse required", "a.txt"),
              "Der Server verlangt f\xFCr jede Datenverbindung die Wiederaufnahme der TLS-Sitzung der Anmeldung; "
              "sie ist nicht gelungen.\r\n\r\nServer: localhost\r\n"
              "Antwort: 522 SSL connection failed; session reuse required\r\n\r\n"
              "Der Upload ist fehlgeschlagen!\r\n\r\na.txt");
}

TEST(TrustedCertificateCaption, NoneOrTheStartOfTheFingerprint)
{
    const std::string full = app::fingerprintText(hashOf(0x00, 0x11));
    const struct {
        std::string stored;
        const char* caption;
    } rows[] = {
        {"", "Vertrautes Zertifikat: keines"},
        {"   ", "Vertrautes Zertifikat: keines"},
        {full, "Vertrautes Zertifikat: 00:11:22:33:44:55:66:77\x85"},
        {"AB:CD", "Vertrautes Zertifikat: AB:CD"},
        {full.substr(0, 23), "Vertrautes Zertifikat: 00:11:22:33:44:55:66:77"},
    };
    for (const auto& r : rows) EXPECT_EQ(app::trustedCertificateCaption(r.stored), r.caption) << r.stored;
}

// The encryption a stored UseTLS asks of the component: never plain FTP
// for a number it does not know.
TEST(TlsMode, OfTheStoredUseTls)
{
    const struct { int stored, mode; } rows[] = {{0, 0}, {1, 1}, {2, 2}, {3, 1}, {-1, 1}, {990, 1}};
    for (const auto& r : rows) EXPECT_EQ(app::tlsModeOf(r.stored), r.mode) << r.stored;
}

} // namespace
