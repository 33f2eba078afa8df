// Pure text of the upload run: remote names and addresses.
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

bool keptInPath(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '-': case '.': case '_': case '~':                       // unreserved
    case '!': case '$': case '&': case '\'': case '(': case ')':  // sub-delims
    case '*': case '+': case ',': case ';': case '=':
    case ':': case '@':
    case '/':  // folder separator of the stored name
        return true;
    default:
        return false;
    }
}

} // namespace

std::string encodeFileName(const std::string& storedName)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(storedName.size());
    for (unsigned char c : storedName) {
        if (keptInPath(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

std::string chosenDirectoryPart(const std::string& shown, const std::string& stored)
{
    return stored == shown ? shown : encodeFileName(stored);
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
    return "http://" + replaceAll(wwwName + "/" + directory + "/" + encodeFileName(storedName), "//", "/");
}

} // namespace app
