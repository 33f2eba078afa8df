// Pure text of the upload run: remote names and web addresses.
#include "app/address.h"
#include "app/upload_run.h"

namespace app {

std::string replaceAll(const std::string& text, const std::string& what, const std::string& with)
{
    if (what.empty())
        return text;
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(what, from)) != std::string::npos; from = at + what.size()) {
        out.append(text, from, at - from);
        out += with;
    }
    out.append(text, from, std::string::npos);
    return out;
}

namespace {

bool keptInSegment(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '-': case '.': case '_': case '~':                       // unreserved
    case '!': case '$': case '&': case '\'': case '(': case ')':  // sub-delims
    case '*': case '+': case ',': case ';': case '=':
    case ':': case '@':
        return true;
    default:
        return false;
    }
}

bool startsWithNoCase(const std::string& text, const char* prefix)
{
    std::size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size())
            return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

std::string trimBlanks(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Appends "/" + the encoded segment for every non-empty segment of `part`.
void appendSegments(std::string& path, const std::string& part)
{
    std::size_t from = 0;
    while (from <= part.size()) {
        std::size_t slash = part.find('/', from);
        if (slash == std::string::npos)
            slash = part.size();
        if (slash > from)
            path += "/" + encodePathSegment(part.substr(from, slash - from));
        from = slash + 1;
    }
}

} // namespace

std::string encodePathSegment(const std::string& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (keptInSegment(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

WebHost splitWebHost(const std::string& wwwName)
{
    WebHost host;
    std::string rest = trimBlanks(wwwName);
    host.scheme = "http";
    if (startsWithNoCase(rest, "https://")) {
        host.scheme = "https";
        rest.erase(0, 8);
    } else if (startsWithNoCase(rest, "http://")) {
        rest.erase(0, 7);
    }
    const std::size_t slash = rest.find('/');
    host.authority = rest.substr(0, slash);
    if (slash != std::string::npos)
        host.folder = rest.substr(slash + 1);
    return host;
}

std::string remoteNameOf(const std::string& localPath)
{
    const std::string name = replaceAll(localPath, " ", "_");
    const std::size_t slash = name.rfind('\\');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string fileAddress(const std::string& wwwName, const std::string& directory,
                        const std::string& storedName)
{
    const WebHost host = splitWebHost(wwwName);
    std::string path;
    appendSegments(path, host.folder);
    appendSegments(path, directory);
    appendSegments(path, storedName);
    return host.scheme + "://" + host.authority + (path.empty() ? "/" : path);
}

} // namespace app
