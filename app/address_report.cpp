// Judging the web server's answer, and the German texts of failed checks.
#include "app/address_report.h"

#include <cstddef>

namespace app {

namespace {

// Decimal digits only, at most 18 of them (fits in 64 bits); -1 otherwise.
std::int64_t lengthOf(const std::string& text)
{
    if (text.empty() || text.size() > 18)
        return -1;
    std::int64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

bool plainBody(const std::string& encoding)
{
    if (encoding.empty())
        return true;
    std::string lower;
    for (char c : encoding)
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return lower == "identity";
}

const char* standardPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-Authoritative Information";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 300: return "Multiple Choices";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 416: return "Range Not Satisfiable";
    case 421: return "Misdirected Request";
    case 429: return "Too Many Requests";
    case 451: return "Unavailable For Legal Reasons";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    case 505: return "HTTP Version Not Supported";
    default: return nullptr;
    }
}

constexpr std::size_t kListedAddresses = 10;

} // namespace

AddressVerdict judgeAnswer(int status, const std::string& statusText, const std::string& contentLength,
                           const std::string& contentEncoding, std::int64_t fileSize)
{
    AddressVerdict v;
    if (status < 200 || status > 299) {
        v.problem = AddressProblem::Status;
        v.status = status;
        v.statusText = statusText;
        return v;
    }
    // A compressed body has a length of its own; so has a malformed header.
    const std::int64_t length = lengthOf(contentLength);
    if (length >= 0 && plainBody(contentEncoding) && length != fileSize) {
        v.problem = AddressProblem::Length;
        v.length = length;
        v.fileSize = fileSize;
    }
    return v;
}

std::string statusLine(int status, const std::string& serverText)
{
    const char* phrase = standardPhrase(status);
    const std::string text = phrase ? std::string(phrase) : serverText;
    return text.empty() ? std::to_string(status) : std::to_string(status) + " " + text;
}

std::string reasonText(const AddressVerdict& v)
{
    switch (v.problem) {
    case AddressProblem::None:
        return {};
    case AddressProblem::Status:
        return "Der Webserver antwortet mit " + statusLine(v.status, v.statusText) + ".";
    case AddressProblem::Length:
        return "Der Webserver nennt eine andere Länge: " + std::to_string(v.length) + " statt " +
               std::to_string(v.fileSize) + " Bytes.";
    case AddressProblem::NoAnswer:
        return "Keine Antwort vom Webserver innerhalb von " + std::to_string(kAddressCheckSeconds) +
               " Sekunden.";
    case AddressProblem::NoConnection:
        return "Keine Verbindung zum Webserver.";
    case AddressProblem::UnknownHost:
        return "Der Name des Webservers ist unbekannt.";
    case AddressProblem::Certificate:
        switch (v.certificate) {
        case ftp::TlsProblem::Untrusted:
            return "Das Zertifikat des Webservers ist nicht vertrauenswürdig.";
        case ftp::TlsProblem::Expired:
            return "Das Zertifikat des Webservers ist abgelaufen.";
        case ftp::TlsProblem::WrongName:
            return "Das Zertifikat des Webservers gilt nicht für diesen Namen.";
        default:
            return "Das Zertifikat des Webservers wurde abgelehnt.";
        }
    case AddressProblem::Tls:
        return "Die verschlüsselte Verbindung (https) zum Webserver kam nicht zustande.";
    case AddressProblem::Redirect:
        return "Die Weiterleitungen des Webservers führen zu keinem Ziel.";
    case AddressProblem::Invalid:
        return "Die Adresse ist ungültig.";
    case AddressProblem::Other:
        break;
    }
    return "Die Anfrage an den Webserver ist fehlgeschlagen (Fehler " + std::to_string(v.error) + ").";
}

std::string failedAddressesText(const std::vector<FailedAddress>& failed)
{
    std::string text = failed.size() == 1
                           ? "Diese Adresse zeigt die hochgeladene Datei nicht und wurde nicht in die "
                             "Zwischenablage kopiert:"
                           : "Diese Adressen zeigen die hochgeladenen Dateien nicht und wurden nicht in die "
                             "Zwischenablage kopiert:";
    for (std::size_t i = 0; i < failed.size() && i < kListedAddresses; ++i)
        text += "\r\n\r\n" + failed[i].address + "\r\n" + reasonText(failed[i].verdict);
    if (failed.size() > kListedAddresses) {
        const std::size_t more = failed.size() - kListedAddresses;
        text += "\r\n\r\n... und " + std::to_string(more) + (more == 1 ? " weitere Adresse." : " weitere Adressen.");
    }
    return text + "\r\n\r\nBitte prüfen Sie in der Konfiguration die Angaben \"HTTP-Server\" und "
                  "\"HTTP-Verzeichnis\". Die Dateien liegen auf dem FTP-Server.";
}

} // namespace app
