// What an upload checks and what a further attempt builds on, against
// scripted servers: the hash command a server offers (learnt once per
// connection), the server's hash of the stored file against the bytes
// sent, the data going on when the control connection is lost, a check of
// the stored copy alone, and continuing a copy with REST.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "data_sink.h"
#include "ftp/local_hash.h"
#include "rig.h"

using namespace ftp;

namespace {

// The local file every upload here sends: 5000 bytes.
struct LocalFile {
    std::string path;
    std::string bytes;
    LocalFile()
    {
        char folder[MAX_PATH];
        GetTempPathA(sizeof folder, folder);
        path = std::string(folder) + "qp-upload-checks.bin";
        for (int i = 0; i < 5000; ++i) bytes += char('a' + i % 23);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    ~LocalFile() { DeleteFileA(path.c_str()); }
    std::string digest(HashAlgorithm a, std::size_t from = 0) const
    {
        LocalHash h(a);
        h.add(bytes.data() + from, bytes.size() - from);
        return h.hex();
    }
};

std::string featReply(const std::string& features)
{
    return "211-Features:\r\n" + features + "211 End\r\n";
}

// The replies to FEAT and to what learning the hash check asks after it,
// and those commands: a server that lists no hash command is asked the X
// commands, which it does not know here.
struct Learning {
    Lines replies;
    Lines commands;
};
Learning learning(const std::string& features)
{
    Learning l{{featReply(features)}, {"FEAT"}};
    if (features.find("HASH") != std::string::npos || features.find(" X") != std::string::npos) return l;
    for (const char* x : {"XSHA256", "XSHA1", "XMD5", "XCRC"}) {
        l.replies.push_back("500 Unknown command.\r\n");
        l.commands.push_back(x);
    }
    return l;
}

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Whether the sink got exactly these bytes (without printing 5000 of them).
bool got(DataSink& sink, const std::string& bytes)
{
    return sink.received() == bytes;
}

void signOnWithFeatures(FtpComponent& c)
{
    ASSERT_TRUE(c.Run(FtpOperation::SignOn));
    c.AfterLogin();
    c.LearnHashCheck();
}

void aimAtFile(FtpComponent& c, const LocalFile& file)
{
    c.PassiveTransfers = true;
    c.LocalFileName = file.path;
    c.RemotePath = "up.bin";
}

// Upper case and another order, as servers write digests.
std::string upper(std::string s)
{
    for (char& ch : s)
        if (ch >= 'a' && ch <= 'f') ch = char(ch - 'a' + 'A');
    return s;
}

std::string changedDigit(std::string hex)
{
    hex[10] = hex[10] == '0' ? '1' : '0';
    return hex;
}

} // namespace

TEST(HashCheck, LearntOncePerConnection)
{
    struct Row {
        const char* name;
        Lines replies;  // after USER: FEAT, then what the learning asks
        Lines commands;
        HashCommand command;
        HashAlgorithm algorithm;
    };
    const Row rows[] = {
        {"HASH with SHA-256 as its default", {"230 in\r\n", featReply(" HASH SHA-256*;MD5\r\n")},
         {"USER user", "FEAT"}, HashCommand::Hash, HashAlgorithm::Sha256},
        {"HASH with another default", {"230 in\r\n", featReply(" HASH SHA-1*;SHA-256\r\n"), "200 SHA-256\r\n"},
         {"USER user", "FEAT", "OPTS HASH SHA-256"}, HashCommand::Hash, HashAlgorithm::Sha256},
        {"OPTS HASH refused: its default", {"230 in\r\n", featReply(" HASH SHA-1*;SHA-256\r\n"), "501 No.\r\n"},
         {"USER user", "FEAT", "OPTS HASH SHA-256"}, HashCommand::Hash, HashAlgorithm::Sha1},
        {"XMD5 listed", {"230 in\r\n", featReply(" SIZE\r\n XMD5\r\n")}, {"USER user", "FEAT"}, HashCommand::XMd5,
         HashAlgorithm::Md5},
        {"none listed, XMD5 known",
         {"230 in\r\n", featReply(" SIZE\r\n"), "500 XSHA256 not understood.\r\n", "502 Not implemented.\r\n",
          "501 Syntax error: command needs an argument.\r\n"},
         {"USER user", "FEAT", "XSHA256", "XSHA1", "XMD5"}, HashCommand::XMd5, HashAlgorithm::Md5},
        {"FEAT refused, none known",
         {"230 in\r\n", "502 FEAT?\r\n", "500 ?\r\n", "500 ?\r\n", "500 ?\r\n", "504 ?\r\n"},
         {"USER user", "FEAT", "XSHA256", "XSHA1", "XMD5", "XCRC"}, HashCommand::None, HashAlgorithm::Sha256},
        {"the connection goes while asking",
         {"230 in\r\n", "502 FEAT?\r\n", "421 Closing.\r\n"}, {"USER user", "FEAT", "XSHA256"}, HashCommand::None,
         HashAlgorithm::Sha256},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Rig rig({{"220 ready\r\n"}, r.replies});
        signOnWithFeatures(rig.c());
        rig.c().LearnHashCheck();  // nothing more once learnt
        EXPECT_EQ(rig.server.commands(), r.commands);
        EXPECT_EQ(hashCommandVerb(rig.c().HashCheck().command), std::string(hashCommandVerb(r.command)));
        if (r.command != HashCommand::None) {
            EXPECT_EQ(rig.c().HashCheck().algorithm, r.algorithm);
        }
    }
}

// After SIZE the server's hash of the stored copy decides: a differing one
// fails the upload (and no later attempt continues that copy); a reply
// without a hash leaves the size as the check.
TEST(HashCheck, TheServersHashOfTheStoredFileDecides)
{
    const LocalFile file;
    const std::string sha256 = file.digest(HashAlgorithm::Sha256);
    const std::string md5 = file.digest(HashAlgorithm::Md5);
    const std::string mismatch = "550 The server's SHA-256 of the file differs from the bytes sent.";
    struct Row {
        const char* name;
        std::string features;
        std::string hashReply;
        bool ok;
        int code;
        std::string lastReply;
        std::string mismatch;
    };
    const Row rows[] = {
        {"HASH matches", " HASH SHA-256*\r\n", "213 SHA-256 0-5000 " + sha256 + " up.bin\r\n", true, 226, "226 Stored.",
         ""},
        {"HASH matches in capitals", " HASH SHA-256*\r\n", "213 SHA-256 0-5000 " + upper(sha256) + " up.bin\r\n", true,
         226, "226 Stored.", ""},
        {"HASH differs", " HASH SHA-256*\r\n", "213 SHA-256 0-5000 " + changedDigit(sha256) + " up.bin\r\n", false, 550,
         mismatch, "SHA-256"},
        {"HASH refused", " HASH SHA-256*\r\n", "550 Hash refused.\r\n", true, 226, "226 Stored.", ""},
        {"HASH busy", " HASH SHA-256*\r\n", "450 Busy.\r\n", true, 226, "226 Stored.", ""},
        {"HASH unreadable", " HASH SHA-256*\r\n", "213 #%&\r\n", true, 226, "226 Stored.", ""},
        {"HASH closes", " HASH SHA-256*\r\n", "421 Closing.\r\n", false, 421, "421 Closing.", ""},
        {"XMD5 matches", " XMD5\r\n", "250 " + upper(md5) + "\r\n", true, 226, "226 Stored.", ""},
        {"XMD5 differs", " XMD5\r\n", "250 " + changedDigit(md5) + "\r\n", false, 550,
         "550 The server's MD5 of the file differs from the bytes sent.", "MD5"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        DataSink sink;
        Rig rig({{"220 ready\r\n"},
                 {"230 in\r\n", featReply(r.features), sink.pasvReply(), "150 Go.\r\n226 Stored.\r\n", "213 5000\r\n",
                  r.hashReply}});
        FtpComponent& c = rig.c();
        signOnWithFeatures(c);
        aimAtFile(c, file);
        EXPECT_EQ(c.Run(FtpOperation::PutFile), r.ok);
        EXPECT_EQ(c.ReplyCode(), r.code);
        EXPECT_EQ(c.LastReply(), r.lastReply);
        EXPECT_EQ(c.UploadMismatch(), r.mismatch);
        EXPECT_EQ(c.Attempts().noResume, !r.mismatch.empty());
        EXPECT_TRUE(got(sink, file.bytes));
        const std::string verb = r.features.find("XMD5") != std::string::npos ? "XMD5" : "HASH";
        EXPECT_EQ(rig.server.commands(),
                  (Lines{"USER user", "FEAT", "PASV", "STOR up.bin", "SIZE up.bin", verb + " up.bin"}));
    }
}

// The control connection goes right after the STOR was taken: the data
// goes on to the end of the file, and the upload fails knowing that every
// byte went out. A check of the stored copy over a new login then counts
// it as stored without sending it again, or finds it short or changed.
TEST(LostControl, TheDataGoesOnAndANewLoginChecksTheCopy)
{
    const LocalFile file;
    const std::string sha256 = file.digest(HashAlgorithm::Sha256);
    struct Row {
        const char* name;
        std::string features;
        Lines checkReplies;
        Lines checkCommands;
        bool stored;
        bool noResume;
    };
    const Row rows[] = {
        {"whole, no hash offered", " SIZE\r\n", {"213 5000\r\n"}, {"SIZE up.bin"}, true, false},
        {"whole, the hash matches", " HASH SHA-256*\r\n",
         {"213 5000\r\n", "213 SHA-256 0-5000 " + sha256 + " up.bin\r\n"}, {"SIZE up.bin", "HASH up.bin"}, true, false},
        {"whole, the hash differs", " HASH SHA-256*\r\n",
         {"213 5000\r\n", "213 SHA-256 0-5000 " + changedDigit(sha256) + " up.bin\r\n"},
         {"SIZE up.bin", "HASH up.bin"}, false, true},
        {"short", " SIZE\r\n", {"213 4000\r\n"}, {"SIZE up.bin"}, false, false},
        {"gone", " SIZE\r\n", {"550 No such file.\r\n"}, {"SIZE up.bin"}, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        DataSink sink;
        const Learning learn = learning(r.features);
        Rig rig({{"220 ready\r\n"},
                 Lines{"230 in\r\n"} + learn.replies + Lines{sink.pasvReply(), "150 Go.\r\n" + kCloseConnection}});
        FtpComponent& c = rig.c();
        signOnWithFeatures(c);
        aimAtFile(c, file);
        EXPECT_FALSE(c.Run(FtpOperation::PutFile));
        EXPECT_EQ(c.LastReply(), "426 Control connection lost; the data connection ended after the whole file.");
        EXPECT_TRUE(got(sink, file.bytes));
        const AttemptRecord sent = c.Attempts();
        EXPECT_TRUE(sent.ownCopy);
        EXPECT_TRUE(sent.sentWhole);
        EXPECT_FALSE(sent.refuted);
        EXPECT_TRUE(c.AttemptsAreFor(file.path, "up.bin"));
        EXPECT_FALSE(c.AttemptsAreFor(file.path, "other.bin"));

        ScriptedServer again({{"220 ready\r\n"}, Lines{"230 in\r\n"} + learn.replies + r.checkReplies});
        c.Port = std::to_string(again.port());
        signOnWithFeatures(c);
        c.AttemptAgain = true;
        EXPECT_EQ(c.Run(FtpOperation::CheckStored), r.stored) << c.LastReply();
        c.AttemptAgain = false;
        EXPECT_EQ(again.commands(), Lines{"USER user"} + learn.commands + r.checkCommands);
        EXPECT_EQ(c.Attempts().noResume, r.noResume);
    }
}

// Continuing a copy: REST (after PASV, in the steps' order) must be taken
// (350) before STOR goes out from the offset, and the hash then checked is that of the whole file, its
// start taken from what the first attempt sent.
TEST(Resume, RestThenStorFromTheOffset)
{
    const LocalFile file;
    const std::string sha256 = file.digest(HashAlgorithm::Sha256);
    struct Row {
        const char* name;
        std::string restReply;
        bool ok;
        Lines commands;
        bool noResume;
    };
    const Row rows[] = {
        {"REST taken", "350 Restarting at 2000.\r\n", true,
         {"USER user", "FEAT", "PASV", "REST 2000", "STOR up.bin", "SIZE up.bin", "HASH up.bin"}, false},
        {"REST refused", "502 REST not implemented.\r\n", false, {"USER user", "FEAT", "PASV", "REST 2000"}, true},
        {"REST answered, not taken", "200 Whatever.\r\n", false, {"USER user", "FEAT", "PASV", "REST 2000"}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string features = featReply(" HASH SHA-256*\r\n REST STREAM\r\n");
        // The first attempt: the link breaks after 3000 bytes.
        DataSink cut(3000);
        Rig rig({{"220 ready\r\n"},
                 {"230 in\r\n", features, cut.pasvReply(), "150 Go.\r\n426 Connection reset.\r\n"}});
        FtpComponent& c = rig.c();
        signOnWithFeatures(c);
        aimAtFile(c, file);
        EXPECT_FALSE(c.Run(FtpOperation::PutFile));
        EXPECT_TRUE(got(cut, file.bytes.substr(0, 3000)));
        ASSERT_TRUE(c.Attempts().ownCopy);
        EXPECT_FALSE(c.Attempts().sentWhole);
        c.Cancel();  // the connection goes; the record stays

        // The server kept 2000 of them. Only a taken REST gets to the data.
        std::optional<DataSink> rest;
        if (r.ok) rest.emplace();
        ScriptedServer again({{"220 ready\r\n"},
                              {"230 in\r\n", features, rest ? rest->pasvReply() : "227 (127,0,0,1,0,1)\r\n",
                               r.restReply, "150 Go.\r\n226 Stored.\r\n", "213 5000\r\n",
                               "213 SHA-256 0-5000 " + sha256 + " up.bin\r\n"}});
        c.Port = std::to_string(again.port());
        signOnWithFeatures(c);
        c.AttemptAgain = true;
        c.SetRestartOffset(2000);
        EXPECT_EQ(c.Run(FtpOperation::RestartPut), r.ok) << c.LastReply();
        c.AttemptAgain = false;
        EXPECT_EQ(again.commands(), r.commands);
        EXPECT_EQ(c.Attempts().noResume, r.noResume);
        if (r.ok) {
            EXPECT_TRUE(got(*rest, file.bytes.substr(2000)));
            EXPECT_EQ(c.UploadMismatch(), "");
        }
    }
}
