#include "app/server_session.h"

#include "app/state.h"
#include "ftp/ftp_command.h"
#include "runtime/strings.h"

namespace app {
namespace {

bool setDir(const std::string& dir)
{
    return ftp::FtpCommand("SetDir", {rt::Value(dir)}).i != 0;
}

} // namespace

void signOnToServer()
{
    const UploadSettings& set = state().uploadSettings;
    if (!rt::trim(set.ProxyServer).empty())
        ftp::FtpCommand("SetProxy", {rt::Value(set.ProxyServer), rt::Value(set.ProxyPort)});
    if (set.PassiveMode != 0)
        ftp::FtpCommand("SetPassive", {rt::Value(1)});
    if (set.UseTLS != 0)
        ftp::FtpCommand("SetTls", {rt::Value(1)});
    ftp::FtpCommand("Connect", {rt::Value(set.Username), rt::Value(set.Password),
                                rt::Value(set.ServerName), rt::Value(set.ServerPort)});
}

bool reconnectToRunFolder()
{
    if (ftp::controlConnectionOpen()) return true;
    const UploadSettings& set = state().uploadSettings;
    signOnToServer();
    if (ftp::connectedFlag() != 1 || !setDir("/")) return false;
    if (!set.ServerDirectory.empty() && !setDir(set.ServerDirectory)) return false;
    // The overwrite question needs SIZE, which many servers answer only in
    // binary mode; the run set it once at its start.
    if (set.Ask == 1) ftp::FtpCommand("SetBinary", {rt::Value(1)});
    return true;
}

} // namespace app
