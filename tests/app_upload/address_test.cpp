// Tables for the web address of an uploaded file: scheme, host, folders and
// name, each path segment percent-encoded once.
#include <gtest/gtest.h>

#include "app/address.h"

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

} // namespace
