// The control connection against a scripted server: replies in, commands
// and result out. The component lives on an owner thread with its own
// message loop and is driven synchronously from the test thread, as the
// program thread drives it.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "component_owner.h"
#include "data_sink.h"
#include "rig.h"
#include "scripted_server.h"
#include "socket_checks.h"

using namespace ftp;

namespace {

std::string thrownBy(FtpComponent& c, FtpOperation op)
{
    try {
        c.Start(op);
    } catch (const FtpFailure& e) {
        return e.what();
    }
    return "<started>";
}

} // namespace

TEST(SignOn, RepliesInCommandsOut)
{
    struct Row {
        const char* name;
        Lines greeting;
        Lines replies;
        Lines commands;
        bool ok;
        int code;
        std::string lastReply;
    };
    const std::string overlong = "230-" + std::string(4091, 'a');  // fills the buffer exactly
    const Row rows[] = {
        {"331 sends PASS", {"220 ready\r\n"}, {"331 pw\r\n", "230 in\r\n"},
         {"USER user", "PASS secret"}, true, 230, "230 in"},
        {"230 skips PASS", {"220 ready\r\n"}, {"230 in\r\n"}, {"USER user"}, true, 230, "230 in"},
        {"PASS refused", {"220 ready\r\n"}, {"331 pw\r\n", "530 Login incorrect.\r\n"},
         {"USER user", "PASS secret"}, false, 530, "530 Login incorrect."},
        {"USER refused", {"220 ready\r\n"}, {"530 Not allowed\r\n"}, {"USER user"}, false, 530,
         "530 Not allowed"},
        {"digit-less lines ignored", {"220 ready\r\n"},
         {"Please wait\r\n331 pw\r\n", "230-Welcome\r\n  to the server\r\nno digits\r\n230 in\r\n"},
         {"USER user", "PASS secret"}, true, 230, "230 in"},
        {"multi-line greeting ends at its last line",
         {"220-Welcome\r\n", "220-second line\r\n", "220 ready\r\n"}, {"331 pw\r\n", "230 in\r\n"},
         {"USER user", "PASS secret"}, true, 230, "230 in"},
        {"numbered greeting lines are text",
         {"220-Welcome\r\n1. Be nice\r\n2 uploads per hour\r\n", "220 ready\r\n"},
         {"331 pw\r\n", "230 in\r\n"}, {"USER user", "PASS secret"}, true, 230, "230 in"},
        {"several replies in one segment", {"220 ready\r\n331 pw\r\n"}, {kSilent, "230 in\r\n"},
         {"USER user", "PASS secret"}, true, 230, "230 in"},
        {"reply lines longer than the buffer", {"220 " + std::string(5000, 'g') + "\r\n"},
         {"331 pw\r\n", overlong + "530 not a reply\r\n230 in\r\n"}, {"USER user", "PASS secret"},
         true, 230, "230 in"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Rig rig({r.greeting, r.replies});
        const bool ok = rig.c().Run(FtpOperation::SignOn);
        EXPECT_EQ(ok, r.ok);
        EXPECT_EQ(rig.server.commands(), r.commands);
        EXPECT_EQ(rig.c().ReplyCode(), r.code);
        EXPECT_EQ(rig.c().LastReply(), r.lastReply);
        EXPECT_EQ(rig.c().Error(), r.ok ? 0 : r.code);
        EXPECT_EQ(rig.c().FailText(), r.ok ? "" : r.lastReply);
        // A failed login leaves the control connection open.
        EXPECT_TRUE(rig.c().Connected());
        EXPECT_EQ(rig.c().State(), FtpState::Idle);
    }
}

TEST(SignOn, GreetingWithErrorCodeFailsAndCloses)
{
    Rig rig({{"421 Too many users\r\n"}, {}});
    EXPECT_FALSE(rig.c().Run(FtpOperation::SignOn));
    EXPECT_EQ(rig.c().Error(), 421);
    EXPECT_EQ(rig.c().ReplyCode(), 421);
    EXPECT_EQ(rig.c().LastReply(), "421 Too many users");
    EXPECT_EQ(rig.c().FailText(), "421 Too many users");
    EXPECT_FALSE(rig.c().Connected());
    EXPECT_EQ(rig.c().ControlSocket().State(), SocketState::Closed);
    EXPECT_TRUE(rig.server.finished());
    EXPECT_TRUE(rig.server.commands().empty());
}

TEST(SignOn, RepliesSplitAcrossSegmentsAtEveryPosition)
{
    ComponentOwner owner;
    const std::string longest = "230-Welcome\r\n230 Logged in\r\n";
    for (int cut = 1; cut < int(longest.size()); ++cut) {
        SCOPED_TRACE(cut);
        ServerScript script{{"220-Hello\r\n220 ready\r\n"},
                            {"331 Password required\r\n", longest, "221 Bye\r\n"}};
        script.splitAt = cut;
        ScriptedServer server(script);
        aim(*owner, server.port());
        ASSERT_TRUE(owner->Run(FtpOperation::SignOn)) << owner->LastReply();
        EXPECT_EQ(owner->LastReply(), "230 Logged in");
        ASSERT_TRUE(owner->Run(FtpOperation::SignOff)) << owner->LastReply();
        EXPECT_EQ(owner->LastReply(), "221 Bye");
        EXPECT_FALSE(owner->Connected());
        EXPECT_EQ(server.commands(), (Lines{"USER user", "PASS secret", "QUIT"}));
    }
}

TEST(SignOn, ProxyLoginNamesTheTargetHost)
{
    const std::pair<const char*, const char*> rows[] = {
        {"21", "USER user@127.0.0.2"},
        {"ftp", "USER user@127.0.0.2"},
        {"2121", "USER user@127.0.0.2:2121"},
    };
    for (const auto& [port, command] : rows) {
        SCOPED_TRACE(port);
        Rig rig({{"220 proxy ready\r\n"}, {"331 pw\r\n", "230 in\r\n"}});
        // The connection goes to the proxy; the target only appears in USER.
        rig.c().UseProxy = 1;
        rig.c().ProxyHost = "127.0.0.1";
        rig.c().ProxyPort = std::to_string(rig.server.port());
        rig.c().Host = "127.0.0.2";
        rig.c().Port = port;
        EXPECT_TRUE(rig.c().Run(FtpOperation::SignOn));
        EXPECT_EQ(rig.server.commands(), (Lines{command, "PASS secret"}));
    }
}

TEST(SignOn, HostNameGoesThroughTheAsynchronousLookup)
{
    Rig rig({{"220 ready\r\n"}, {"230 in\r\n"}});
    rig.c().Host = "localhost";
    EXPECT_TRUE(rig.c().Run(FtpOperation::SignOn)) << rig.c().LastReply();
    EXPECT_EQ(rig.c().ControlSocket().Addr(), "127.0.0.1");
}

TEST(SignOn, EmptyHostIsRefusedWithoutTouchingTheLastReply)
{
    ComponentOwner owner;
    owner->UserName = "user";
    EXPECT_EQ(thrownBy(*owner, FtpOperation::SignOn), "DNS lookup: invalid host name.");
    EXPECT_FALSE(owner->Run(FtpOperation::SignOn));
    EXPECT_EQ(owner->LastReply(), "");
    EXPECT_EQ(owner->State(), FtpState::Idle);
}

TEST(SignOn, RefusedConnectionIsReply500AndTheComponentStaysUsable)
{
    ComponentOwner owner;
    aim(*owner, unusedPort());
    EXPECT_FALSE(owner->Run(FtpOperation::SignOn));
    EXPECT_EQ(owner->ReplyCode(), 500);
    EXPECT_EQ(owner->LastReply(), "500 Connection refused (Winsock error #10061)");
    EXPECT_FALSE(owner->Connected());
    EXPECT_EQ(owner->State(), FtpState::Idle);

    ScriptedServer server({{"220 ready\r\n"}, {"230 in\r\n"}});
    owner->Port = std::to_string(server.port());
    EXPECT_TRUE(owner->Run(FtpOperation::SignOn)) << owner->LastReply();
}

TEST(FullOperation, FailedCwdDropsAllButQuitAndShowsTheCwdReply)
{
    Rig rig({{"220 ready\r\n"},
             {"331 pw\r\n", "230 in\r\n", "550 missing: No such directory\r\n", "221 Bye\r\n"}});
    rig.c().HostDirName = "missing";
    rig.c().RemotePath = "new";
    EXPECT_FALSE(rig.c().Run(FtpOperation::FullMakeDir));
    EXPECT_EQ(rig.server.commands(), (Lines{"USER user", "PASS secret", "CWD missing", "QUIT"}));
    EXPECT_EQ(rig.c().ReplyCode(), 550);
    EXPECT_EQ(rig.c().LastReply(), "550 missing: No such directory");
    EXPECT_EQ(rig.c().FailText(), "550 missing: No such directory");
    EXPECT_EQ(rig.c().Error(), 550);
    EXPECT_FALSE(rig.c().Connected());
}

TEST(FullOperation, SucceedsWithTheReplyBeforeQuit)
{
    Rig rig({{"220 ready\r\n"},
             {"331 pw\r\n", "230 in\r\n", "250 ok\r\n", "257 \"/pub/new \"\"one\"\"\" created\r\n",
              "221 Bye\r\n"}});
    rig.c().HostDirName = "/pub";
    rig.c().RemotePath = "new \"one\"";
    EXPECT_TRUE(rig.c().Run(FtpOperation::FullMakeDir));
    EXPECT_EQ(rig.server.commands(),
              (Lines{"USER user", "PASS secret", "CWD /pub", "MKD new \"one\"", "QUIT"}));
    EXPECT_EQ(rig.c().ReplyCode(), 257);
    EXPECT_EQ(rig.c().LastReply(), "257 \"/pub/new \"\"one\"\"\" created");
    EXPECT_EQ(rig.c().QuotedDir(), "/pub/new \"one\"");
    EXPECT_FALSE(rig.c().Connected());
    EXPECT_EQ(rig.c().State(), FtpState::Idle);
}

TEST(SingleRequests, WireTextsAndResults)
{
    Rig rig({{"220 ready\r\n"},
             {"230 in\r\n", "250 CWD ok\r\n", "257 \"/a\" is current\r\n", "213 12345\r\n",
              "550 nope\r\n", "250 deleted\r\n", "257 \"/a/d\" created\r\n", "250 removed\r\n",
              "200 Type set\r\n", "221 Bye\r\n"}});
    FtpComponent& c = rig.c();
    ASSERT_TRUE(c.Run(FtpOperation::SignOn));
    c.HostDirName = "/a";
    EXPECT_TRUE(c.Run(FtpOperation::ChangeDir));
    EXPECT_TRUE(c.Run(FtpOperation::PrintDir));
    EXPECT_EQ(c.QuotedDir(), "/a");
    c.RemotePath = "f.txt";
    EXPECT_TRUE(c.Run(FtpOperation::Size));
    EXPECT_EQ(c.ReportedSize(), 12345);
    EXPECT_FALSE(c.Run(FtpOperation::Size));
    EXPECT_EQ(c.ReplyCode(), 550);
    EXPECT_EQ(c.FailText(), "550 nope");
    EXPECT_TRUE(c.Run(FtpOperation::Delete));
    EXPECT_EQ(c.FailText(), "");
    c.RemotePath = "d";
    EXPECT_TRUE(c.Run(FtpOperation::MakeDir));
    EXPECT_TRUE(c.Run(FtpOperation::RemoveDir));
    c.TransferType = 'A';
    EXPECT_TRUE(c.Run(FtpOperation::TransferType));
    EXPECT_TRUE(c.Run(FtpOperation::SignOff));
    EXPECT_EQ(rig.server.commands(),
              (Lines{"USER user", "CWD /a", "PWD", "SIZE f.txt", "SIZE f.txt", "DELE f.txt", "MKD d",
                     "RMD d", "TYPE A", "QUIT"}));
    EXPECT_FALSE(c.Connected());
}

TEST(SingleRequests, MultiLineRepliesAreReadToTheirLastLine)
{
    // Lines inside a multi-line reply that look like replies of their own
    // must neither end it nor answer the next request.
    Rig rig({{"220 ready\r\n"},
             {"230 in\r\n",
              "250-Welcome to /pub\r\n1 file here\r\n550 is only text\r\n250 CWD ok\r\n",
              "213-Status\r\n 213 12 not yet\r\n213 777\r\n"}});
    FtpComponent& c = rig.c();
    ASSERT_TRUE(c.Run(FtpOperation::SignOn));
    c.HostDirName = "/pub";
    EXPECT_TRUE(c.Run(FtpOperation::ChangeDir));
    EXPECT_EQ(c.LastReply(), "250 CWD ok");
    c.RemotePath = "f";
    EXPECT_TRUE(c.Run(FtpOperation::Size));
    EXPECT_EQ(c.ReportedSize(), 777);
    EXPECT_EQ(rig.server.commands(), (Lines{"USER user", "CWD /pub", "SIZE f"}));
}

TEST(SingleRequests, Reply421ClosesTheControlConnection)
{
    Rig rig({{"220 ready\r\n"}, {"230 in\r\n", "421 Service closing.\r\n"}});
    FtpComponent& c = rig.c();
    ASSERT_TRUE(c.Run(FtpOperation::SignOn));
    c.HostDirName = "/";
    EXPECT_FALSE(c.Run(FtpOperation::ChangeDir));
    EXPECT_EQ(c.ReplyCode(), 421);
    EXPECT_FALSE(c.Connected());
    EXPECT_TRUE(rig.server.finished());
}

TEST(SingleRequests, RefusedWhenNotConnected)
{
    ComponentOwner owner;
    owner->HostDirName = "/a";
    EXPECT_EQ(thrownBy(*owner, FtpOperation::ChangeDir), "FTP component not connected");
    EXPECT_FALSE(owner->Run(FtpOperation::PrintDir));
    owner->HostDirName = "";
    EXPECT_EQ(thrownBy(*owner, FtpOperation::ChangeDir), "FTP component not connected");
    EXPECT_EQ(owner->LastReply(), "");
}

TEST(Waiting, SilentServerEndsAfterWaitSecondsWith426)
{
    const std::pair<ServerScript, Lines> rows[] = {
        {{{"220 ready\r\n"}, {kSilent}}, {"USER user"}},  // no reply to USER
        {{{}, {}}, {}},                                    // no greeting
    };
    for (const auto& [script, commands] : rows) {
        SCOPED_TRACE(commands.size());
        Rig rig(script, 1);
        const DWORD start = GetTickCount();
        EXPECT_FALSE(rig.c().Run(FtpOperation::SignOn));
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_GE(elapsed, 900u);
        EXPECT_LT(elapsed, 5000u);
        EXPECT_EQ(rig.c().FailText(), "426 Timeout");
        EXPECT_EQ(rig.c().ReplyCode(), 426);
        EXPECT_EQ(rig.c().LastReply(), "426 Timeout");
        EXPECT_EQ(rig.c().ControlSocket().State(), SocketState::Closed);
        EXPECT_EQ(rig.c().DataSocket().State(), SocketState::Closed);
        EXPECT_FALSE(rig.c().Connected());
        EXPECT_EQ(rig.c().State(), FtpState::Idle);
        EXPECT_TRUE(rig.server.finished());
        EXPECT_EQ(rig.server.commands(), commands);
    }
}

TEST(Waiting, QuitWithoutConnectionWritesNothingAndEndsByTheLimit)
{
    ComponentOwner owner;
    owner->WaitSeconds = 1;
    EXPECT_FALSE(owner->Run(FtpOperation::SignOff));
    EXPECT_EQ(owner->ReplyCode(), 426);
    EXPECT_EQ(owner->State(), FtpState::Idle);
}

TEST(ConnectionClosed, WhileAReplyIsAwaitedIsAFailure)
{
    struct Row {
        const char* name;
        Lines greeting;
        Lines replies;
    };
    const Row rows[] = {
        {"before the greeting", {kCloseConnection}, {}},
        {"after part of the greeting", {"220-Hello\r\n", kCloseConnection}, {}},
        {"instead of the USER reply", {"220 ready\r\n"}, {kCloseConnection}},
        {"inside a multi-line reply", {"220 ready\r\n"}, {"331 pw\r\n", "230-Welcome\r\n" + kCloseConnection}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Rig rig({r.greeting, r.replies});
        EXPECT_FALSE(rig.c().Run(FtpOperation::SignOn));
        EXPECT_EQ(rig.c().ReplyCode(), 426);
        EXPECT_EQ(rig.c().LastReply(), "426 Connection closed by server.");
        EXPECT_EQ(rig.c().FailText(), "426 Connection closed by server.");
        EXPECT_FALSE(rig.c().Connected());
        EXPECT_EQ(rig.c().State(), FtpState::Idle);
    }
}

TEST(ConnectionClosed, DuringASingleRequestFailsAndQuitAnsweredByCloseSucceeds)
{
    Rig rig({{"220 ready\r\n"}, {"230 in\r\n", kCloseConnection}});
    ASSERT_TRUE(rig.c().Run(FtpOperation::SignOn));
    rig.c().HostDirName = "/a";
    EXPECT_FALSE(rig.c().Run(FtpOperation::ChangeDir));
    EXPECT_EQ(rig.c().ReplyCode(), 426);
    EXPECT_EQ(rig.c().LastReply(), "426 Connection closed by server.");

    Rig quit({{"220 ready\r\n"}, {"230 in\r\n", kCloseConnection}});
    ASSERT_TRUE(quit.c().Run(FtpOperation::SignOn));
    EXPECT_TRUE(quit.c().Run(FtpOperation::SignOff));
    EXPECT_EQ(quit.server.commands(), (Lines{"USER user", "QUIT"}));
    EXPECT_FALSE(quit.c().Connected());
}

TEST(CommandText, LineBreaksAndNulAreRefusedBeforeAnythingIsWritten)
{
    Rig rig({{"220 ready\r\n"}, {"230 in\r\n", "250 ok\r\n"}});
    FtpComponent& c = rig.c();
    ASSERT_TRUE(c.Run(FtpOperation::SignOn));
    for (const std::string& bad : {std::string("x\r\nDELE y"), std::string("x\nDELE y"),
                                  std::string("x\rDELE y"), std::string("x\0DELE y", 8)}) {
        c.HostDirName = bad;
        EXPECT_EQ(thrownBy(c, FtpOperation::ChangeDir),
                  "Command refused: it contains a line break or NUL character.");
        EXPECT_FALSE(c.Run(FtpOperation::ChangeDir));
        EXPECT_EQ(c.LastReply(), "230 in");  // a refusal is no reply
        EXPECT_EQ(c.State(), FtpState::Idle);
    }
    c.RemotePath = "a\nb";
    EXPECT_FALSE(c.Run(FtpOperation::Delete));
    c.HostDirName = "fine";
    EXPECT_TRUE(c.Run(FtpOperation::ChangeDir));
    EXPECT_EQ(rig.server.commands(), (Lines{"USER user", "CWD fine"}));
}

TEST(CommandText, RefusalInsideASignOnEndsItWithoutWriting)
{
    {
        Rig rig({{"220 ready\r\n"}, {"331 pw\r\n", "230 in\r\n"}});
        rig.c().UserName = "user\r\nDELE x";
        EXPECT_FALSE(rig.c().Run(FtpOperation::SignOn));
        EXPECT_EQ(rig.c().ReplyCode(), 500);
        EXPECT_EQ(rig.c().LastReply(), "500 Command refused: it contains a line break or NUL character.");
        EXPECT_TRUE(rig.server.commands().empty());
    }
    {
        Rig rig({{"220 ready\r\n"}, {"331 pw\r\n", "230 in\r\n", "221 Bye\r\n"}});
        rig.c().Password = std::string("se\0cret", 7);
        rig.c().HostDirName = "/";
        rig.c().RemotePath = "x";
        EXPECT_FALSE(rig.c().Run(FtpOperation::FullDelete));
        EXPECT_EQ(rig.c().ReplyCode(), 500);
        // The sign-off still runs; nothing else follows USER.
        EXPECT_EQ(rig.server.commands(), (Lines{"USER user", "QUIT"}));
    }
}

TEST(Threads, ConstructedAndDrivenOnOneThread)
{
    ScriptedServer server({{"220 ready\r\n"}, {"331 pw\r\n", "230 in\r\n", "257 \"/\"\r\n", "221 Bye\r\n"}});
    FtpComponent c;
    aim(c, server.port());
    std::vector<std::string> trace;
    c.OnStateChange = [&](FtpState a, FtpState b) {
        trace.push_back(std::string(ftpStateName(a)) + "->" + ftpStateName(b));
    };
    EXPECT_TRUE(c.Run(FtpOperation::SignOn));
    EXPECT_TRUE(c.Run(FtpOperation::PrintDir));
    EXPECT_EQ(c.QuotedDir(), "/");
    EXPECT_TRUE(c.Run(FtpOperation::SignOff));
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front(), "Idle->Resolving");
    EXPECT_EQ(trace.back(), "Stepping->Idle");
}

TEST(Threads, CancelFromTheDrivingThreadClosesBoth)
{
    Rig rig({{"220 ready\r\n"}, {kSilent}});
    rig.c().Start(FtpOperation::SignOn);
    // Poll (bounded) until USER went out, then cancel from this thread.
    for (int i = 0; i < 200 && rig.server.commands().empty(); ++i) Sleep(10);
    ASSERT_EQ(rig.server.commands(), Lines{"USER user"});
    rig.c().Cancel();
    EXPECT_EQ(rig.c().State(), FtpState::Idle);
    EXPECT_EQ(rig.c().Error(), 426);
    EXPECT_FALSE(rig.c().Connected());
    EXPECT_EQ(rig.c().ControlSocket().State(), SocketState::Closed);
    EXPECT_TRUE(rig.server.finished());
}

// Explicit FTPS against servers that do not give it: the sign-on ends
// after AUTH TLS with the reason kept, and USER or PASS never go out.
TEST(ExplicitTls, NoLoginWithoutTls)
{
    struct Row {
        const char* name;
        Lines replies;
        TlsProblem problem;
        int code;
    };
    const Row rows[] = {
        {"AUTH unknown", {"500 AUTH not understood\r\n"}, TlsProblem::Refused, 500},
        {"AUTH refused before login", {"530 Please login with USER and PASS.\r\n"}, TlsProblem::Refused, 530},
        {"closed after 234", {"234 Proceed\r\n" + kCloseConnection}, TlsProblem::Handshake, 500},
        {"plain text behind 234, then closed", {"234 Proceed\r\n331 pw\r\n" + kCloseConnection},
         TlsProblem::Handshake, 500},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Rig rig({{"220 ready\r\n"}, r.replies});
        rig.c().Tls = ftp::TlsMode::Explicit;
        EXPECT_FALSE(rig.c().Run(FtpOperation::SignOn));
        EXPECT_EQ(rig.server.commands(), Lines{"AUTH TLS"});
        EXPECT_EQ(rig.c().LastTlsFailure().problem, r.problem);
        EXPECT_EQ(rig.c().ReplyCode(), r.code);
        EXPECT_EQ(rig.c().State(), FtpState::Idle);
    }
}

// Implicit FTPS against servers that do not speak TLS from the first
// byte: the greeting is never taken in the clear, and nothing is sent but
// the ClientHello.
TEST(ImplicitTls, NoGreetingOrLoginOutsideTls)
{
    struct Row {
        const char* name;
        Lines greeting;
    };
    const Row rows[] = {
        {"a plain greeting", {"220 ready\r\n"}},
        {"closed at once", {kCloseConnection}},
        {"a plain greeting, then closed", {"220 ready\r\n" + kCloseConnection}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Rig rig({r.greeting, {"331 pw\r\n", "230 in\r\n"}});
        rig.c().Tls = ftp::TlsMode::Implicit;
        EXPECT_FALSE(rig.c().Run(FtpOperation::SignOn));
        for (const std::string& line : rig.server.commands()) EXPECT_EQ(line.find("USER"), std::string::npos);
        EXPECT_EQ(rig.c().LastTlsFailure().problem, TlsProblem::Handshake);
        EXPECT_EQ(rig.c().ReplyCode(), 500);
        EXPECT_FALSE(rig.c().Connected());
        EXPECT_EQ(rig.c().State(), FtpState::Idle);
    }
}

TEST(AfterLogin, FeatDecidesHowNamesTravel)
{
    struct Row {
        const char* name;
        Lines replies;  // after USER
        Lines commands;
        bool utf8;
    };
    const std::string feat = "211-Features supported:\r\n EPRT\r\n SIZE\r\n UTF8\r\n211 End FEAT.\r\n";
    const Row rows[] = {
        {"UTF8 listed, option refused", {"230 in\r\n", feat, "501 Invalid argument.\r\n"},
         {"USER user", "FEAT", "OPTS UTF8 ON"}, true},
        {"UTF8 listed, option taken", {"230 in\r\n", feat, "200 Always in UTF8 mode.\r\n"},
         {"USER user", "FEAT", "OPTS UTF8 ON"}, true},
        {"no UTF8 listed", {"230 in\r\n", "211-Features:\r\n EPRT\r\n SIZE\r\n211 End\r\n"},
         {"USER user", "FEAT"}, false},
        {"FEAT refused", {"230 in\r\n", "502 Command not implemented.\r\n"}, {"USER user", "FEAT"}, false},
        {"FEAT not understood", {"230 in\r\n", "500 'FEAT': command not understood.\r\n"},
         {"USER user", "FEAT"}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Rig rig({{"220 ready\r\n"}, r.replies});
        ASSERT_TRUE(rig.c().Run(FtpOperation::SignOn));
        rig.c().AfterLogin();
        EXPECT_EQ(rig.server.commands(), r.commands);
        EXPECT_EQ(rig.c().Utf8Names(), r.utf8);
        EXPECT_TRUE(rig.c().Connected());
        EXPECT_EQ(rig.c().State(), FtpState::Idle);
    }
}

TEST(AfterLogin, FeatRepliesSplitAcrossSegmentsAtEveryPosition)
{
    const std::string feat = "211-Features:\r\n SIZE\r\n UTF8\r\n211 End\r\n";
    for (int cut = 1; cut < int(feat.size()); ++cut) {
        SCOPED_TRACE(cut);
        ServerScript script{{"220 ready\r\n"}, {"230 in\r\n", feat, "200 ok\r\n"}};
        script.splitAt = cut;
        Rig rig(script);
        ASSERT_TRUE(rig.c().Run(FtpOperation::SignOn));
        rig.c().AfterLogin();
        EXPECT_TRUE(rig.c().Utf8Names());
    }
}

TEST(AfterLogin, ANewConnectionStartsInTheCodePage)
{
    Rig rig({{"220 ready\r\n"}, {"230 in\r\n", "211-Features:\r\n UTF8\r\n211 End\r\n", "200 ok\r\n",
                                 "221 Bye\r\n"}});
    ASSERT_TRUE(rig.c().Run(FtpOperation::SignOn));
    rig.c().AfterLogin();
    ASSERT_TRUE(rig.c().Utf8Names());
    EXPECT_TRUE(rig.c().Run(FtpOperation::SignOff));

    ScriptedServer other({{"220 ready\r\n"}, {"230 in\r\n"}});
    rig.c().Port = std::to_string(other.port());
    ASSERT_TRUE(rig.c().Run(FtpOperation::SignOn));
    EXPECT_FALSE(rig.c().Utf8Names());
}

// After the final reply the upload asks SIZE: only a server that holds every
// byte sent confirms it; without SIZE, the whole stream having gone out and
// the server's close after ours does.
TEST(Upload, TheSizeCheckDecides)
{
    struct Row {
        const char* sizeReply;
        bool ok;
        int code;
        std::string lastReply;
    };
    const Row rows[] = {
        {"213 5000\r\n", true, 226, "226 Stored."},
        {"213 3\r\n", false, 550, "550 The server holds 3 of 5000 bytes sent."},
        {"213\r\n", true, 226, "226 Stored."},
        {"502 SIZE not implemented.\r\n", true, 226, "226 Stored."},
        {"550 No such file.\r\n", true, 226, "226 Stored."},
        {"451 Try later.\r\n", false, 451, "451 Try later."},
        {"421 Closing.\r\n", false, 421, "421 Closing."},
    };
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    const std::string local = std::string(folder) + "qp-size-check.bin";
    std::FILE* f = std::fopen(local.c_str(), "wb");
    ASSERT_TRUE(f);
    const std::string bytes(5000, 'u');
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.sizeReply);
        DataSink sink;
        Rig rig({{"220 ready\r\n"}, {"230 in\r\n", sink.pasvReply(), "150 Go.\r\n226 Stored.\r\n", r.sizeReply}});
        FtpComponent& c = rig.c();
        ASSERT_TRUE(c.Run(FtpOperation::SignOn));
        c.PassiveTransfers = true;
        c.LocalFileName = local;
        c.RemotePath = "up.bin";
        EXPECT_EQ(c.Run(FtpOperation::PutFile), r.ok);
        EXPECT_EQ(c.ReplyCode(), r.code);
        EXPECT_EQ(c.LastReply(), r.lastReply);
        EXPECT_EQ(c.Transferring(), r.ok ? TransferPhase::Done : TransferPhase::Failed)
            << transferPhaseName(c.Transferring());
        EXPECT_EQ(c.DataSocket().Life(), ConnectionLife::PeerClosedAfterOurEnd)
            << connectionLifeName(c.DataSocket().Life());
        EXPECT_EQ(rig.server.commands(), (Lines{"USER user", "PASV", "STOR up.bin", "SIZE up.bin"}));
        EXPECT_EQ(c.State(), FtpState::Idle);
    }
    DeleteFileA(local.c_str());
}

namespace {

// A local file of `size` bytes, removed again at the end of the scope.
struct LocalFile {
    std::string path;
    explicit LocalFile(const char* name, std::size_t size)
    {
        char folder[MAX_PATH];
        GetTempPathA(sizeof folder, folder);
        path = std::string(folder) + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        const std::string bytes(size, 'v');
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    ~LocalFile() { DeleteFileA(path.c_str()); }
};

} // namespace

// Over IPv6 the passive data connection is asked for with EPSV, and made to
// the control connection's peer (the proxy's when there is one) at the port
// of the 229 reply; over IPv4 PASV stays.
TEST(Upload, OverIpv6ThePassivePortComesFromEpsv)
{
    struct Row {
        const char* name;
        bool ipv6;
        bool proxy;
        const char* host;      // the target; through the proxy only in USER
        const char* badReply;  // instead of a data listener's 229 (227)
        const char* lastReply;
        Lines commands;
    };
    const Row rows[] = {
        {"IPv6 literal", true, false, "::1", nullptr, "226 Stored.", {"USER user", "EPSV", "STOR v6.bin", "SIZE v6.bin"}},
        {"IPv6 in brackets", true, false, "[::1]", nullptr, "226 Stored.",
         {"USER user", "EPSV", "STOR v6.bin", "SIZE v6.bin"}},
        {"IPv6 proxy, IPv4 target", true, true, "127.0.0.2", nullptr, "226 Stored.",
         {"USER user@127.0.0.2", "EPSV", "STOR v6.bin", "SIZE v6.bin"}},
        {"IPv4 proxy, IPv6 target", false, true, "::1", nullptr, "226 Stored.",
         {"USER user@[::1]", "PASV", "STOR v6.bin", "SIZE v6.bin"}},
        {"IPv4 stays PASV", false, false, "127.0.0.1", nullptr, "226 Stored.",
         {"USER user", "PASV", "STOR v6.bin", "SIZE v6.bin"}},
        {"229 without a port", true, false, "::1", "229 Entering Extended Passive Mode (|||)",
         "550 No data port in the passive reply.", {"USER user", "EPSV"}},
        {"EPSV refused", true, false, "::1", "500 EPSV not understood.", "500 EPSV not understood.",
         {"USER user", "EPSV"}},
        // 229 is no answer to PASV: an IPv4 connection keeps PASV's rules.
        {"229 to PASV", false, false, "127.0.0.1", "229 Entering Extended Passive Mode (|||6446|)",
         "229 Entering Extended Passive Mode (|||6446|)", {"USER user", "PASV"}},
    };
    const LocalFile local("qp-epsv.bin", 3000);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::unique_ptr<DataSink> sink(r.badReply ? nullptr : new DataSink(-1, r.ipv6));
        const std::string portReply =
            sink ? (r.ipv6 ? sink->epsvReply() : sink->pasvReply()) : r.badReply + std::string("\r\n");
        ServerScript script{{"220 ready\r\n"}, {"230 in\r\n", portReply, "150 Go.\r\n226 Stored.\r\n", "213 3000\r\n"}};
        script.address = r.ipv6 ? "::1" : "127.0.0.1";
        Rig rig(script);
        FtpComponent& c = rig.c();
        c.Host = r.host;
        if (r.proxy) {
            c.UseProxy = 1;
            c.ProxyHost = r.ipv6 ? "::1" : "127.0.0.1";
            c.ProxyPort = std::to_string(rig.server.port());
            c.Port = "21";
        }
        ASSERT_TRUE(c.Run(FtpOperation::SignOn)) << c.LastReply();
        EXPECT_EQ(c.ControlSocket().Addr(), r.ipv6 ? "::1" : "127.0.0.1");
        c.PassiveTransfers = true;
        c.LocalFileName = local.path;
        c.RemotePath = "v6.bin";
        EXPECT_EQ(c.Run(FtpOperation::PutFile), r.badReply == nullptr) << c.LastReply();
        EXPECT_EQ(c.LastReply(), r.lastReply);
        EXPECT_EQ(rig.server.commands(), r.commands);
    }
}
