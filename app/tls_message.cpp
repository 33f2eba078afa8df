#include "app/tls_message.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace app {
namespace {

const char* const kNothingSent = "\r\n\r\nEs wurde nichts übertragen.";

std::string dateText(const CertificateDate& d)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d.day, d.month, d.year);
    return buf;
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool has(const std::vector<ftp::TlsProblem>& reasons, ftp::TlsProblem p)
{
    return std::find(reasons.begin(), reasons.end(), p) != reasons.end();
}

std::string certificateLines(const CertificateFacts& c)
{
    return "Zertifikat: " + c.subject + "\r\nAussteller: " + c.issuer + "\r\nGültig vom " +
           dateText(c.validFrom) + " bis " + dateText(c.validTo) + "\r\nSHA-256-Fingerabdruck:\r\n" +
           fingerprintText(c.sha256);
}

// Why a certificate was refused, in one sentence.
std::string certificateReason(ftp::TlsProblem problem, const std::string& serverName)
{
    using ftp::TlsProblem;
    switch (problem) {
    case TlsProblem::Untrusted: return "Das Zertifikat des Servers ist nicht vertrauenswürdig.";
    case TlsProblem::Expired: return "Das Zertifikat des Servers ist abgelaufen.";
    case TlsProblem::WrongName: return "Das Zertifikat des Servers gilt nicht für den Namen " + serverName + ".";
    case TlsProblem::Changed: return "Das Zertifikat des Servers hat sich geändert.";
    default: return "Das Zertifikat des Servers wurde abgelehnt.";
    }
}

} // namespace

std::string tlsFailureMessage(const ftp::TlsFailure& failure, const std::string& serverName)
{
    using ftp::TlsProblem;
    switch (failure.problem) {
    case TlsProblem::None:
        return {};
    case TlsProblem::Refused:
        return "Der Server " + serverName + " bietet keine verschlüsselte Verbindung (FTPS) an." + kNothingSent;
    case TlsProblem::Handshake:
        return "Die verschlüsselte Verbindung zum Server " + serverName + " konnte nicht aufgebaut werden." +
               kNothingSent;
    default:
        break;
    }
    std::string text = certificateReason(failure.problem, serverName);
    if (!failure.subject.empty()) text += "\r\n\r\nZertifikat: " + failure.subject;
    return text + kNothingSent;
}

std::string trustQuestion(const std::string& serverName, const CertificateFacts& certificate,
                          const std::vector<ftp::TlsProblem>& reasons)
{
    using ftp::TlsProblem;
    std::string text = "Der Server " + serverName + " zeigt ein Zertifikat, dem nicht ohne Weiteres vertraut werden kann:";
    if (has(reasons, TlsProblem::Untrusted))
        text += "\r\n - Es ist von keiner bekannten Stelle ausgestellt (zum Beispiel selbst signiert).";
    if (has(reasons, TlsProblem::Expired)) text += "\r\n - Es ist abgelaufen.";
    if (has(reasons, TlsProblem::WrongName)) text += "\r\n - Es gilt nicht für den Namen " + serverName + ".";
    return text + "\r\n\r\n" + certificateLines(certificate) +
           "\r\n\r\nVergleichen Sie den Fingerabdruck mit dem, den der Betreiber des Servers nennt.\r\n"
           "Soll diesem Zertifikat für diese Konfiguration ab jetzt vertraut werden?\r\n\r\n"
           "Bei \"Nein\" wird nichts übertragen.";
}

std::string certificateChangedMessage(const std::string& serverName, const std::string& trusted,
                                      const CertificateFacts& shown)
{
    return "Das Zertifikat des Servers " + serverName + " hat sich geändert.\r\n\r\nVertraut: " + trusted +
           "\r\nJetzt: " + fingerprintText(shown.sha256) + "\r\nZertifikat: " + shown.subject +
           "\r\n\r\nDas kann ein erneuertes Zertifikat sein, aber auch ein anderer Server, der sich als "
           "dieser ausgibt. Hat der Betreiber das Zertifikat erneuert, entfernen Sie das vertraute "
           "Zertifikat in der Konfiguration; beim nächsten Upload werden Sie dann gefragt." +
           kNothingSent;
}

bool isSessionReuseRefusal(int code, const std::string& reply)
{
    const std::string text = lowered(reply);
    return (code == 522 && text.find("session reuse required") != std::string::npos) ||
           (code == 425 && text.find("tls session of data connection not resumed") != std::string::npos);
}

std::string sessionReuseMessage(const std::string& serverName, const std::string& reply,
                                const std::string& remoteName)
{
    return "Der Server verlangt für jede Datenverbindung die Wiederaufnahme der TLS-Sitzung der "
           "Anmeldung; sie ist nicht gelungen.\r\n\r\nServer: " + serverName + "\r\nAntwort: " + reply +
           "\r\n\r\nDer Upload ist fehlgeschlagen!\r\n\r\n" + remoteName;
}

std::string trustedCertificateCaption(const std::string& stored)
{
    const std::size_t shown = 23;  // eight pairs
    const bool none = stored.find_first_not_of(" \t") == std::string::npos;
    if (none) return "Vertrautes Zertifikat: keines";
    return "Vertrautes Zertifikat: " + (stored.size() > shown ? stored.substr(0, shown) + "…" : stored);
}

} // namespace app
