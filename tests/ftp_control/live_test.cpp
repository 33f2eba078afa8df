// The control connection against a real FTP server on loopback, started by
// live_servers.py, which passes it through the environment:
//   QP_FTP_PORT, QP_FTP_USER, QP_FTP_PASS (may be empty: USER alone logs in),
//   QP_FTP_DIR   a directory in which MKD, RMD and DELE are allowed,
//   QP_FTP_FILE  a file in QP_FTP_DIR and QP_FTP_FILE_SIZE its size,
//   QP_FTP_CHECKS_PASSWORD  1 when a wrong password is refused.
// The component lives on an owner thread and is driven from the test thread.
#include <gtest/gtest.h>

#include <cstdlib>

#include "component_owner.h"

using namespace ftp;

namespace {

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

void aim(FtpComponent& c)
{
    c.Host = "127.0.0.1";
    c.Port = env("QP_FTP_PORT");
    c.UserName = env("QP_FTP_USER");
    c.Password = env("QP_FTP_PASS");
    c.WaitSeconds = 10;
}

class LiveServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (env("QP_FTP_PORT").empty()) GTEST_SKIP() << "no server given (run live_servers.py)";
        aim(*owner);
    }
    ComponentOwner owner;
};

} // namespace

TEST_F(LiveServer, SignOnDirectoriesSizeDeleteAndQuit)
{
    FtpComponent& c = *owner;
    const std::string dir = env("QP_FTP_DIR");
    const std::string file = env("QP_FTP_FILE");

    ASSERT_TRUE(c.Run(FtpOperation::SignOn)) << c.LastReply();
    EXPECT_EQ(c.ReplyCode(), 230);
    EXPECT_TRUE(c.Connected());

    EXPECT_TRUE(c.Run(FtpOperation::PrintDir)) << c.LastReply();
    EXPECT_EQ(c.QuotedDir(), "/");

    c.HostDirName = dir;
    ASSERT_TRUE(c.Run(FtpOperation::ChangeDir)) << c.LastReply();
    EXPECT_TRUE(c.Run(FtpOperation::PrintDir)) << c.LastReply();
    const std::string here = c.QuotedDir();
    EXPECT_EQ(here, dir == "/" ? "/" : "/" + dir);

    c.HostDirName = "no-such-directory";
    EXPECT_FALSE(c.Run(FtpOperation::ChangeDir));
    EXPECT_EQ(c.ReplyCode(), 550);
    EXPECT_EQ(c.FailText(), c.LastReply());

    c.RemotePath = "made by test";
    ASSERT_TRUE(c.Run(FtpOperation::MakeDir)) << c.LastReply();
    EXPECT_EQ(c.ReplyCode(), 257);
    EXPECT_NE(c.QuotedDir().find("made by test"), std::string::npos) << c.QuotedDir();
    c.HostDirName = "made by test";
    EXPECT_TRUE(c.Run(FtpOperation::ChangeDir)) << c.LastReply();
    c.HostDirName = here;
    EXPECT_TRUE(c.Run(FtpOperation::ChangeDir)) << c.LastReply();
    EXPECT_TRUE(c.Run(FtpOperation::RemoveDir)) << c.LastReply();
    EXPECT_FALSE(c.Run(FtpOperation::RemoveDir));
    EXPECT_EQ(c.ReplyCode(), 550);

    c.TransferType = 'I';
    EXPECT_TRUE(c.Run(FtpOperation::TransferType)) << c.LastReply();
    c.RemotePath = file;
    ASSERT_TRUE(c.Run(FtpOperation::Size)) << c.LastReply();
    EXPECT_EQ(c.ReplyCode(), 213);
    EXPECT_EQ(c.ReportedSize(), std::atoll(env("QP_FTP_FILE_SIZE").c_str()));

    EXPECT_TRUE(c.Run(FtpOperation::Delete)) << c.LastReply();
    EXPECT_FALSE(c.Run(FtpOperation::Size));
    EXPECT_EQ(c.ReplyCode(), 550);
    EXPECT_FALSE(c.Run(FtpOperation::Delete));
    EXPECT_EQ(c.ReplyCode(), 550);

    EXPECT_TRUE(c.Run(FtpOperation::SignOff)) << c.LastReply();
    EXPECT_EQ(c.ReplyCode(), 221);
    EXPECT_FALSE(c.Connected());
    EXPECT_EQ(c.ControlSocket().State(), SocketState::Closed);
}

TEST_F(LiveServer, FullOperationsSignOnAndOff)
{
    FtpComponent& c = *owner;
    c.HostDirName = env("QP_FTP_DIR");
    c.RemotePath = "full op dir";
    ASSERT_TRUE(c.Run(FtpOperation::FullMakeDir)) << c.LastReply();
    EXPECT_EQ(c.ReplyCode(), 257);  // the MKD reply, not the QUIT reply
    EXPECT_FALSE(c.Connected());
    ASSERT_TRUE(c.Run(FtpOperation::FullRemoveDir)) << c.LastReply();
    EXPECT_EQ(c.ReplyCode(), 250);
    EXPECT_FALSE(c.Connected());

    c.HostDirName = "no-such-directory";
    EXPECT_FALSE(c.Run(FtpOperation::FullRemoveDir));
    EXPECT_EQ(c.ReplyCode(), 550);
    EXPECT_FALSE(c.Connected());  // QUIT still ran

    c.HostDirName = "";
    EXPECT_TRUE(c.Run(FtpOperation::FullSystemType)) << c.LastReply();
    EXPECT_EQ(c.ReplyCode(), 215);
}

TEST_F(LiveServer, WrongPasswordKeepsTheConnection)
{
    if (env("QP_FTP_CHECKS_PASSWORD") != "1") GTEST_SKIP() << "server takes any password";
    FtpComponent& c = *owner;
    c.Password = "wrong";
    EXPECT_FALSE(c.Run(FtpOperation::SignOn));
    EXPECT_EQ(c.ReplyCode(), 530);
    EXPECT_TRUE(c.Connected());
    EXPECT_TRUE(c.Run(FtpOperation::SignOff)) << c.LastReply();
    EXPECT_FALSE(c.Connected());
}
