// Table tests for the socket-free text of data connections.
#include <gtest/gtest.h>
#include <winsock2.h>

#include "ftp/ftp_dataport.h"
#include "ftp/ftp_reply.h"

namespace {

std::uint32_t addr(const char* dotted) { return inet_addr(dotted); }

TEST(PortCommand, Table)
{
    struct Row { const char* server; const char* local; unsigned port; const char* want; };
    const Row rows[] = {
        {"127.0.0.1", "127.0.0.1", 21, "PORT 127,0,0,1,0,21"},
        // A loopback server hears 127,0,0,1 whatever the local end says.
        {"127.0.0.1", "10.1.2.3", 40000, "PORT 127,0,0,1,156,64"},
        {"127.0.0.2", "127.0.0.2", 40000, "PORT 127,0,0,2,156,64"},
        {"192.168.7.9", "192.168.7.20", 65535, "PORT 192,168,7,20,255,255"},
        {"10.0.0.1", "10.0.0.2", 256, "PORT 10,0,0,2,1,0"},
        {"10.0.0.1", "10.0.0.2", 255, "PORT 10,0,0,2,0,255"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ftp::portCommand(addr(r.server), addr(r.local), r.port), r.want) << r.server;
}

TEST(EprtCommand, Table)
{
    struct Row { const char* local; unsigned port; const char* want; };
    const Row rows[] = {
        {"::1", 40000, "EPRT |2|::1|40000|"},
        {"2001:db8::7", 21, "EPRT |2|2001:db8::7|21|"},
        {"fe80::1%3", 65535, "EPRT |2|fe80::1|65535|"},  // the scope is ours alone
        {"::ffff:10.0.0.2", 1024, "EPRT |2|::ffff:10.0.0.2|1024|"},
        {"10.0.0.2", 256, "EPRT |1|10.0.0.2|256|"},
    };
    for (const Row& r : rows) EXPECT_EQ(ftp::eprtCommand(r.local, r.port), r.want) << r.local;
}

TEST(UploadConfirmed, Table)
{
    struct Row {
        const char* name;
        int sizeCode;
        std::int64_t reported;
        std::int64_t sent;
        bool sentToEnd;
        bool want;
    };
    const std::int64_t big = 4831838208;  // 4.5 GiB
    const Row rows[] = {
        {"size matches", 213, 3000000, 3000000, true, true},
        {"size matches, server closed first", 213, 3000000, 3000000, false, true},
        {"server kept 1 MB of 3", 213, 1048576, 3000000, true, false},
        {"server holds more", 213, 3000001, 3000000, true, false},
        {"empty file", 213, 0, 0, true, true},
        {"above 4 GiB", 213, big, big, true, true},
        {"wrapped at 4 GiB", 213, big - 4294967296, big, true, false},
        {"213 without number, sent to the end", 213, -1, 5, true, true},
        {"213 without number, not to the end", 213, -1, 5, false, false},
        {"no SIZE 500, sent to the end", 500, -1, 5, true, true},
        {"no SIZE 502", 502, -1, 5, true, true},
        {"no SIZE 504", 504, -1, 5, true, true},
        {"550 for the stored file", 550, -1, 5, true, true},
        {"no SIZE and closed by the server", 502, -1, 5, false, false},
        {"timeout", 426, -1, 5, true, false},
        {"connection closing", 421, -1, 5, true, false},
        {"local error on the server", 451, -1, 5, true, false},
        {"not logged in", 530, -1, 5, true, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ftp::uploadConfirmed(r.sizeCode, r.reported, r.sent, r.sentToEnd), r.want) << r.name;
}

TEST(PassivePort, Table)
{
    struct Row { const char* reply; int want; };  // -1: no port
    const Row rows[] = {
        {"227 Entering Passive Mode (127,0,0,1,117,49).", 117 * 256 + 49},
        {"227 Entering Passive Mode (127,0,0,2,4,1)", 1025},  // address ignored
        {"227 =(10,0,0,1, 200 , 7)", 200 * 256 + 7},
        {"227 Entering Passive Mode 127,0,0,1,39,16", 10000},  // no parenthesis
        {"227 (0,0,0,0,255,255)", 65535},
        {"227 (1,2,3,4,256,1)", 1},         // taken as 16 bits
        {"227 (127,0,0,1,0,0)", -1},        // port 0 cannot be connected to
        {"227 (127,0,0,1,4)", -1},          // five numbers
        {"227 Entering Passive Mode", -1},
        {"227 (a,b,c,d,e,f)", -1},
        {"", -1},
    };
    for (const Row& r : rows) {
        auto p = ftp::passivePort(r.reply);
        if (r.want < 0)
            EXPECT_FALSE(p.has_value()) << r.reply;
        else
            EXPECT_EQ(p.value_or(0), r.want) << r.reply;
    }
}

TEST(ExtendedPassivePort, Table)
{
    struct Row { const char* reply; int want; };  // -1: no port
    const Row rows[] = {
        {"229 Entering Extended Passive Mode (|||6446|)", 6446},
        {"229 Entering extended passive mode (|||6446|).", 6446},
        {"229 (!!!1!)", 1},                 // any printable delimiter
        {"229 (###65535#)", 65535},
        {"229 ok (~~~30000~)", 30000},
        {"229 (|||6446|", 6446},            // no closing parenthesis: still whole
        {"229 (|||0|)", -1},                // port 0 cannot be connected to
        {"229 (|||65536|)", -1},
        {"229 (||||)", -1},                 // no digits
        {"229 (|||6446)", -1},              // no closing delimiter
        {"229 (|||64a6|)", -1},
        {"229 (|!|6446|)", -1},             // mixed delimiters
        {"229 (|2|::1|6446|)", -1},         // an address is not for EPSV
        {"229 (111123451)", -1},            // a digit cannot be the delimiter
        {"229 (   6446 )", -1},             // nor a blank
        {"229 |||6446|", -1},               // no parenthesis
        {"229 (|||", -1},
        {"227 Entering Passive Mode (127,0,0,1,117,49).", -1},
        {"", -1},
    };
    for (const Row& r : rows) {
        auto p = ftp::extendedPassivePort(r.reply);
        if (r.want < 0)
            EXPECT_FALSE(p.has_value()) << r.reply;
        else
            EXPECT_EQ(p.value_or(0), r.want) << r.reply;
    }
}

TEST(SummaryLine, Table)
{
    struct Row { std::int64_t bytes; std::uint32_t ms; const char* want; };
    const Row rows[] = {
        {0, 0, "! 0 bytes received/sent in 0 seconds"},
        {1514, 0, "! 1514 bytes received/sent in 0 seconds"},
        {1, 3, "! 1 bytes received/sent in 0 seconds (333 Bytes/sec)"},
        {32767, 1000, "! 32767 bytes received/sent in 1 seconds (32767 Bytes/sec)"},
        // From 32768 on the quotient comes first and drops the remainder.
        {32768, 1000, "! 32768 bytes received/sent in 1 seconds (32000 Bytes/sec)"},
        {67108864, 2500, "! 67108864 bytes received/sent in 2 seconds (26843000 Bytes/sec)"},
        {100, 999, "! 100 bytes received/sent in 0 seconds (100 Bytes/sec)"},
    };
    for (const Row& r : rows) EXPECT_EQ(ftp::summaryLine(r.bytes, r.ms), r.want);
}

} // namespace
