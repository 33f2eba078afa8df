#include "app/tls_message.h"

namespace app {

std::string tlsFailureMessage(const ftp::TlsFailure& failure, const std::string& serverName)
{
    using ftp::TlsProblem;
    std::string reason;
    switch (failure.problem) {
    case TlsProblem::None:
        return {};
    case TlsProblem::Refused:
        return "Der Server " + serverName +
               " bietet keine verschlüsselte Verbindung (FTPS) an.\r\n\r\n"
               "Es wurde nichts übertragen.";
    case TlsProblem::Handshake:
        return "Die verschlüsselte Verbindung zum Server " + serverName +
               " konnte nicht aufgebaut werden.\r\n\r\nEs wurde nichts übertragen.";
    case TlsProblem::Untrusted:
        reason = "Das Zertifikat des Servers ist nicht vertrauenswürdig.";
        break;
    case TlsProblem::Expired:
        reason = "Das Zertifikat des Servers ist abgelaufen.";
        break;
    case TlsProblem::WrongName:
        reason = "Das Zertifikat des Servers gilt nicht für den Namen " + serverName + ".";
        break;
    case TlsProblem::Certificate:
        reason = "Das Zertifikat des Servers wurde abgelehnt.";
        break;
    }
    std::string text = reason;
    if (!failure.subject.empty()) text += "\r\n\r\nZertifikat: " + failure.subject;
    return text + "\r\n\r\nEs wurde nichts übertragen.";
}

} // namespace app
