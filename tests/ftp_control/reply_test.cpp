// Texts of the control connection and of the socket layer, as tables:
// reply-line splitting and parsing, command building, address forms,
// resolution failures and Winsock error texts.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "ftp/ftp_error.h"
#include "ftp/ftp_reply.h"
#include "ftp/resolve.h"
#include "ftp/winsock_errors.h"
#include "socket_checks.h"

using namespace ftp;

namespace {

class WinsockEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        WSADATA wsa;
        WSAStartup(0x0101, &wsa);
    }
    void TearDown() override { WSACleanup(); }
};
const auto* const kWinsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

std::vector<std::string> feed(ReplyBuffer& b, const std::string& bytes)
{
    std::vector<std::string> lines;
    std::size_t pos = 0;
    std::string line;
    while (pos < bytes.size()) {
        const int n = std::min<int>(b.freeSize(), int(bytes.size() - pos));
        std::memcpy(b.freeSpace(), bytes.data() + pos, std::size_t(n));
        b.commit(n);
        pos += std::size_t(n);
        while (b.nextLine(line)) lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST(ReplyBuffer, CutsLinesAtEveryPositionOfTheInput)
{
    const std::string input = "220-Hello\r\n220 ready\r\n\r\n331 pw\n230-x\r\r\n";
    const std::vector<std::string> want = {"220-Hello", "220 ready", "", "331 pw", "230-x"};
    for (std::size_t cut = 0; cut <= input.size(); ++cut) {
        SCOPED_TRACE(cut);
        ReplyBuffer b;
        auto lines = feed(b, input.substr(0, cut));
        auto rest = feed(b, input.substr(cut));
        lines.insert(lines.end(), rest.begin(), rest.end());
        EXPECT_EQ(lines, want);
        EXPECT_EQ(b.fill(), 0u);
    }
}

TEST(ReplyBuffer, KeepsAnUnfinishedLine)
{
    ReplyBuffer b;
    EXPECT_TRUE(feed(b, "220 rea").empty());
    EXPECT_EQ(b.fill(), 7u);
    EXPECT_EQ(feed(b, "dy\r\n"), std::vector<std::string>{"220 ready"});
}

TEST(ReplyBuffer, CutsAnOverlongLineAndDropsItsRest)
{
    // The rest of the long line starts with digits: it must never count as
    // a reply of its own.
    const std::string longLine = "230-" + std::string(ReplyBuffer::kSize - 5, 'a');
    ASSERT_EQ(longLine.size(), ReplyBuffer::kSize - 1);
    ReplyBuffer b;
    const auto lines = feed(b, longLine + "530 not a reply\r\n230 in\r\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], longLine);
    EXPECT_EQ(lines[1], "230 in");

    ReplyBuffer c;
    const auto more = feed(c, "220 " + std::string(10000, 'x') + "\r\n221 bye\r\n");
    ASSERT_EQ(more.size(), 2u);
    EXPECT_EQ(more[0].size(), ReplyBuffer::kSize - 1);
    EXPECT_EQ(more[1], "221 bye");
}

TEST(ReplyLine, Classification)
{
    struct Row {
        const char* line;
        bool isReply;
        int code;
        bool continuation;
    };
    const Row rows[] = {
        {"220 ready", true, 220, false},
        {"220-Welcome", true, 220, true},
        {"230", true, 230, false},
        {"  230 indented", false, 0, false},
        {"Welcome text", false, 0, false},
        {"", false, 0, false},
        {"-220", false, 0, false},
        {"550-", true, 550, true},
        {"12345 odd", true, 12345, false},
        {"226Transfer", true, 226, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        const ReplyLineInfo info = parseReplyLine(r.line);
        EXPECT_EQ(info.isReply, r.isReply);
        EXPECT_EQ(info.code, r.code);
        EXPECT_EQ(info.continuation, r.continuation);
    }
}

// Sequences of lines in, the line that completes each reply and its code
// out. Every line of a sequence is read in turn; "Final" rows name which
// lines complete a reply.
TEST(ReplyLine, MultiLineRepliesEndOnlyAtTheirOwnCode)
{
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        std::vector<std::pair<std::size_t, int>> finals;  // index of the line, code
        std::string openAfter;
    };
    const Row rows[] = {
        {"single line", {"220 ready"}, {{0, 220}}, ""},
        {"code alone ends", {"226"}, {{0, 226}}, ""},
        {"numbered greeting", {"220-Welcome", "1. Be nice", "2 uploads per hour", "220 ready"},
         {{3, 220}}, ""},
        {"inner lines with other codes", {"250-Directory:", "  /pub", "230 not the end", "550 neither",
                                          "250-still text", "250 done"},
         {{5, 250}}, ""},
        {"closing line may be the bare code", {"211-Features:", " SIZE", "211"}, {{2, 211}}, ""},
        {"code followed by other text is no end", {"214-Help", "214x", "2145 no", "214 end"},
         {{3, 214}}, ""},
        {"two replies in a row", {"150-Opening", "150 now", "226 done"}, {{1, 150}, {2, 226}}, ""},
        {"still open at the end", {"220-Hello", "220-more", "1 2 3"}, {}, "220"},
        {"text outside a reply is ignored", {"Please wait", "331 pw"}, {{1, 331}}, ""},
        {"empty line inside stays text", {"230-Hi", "", "230 in"}, {{2, 230}}, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string open;
        std::vector<std::pair<std::size_t, int>> finals;
        for (std::size_t i = 0; i < r.lines.size(); ++i) {
            const ReplyStep step = readReplyLine(open, r.lines[i]);
            if (step.part == ReplyPart::Final) finals.emplace_back(i, step.code);
            open = step.openCode;
        }
        EXPECT_EQ(finals, r.finals);
        EXPECT_EQ(open, r.openAfter);
    }
}

TEST(ReplyLine, PartsOfSingleLines)
{
    struct Row {
        const char* open;
        const char* line;
        ReplyPart part;
        int code;
        const char* openAfter;
    };
    const Row rows[] = {
        {"", "Welcome", ReplyPart::Ignored, 0, ""},
        {"", "220-Hi", ReplyPart::Text, 220, "220"},
        {"", "220 Hi", ReplyPart::Final, 220, ""},
        {"220", "Welcome", ReplyPart::Text, 220, "220"},
        {"220", "220-again", ReplyPart::Text, 220, "220"},
        {"220", "221 other", ReplyPart::Text, 220, "220"},
        {"220", "220 end", ReplyPart::Final, 220, ""},
        {"220", "220", ReplyPart::Final, 220, ""},
        {"220", " 220 indented", ReplyPart::Text, 220, "220"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.open) + " | " + r.line);
        const ReplyStep step = readReplyLine(r.open, r.line);
        EXPECT_EQ(step.part, r.part);
        EXPECT_EQ(step.code, r.code);
        EXPECT_EQ(step.openCode, r.openAfter);
    }
}

TEST(ReplyLine, QuotedDirectory)
{
    const std::pair<const char*, const char*> rows[] = {
        {"257 \"/pub\" is current directory.", "/pub"},
        {"257 \"/a \"\"q\"\" dir\" created", "/a \"q\" dir"},
        {"257 \"\" empty", ""},
        {"250 CWD command successful.", ""},
        {"257 \"/unterminated", ""},
        {"257 \"/x\" and \"/y\"", "/x"},
    };
    for (const auto& [line, dir] : rows) {
        SCOPED_TRACE(line);
        EXPECT_EQ(quotedDirectory(line), dir);
    }
}

// One reading of "213 size" for every caller: "getfilesize" takes an absent
// number as 0, the check after an upload as "no size" (then only the
// transfer itself can confirm it).
TEST(ReplyLine, SizeStartsTheTextAfterTheCode)
{
    const std::int64_t none = -1;
    const std::pair<const char*, std::int64_t> rows[] = {
        {"213 12345", 12345},
        {"213 0", 0},
        {"213  5000000000", 5000000000LL},
        {"213\t77", 77},
        {"213 12 bytes", 12},
        {"213 9223372036854775807", 9223372036854775807LL},
        {"213 9223372036854775808", none},  // beyond 63 bits
        {"213", none},
        {"213 ", none},
        {"213 size unknown", none},
        {"213 size is 12", none},  // a number later in the text is no size
        {"213 -5", none},
    };
    for (const auto& [line, size] : rows) {
        SCOPED_TRACE(line);
        EXPECT_EQ(sizeInReply(line).value_or(none), size);
    }
}

TEST(Commands, LoginNameDirectAndThroughProxy)
{
    struct Row {
        bool proxy;
        const char* host;
        const char* port;
        const char* want;
    };
    const Row rows[] = {
        {false, "ftp.example.net", "2121", "USER anna"},
        {true, "ftp.example.net", "21", "USER anna@ftp.example.net"},
        {true, "ftp.example.net", "ftp", "USER anna@ftp.example.net"},
        {true, "ftp.example.net", "2121", "USER anna@ftp.example.net:2121"},
        {true, "ftp.example.net", "ftp-alt", "USER anna@ftp.example.net:ftp-alt"},
        {true, "192.0.2.7", "2121", "USER anna@192.0.2.7:2121"},
        // An IPv6 host in brackets, so that its last group is never read as the port.
        {true, "2001:db8::7", "21", "USER anna@[2001:db8::7]"},
        {true, "::1", "2121", "USER anna@[::1]:2121"},
        {true, "[::1]", "2121", "USER anna@[::1]:2121"},
        {false, "::1", "2121", "USER anna"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.want);
        EXPECT_EQ(userCommand("anna", r.proxy, r.host, r.port), r.want);
    }
}

TEST(Commands, LineBreaksAndNulAreFound)
{
    EXPECT_FALSE(hasLineBreakOrNul("CWD /a b/c"));
    EXPECT_FALSE(hasLineBreakOrNul("STOR \xE4rger.txt"));
    EXPECT_TRUE(hasLineBreakOrNul("CWD x\r\nDELE y"));
    EXPECT_TRUE(hasLineBreakOrNul("CWD x\nDELE y"));
    EXPECT_TRUE(hasLineBreakOrNul("CWD x\r"));
    EXPECT_TRUE(hasLineBreakOrNul(std::string("PASS a\0b", 8)));
}

TEST(Resolve, DottedAddressForm)
{
    const std::pair<const char*, bool> rows[] = {
        {"127.0.0.1", true},
        {"  10.1.2.3  ", true},
        {"255.255.255.255", true},
        {"1.2.3", false},       // two points: a name
        {"1.2.3.4.5", false},
        {"1.2.3.256", false},   // part above 255: a name
        {".1.2.3", false},
        {"1.2.3.x", false},
        {"host.example.org", false},
        {"", false},
    };
    for (const auto& [text, dotted] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(isDottedAddress(text), dotted);
    }
}

// The forms a ServerName (or a proxy's name) may take: which are an
// address, of which family, and as what text it is connected to.
TEST(Resolve, HostTexts)
{
    struct Row {
        const char* text;
        int family;  // AF_UNSPEC: no IPv6 literal
        const char* address;
    };
    const Row rows[] = {
        {"::1", AF_INET6, "::1"},
        {"[::1]", AF_INET6, "::1"},
        {" [::1] ", AF_INET6, "::1"},
        {"0:0:0:0:0:0:0:1", AF_INET6, "::1"},
        {"2001:DB8::A", AF_INET6, "2001:db8::a"},
        {"::ffff:127.0.0.1", AF_INET, "127.0.0.1"},  // mapped: travels as IPv4
        {"[::1]:2121", AF_UNSPEC, ""},              // the port is ServerPort's
        {"[::1", AF_UNSPEC, ""},
        {"::1]", AF_UNSPEC, ""},
        {"[[::1]]", AF_UNSPEC, ""},
        {":::1", AF_UNSPEC, ""},
        {"::g", AF_UNSPEC, ""},
        {"127.0.0.1", AF_UNSPEC, ""},
        {"[127.0.0.1]", AF_UNSPEC, ""},
        {"ftp.example.com", AF_UNSPEC, ""},
        {"", AF_UNSPEC, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        const auto literal = ipv6Literal(r.text);
        EXPECT_EQ(literal ? literal->family() : AF_UNSPEC, r.family);
        EXPECT_EQ(literal ? addressText(*literal) : "", r.address);
        if (r.family != AF_UNSPEC) {
            const NetAddress resolved = SocketResolveHost(r.text);
            EXPECT_EQ(resolved.family(), r.family);
            EXPECT_EQ(addressText(resolved), r.address);
        }
    }
    EXPECT_EQ(SocketResolveHost("127.0.0.1").ipv4(), htonl(0x7F000001));
    EXPECT_EQ(SocketResolveHost(" \t127.0.0.2\r\n").ipv4(), htonl(0x7F000002));
    EXPECT_EQ(SocketResolveHost("\xA0" "10.0.0.1").ipv4(), htonl(0x0A000001));
    EXPECT_TRUE(SocketResolveHost("255.255.255.255").isIpv4Broadcast());
    EXPECT_EQ(failureOf([] { SocketResolveHost(""); }),
              "SocketResolveHost: \"\" Invalid Hostname.");
    const std::string tooLong(257, 'a');
    EXPECT_EQ(failureOf([&] { SocketResolveHost(tooLong); }),
              "SocketResolveHost: \"" + tooLong + "\" Invalid Hostname.");
}

TEST(Resolve, BracketedHosts)
{
    const std::pair<const char*, const char*> rows[] = {
        {"::1", "[::1]"}, {"[::1]", "[::1]"}, {"fe80::1%3", "[fe80::1%3]"},
        {"127.0.0.1", "127.0.0.1"}, {"ftp.example.com", "ftp.example.com"}, {"", ""},
    };
    for (const auto& [host, want] : rows) EXPECT_EQ(bracketedHost(host), want) << host;
}

TEST(Resolve, SameHost)
{
    NetAddress a = SocketResolveHost("::1"), b = SocketResolveHost("[::1]");
    b.setPort(4711);  // ports do not count
    EXPECT_TRUE(sameHost(a, b));
    EXPECT_FALSE(sameHost(a, SocketResolveHost("::2")));
    EXPECT_FALSE(sameHost(a, SocketResolveHost("127.0.0.1")));
    EXPECT_TRUE(sameHost(SocketResolveHost("127.0.0.1"), SocketResolveHost("::ffff:127.0.0.1")));
    EXPECT_FALSE(sameHost(SocketResolveHost("127.0.0.1"), SocketResolveHost("127.0.0.2")));
}

TEST(Resolve, PortTexts)
{
    EXPECT_EQ(SocketResolvePort("21", "tcp"), 21u);
    EXPECT_EQ(SocketResolvePort("2121x", "tcp"), 2121u);
    EXPECT_EQ(SocketResolvePort("ftp", "tcp"), 21u);
    EXPECT_EQ(SocketResolvePort(" ftp ", " tcp "), 21u);
    EXPECT_EQ(failureOf([] { SocketResolvePort("", "tcp"); }), "SocketResolvePort: Invalid Port.");
    EXPECT_EQ(failureOf([] { SocketResolvePort(std::string(32, '2'), "tcp"); }),
              "SocketResolvePort: Invalid Port.");
    EXPECT_EQ(SocketResolvePort(std::string(30, '0') + "7", "tcp"), 7u);  // 31 characters
    EXPECT_EQ(failureOf([] { SocketResolvePort("21", ""); }),
              "SocketResolvePort: Invalid Protocol.");
    EXPECT_EQ(failureOf([] { SocketResolvePort("no-such-service-here", "tcp"); }),
              "SocketResolvePort: Cannot convert port.");
}

TEST(Resolve, ProtocolTexts)
{
    EXPECT_EQ(SocketResolveProto("tcp"), 6);
    EXPECT_EQ(SocketResolveProto("17"), 17);
    EXPECT_EQ(SocketResolveProto(" 6 "), 6);
    EXPECT_EQ(failureOf([] { SocketResolveProto(""); }), "SocketResolvePort: Invalid Protocol.");
    EXPECT_EQ(failureOf([] { SocketResolveProto(std::string(32, 't')); }),
              "SocketResolvePort: Invalid Protocol.");
    EXPECT_EQ(failureOf([] { SocketResolveProto("no-such-protocol"); }),
              "SocketResolveProto: Cannot convert protocol.");
}

TEST(WinsockErrors, Texts)
{
    const std::pair<int, const char*> rows[] = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10035, "Operation would block"},
        {10047, "Address family not supported by protocol family"},
        {10054, "Connection reset by peer"},
        {10058, "Cant send after socket shutdown"},
        {10059, "Too many references: cant splice"},
        {10061, "Connection refused"},
        {10071, "Too many levels of remote in path"},
        {10093, "WinSock not initialized"},
        {11001, "Host not found"},
        {11004, "No Data"},
        {10072, "Not a WinSock error"},
        {-1, "Not a WinSock error"},
        {5, "Not a WinSock error"},
    };
    for (const auto& [code, text] : rows) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(WinsockErrorText(code), text);
    }
    EXPECT_EQ(winsockErrorReport(10061, "Connect"),
              "Error 10061 in function Connect: \r\nConnection refused");
}
