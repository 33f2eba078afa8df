// FEAT replies, the choice of a hash check and the replies to hash
// commands, as tables.
#include <gtest/gtest.h>

#include "ftp/server_features.h"

using namespace ftp;

namespace {

using Lines = std::vector<std::string>;

Lines feat(const Lines& features)
{
    Lines lines{"211-Features:"};
    for (const std::string& f : features) lines.push_back(" " + f);
    lines.push_back("211 End");
    return lines;
}

} // namespace

TEST(Features, ReadFromTheFeatReply)
{
    struct Row {
        const char* name;
        Lines lines;
        bool utf8, rest;
        Lines algorithms;
        std::string selected;
        bool xsha256, xsha1, xmd5, xcrc;
    };
    const Row rows[] = {
        {"nothing of ours", feat({"MDTM", "SIZE", "EPSV"}), false, false, {}, "", false, false, false, false},
        {"pyftpdlib", feat({"EPRT", "MDTM", "REST STREAM", "SIZE", "TVFS", "UTF8"}), true, true, {}, "", false,
         false, false, false},
        {"HASH with a default", feat({"HASH SHA-1*;SHA-256;MD5;CRC32"}), false, false,
         {"SHA-1", "SHA-256", "MD5", "CRC32"}, "SHA-1", false, false, false, false},
        {"HASH in lower case, no default", feat({"hash sha-256;md5"}), false, false, {"SHA-256", "MD5"}, "", false,
         false, false, false},
        {"the X commands", feat({"XCRC", "XMD5", "XSHA1", "XSHA256"}), false, false, {}, "", true, true, true, true},
        {"REST without STREAM", feat({"REST"}), false, false, {}, "", false, false, false, false},
        {"tabs and trailing blanks", {"211-Extensions", "\tREST   STREAM  ", " XMD5 ", "211 End"}, false, true, {}, "",
         false, false, true, false},
        {"the reply's own lines are no features", {"211-HASH SHA-256", "211 XMD5"}, false, false, {}, "", false, false,
         false, false},
        {"FEAT refused", {"502 Command not implemented."}, false, false, {}, "", false, false, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const ServerFeatures f = featuresOf(r.lines);
        EXPECT_EQ(f.utf8, r.utf8);
        EXPECT_EQ(f.restStream, r.rest);
        EXPECT_EQ(f.hashAlgorithms, r.algorithms);
        EXPECT_EQ(f.hashSelected, r.selected);
        EXPECT_EQ((Lines{f.xsha256 ? "XSHA256" : "", f.xsha1 ? "XSHA1" : "", f.xmd5 ? "XMD5" : "", f.xcrc ? "XCRC" : ""}),
                  (Lines{r.xsha256 ? "XSHA256" : "", r.xsha1 ? "XSHA1" : "", r.xmd5 ? "XMD5" : "", r.xcrc ? "XCRC" : ""}));
    }
}

TEST(Features, TheHashCheckChosen)
{
    struct Row {
        Lines features;
        HashCommand command;
        HashAlgorithm algorithm;
        bool selectFirst;
        bool listed;
    };
    const Row rows[] = {
        {{"HASH SHA-256*;MD5"}, HashCommand::Hash, HashAlgorithm::Sha256, false, true},
        {{"HASH SHA-1*;SHA-256;MD5"}, HashCommand::Hash, HashAlgorithm::Sha256, true, true},
        {{"HASH SHA-256;MD5"}, HashCommand::Hash, HashAlgorithm::Sha256, true, true},
        {{"HASH SHA-1*;MD5", "XSHA256"}, HashCommand::XSha256, HashAlgorithm::Sha256, false, true},
        {{"HASH MD5*;SHA-1", "XMD5"}, HashCommand::Hash, HashAlgorithm::Sha1, true, true},
        {{"XCRC", "XMD5", "XSHA1"}, HashCommand::XSha1, HashAlgorithm::Sha1, false, true},
        {{"XCRC", "XMD5"}, HashCommand::XMd5, HashAlgorithm::Md5, false, true},
        {{"HASH CRC32*", "XCRC"}, HashCommand::Hash, HashAlgorithm::Crc32, false, true},
        {{"XCRC"}, HashCommand::XCrc, HashAlgorithm::Crc32, false, true},
        // An algorithm we cannot compute is no check.
        {{"HASH SHA-512*"}, HashCommand::None, HashAlgorithm::Sha256, false, true},
        {{"REST STREAM", "UTF8"}, HashCommand::None, HashAlgorithm::Sha256, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.features.front());
        const ServerFeatures f = featuresOf(feat(r.features));
        const HashMethod m = chooseHashMethod(f);
        EXPECT_EQ(hashCommandVerb(m.command), std::string(hashCommandVerb(r.command)));
        if (r.command != HashCommand::None) {
            EXPECT_EQ(hashAlgorithmName(m.algorithm), std::string(hashAlgorithmName(r.algorithm)));
        }
        EXPECT_EQ(m.selectFirst, r.selectFirst);
        EXPECT_EQ(listsHashCommand(f), r.listed);
    }
}

TEST(Features, AProbeFindsACommandByItsRefusalOfNoArgument)
{
    const std::pair<int, bool> rows[] = {
        {501, true}, {550, true}, {250, true}, {213, true},
        {500, false}, {502, false}, {504, false}, {530, false}, {421, false}, {426, false}, {0, false},
    };
    for (const auto& [code, known] : rows) {
        SCOPED_TRACE(code);
        EXPECT_EQ(probeFindsCommand(code), known);
    }
    EXPECT_EQ(methodOfCommand(HashCommand::XMd5).algorithm, HashAlgorithm::Md5);
    EXPECT_EQ(methodOfCommand(HashCommand::XCrc).command, HashCommand::XCrc);
    EXPECT_EQ(methodOfCommand(HashCommand::Hash).command, HashCommand::None);
}

TEST(Features, TheDigestInAHashReply)
{
    const std::string sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const std::string md5 = "900150983cd24fb0d6963f7d28e17f72";
    const HashMethod hash{HashCommand::Hash, HashAlgorithm::Sha256};
    const HashMethod xmd5{HashCommand::XMd5, HashAlgorithm::Md5};
    const HashMethod xcrc{HashCommand::XCrc, HashAlgorithm::Crc32};
    struct Row {
        const char* name;
        HashMethod method;
        int code;
        std::string line;
        std::optional<std::string> digest;
    };
    const Row rows[] = {
        {"HASH", hash, 213, "213 SHA-256 0-3 " + sha256 + " abc.txt", sha256},
        {"HASH in capitals", hash, 213, "213 sha-256 0-3 BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD x",
         sha256},
        {"HASH, a name with blanks", hash, 213, "213 SHA-256 0-3 " + sha256 + " a b c.txt", sha256},
        {"HASH of another algorithm", hash, 213, "213 SHA-1 0-3 a9993e364706816aba3e25717850c26c9cd0d89d abc", {}},
        {"HASH of a range", hash, 213, "213 SHA-256 10-20 " + sha256 + " abc", {}},
        {"HASH without a range", hash, 213, "213 SHA-256 " + sha256 + " abc", {}},
        {"HASH, a short digest", hash, 213, "213 SHA-256 0-3 ba7816bf abc", {}},
        {"HASH refused", hash, 550, "550 abc: No such file.", {}},
        {"HASH busy", hash, 450, "450 Hashing in progress.", {}},
        {"XMD5", xmd5, 250, "250 900150983CD24FB0D6963F7D28E17F72", md5},
        {"XMD5 with the name first", xmd5, 251, "251 abc.txt " + md5, md5},
        {"XMD5 with the name last", xmd5, 213, "213 " + md5 + " abc.txt", md5},
        {"XMD5 of a hex-like name", xmd5, 250, "250 cafe " + md5, md5},
        {"XMD5 refused", xmd5, 500, "500 XMD5 not understood.", {}},
        {"XMD5 garbled", xmd5, 250, "250 #%&", {}},
        {"XCRC", xcrc, 250, "250 352441C2", std::string("352441c2")},
        {"XCRC without leading zeros", xcrc, 250, "250 41C2", std::string("000041c2")},
        {"XCRC with the name", xcrc, 250, "250 abc.txt 352441C2", std::string("352441c2")},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(hashInReply(r.method, r.code, r.line), r.digest);
    }
}

TEST(Features, TheReplyToAHashMayTakeLongerForLargerFiles)
{
    const std::pair<std::int64_t, std::uint32_t> rows[] = {
        {0, 15000}, {100 * 1024, 15010}, {40000000, 19000}, {4LL << 30, 15000 + 429496}, {-1, 15000},
    };
    for (const auto& [size, ms] : rows) {
        SCOPED_TRACE(size);
        EXPECT_EQ(hashReplyBoundMs(size), ms);
    }
}
