// The FTP command interface. Interim form: the component behind it is not
// built yet, so every subcommand that needs the network refuses with a
// failure result; setproxy, setpassive, the named-procedure table and the
// runtime hooks already behave as they will.
#include "ftp/ftp_command.h"

#include <algorithm>
#include <map>
#include "runtime/errors.h"
#include "runtime/process.h"

namespace ftp {
namespace {

struct InterfaceState {
    int connected = 0;
    int lastCode = 0;
    std::string lastText;
    std::string proxyHost;
    std::string proxyPort;
    bool passive = false;
    std::map<std::string, std::function<rt::Value(const std::vector<rt::Value>&)>> procedures;
};

InterfaceState& state()
{
    static InterfaceState s;
    return s;
}

std::string lowerAscii(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : char(c);
    });
    return s;
}

std::string textArg(const std::vector<rt::Value>& args, size_t i)
{
    return i < args.size() ? args[i].s : std::string();
}

} // namespace

rt::Value FtpCommand(const std::string& name, const std::vector<rt::Value>& args)
{
    InterfaceState& st = state();
    const std::string cmd = lowerAscii(name);
    if (cmd == "setproxy") {
        st.proxyHost = textArg(args, 0);
        st.proxyPort = textArg(args, 1);
        return rt::Value(0);
    }
    if (cmd == "setpassive") {
        int previous = st.passive ? 1 : 0;
        st.passive = !args.empty() && args[0].i != 0;
        return rt::Value(previous);
    }
    if (cmd == "getfilesize")
        return rt::Value(-1);
    if (cmd == "getdir")
        return rt::Value(std::string());
    if (cmd == "connect" || cmd == "download" || cmd == "upload" || cmd == "deletefile" ||
        cmd == "rename" || cmd == "listdir" || cmd == "setdir" || cmd == "makedir" ||
        cmd == "deletedir" || cmd == "setbinary" || cmd == "disconnect")
        return rt::Value(0);

    auto it = st.procedures.find(cmd);
    if (it != st.procedures.end())
        return it->second(args);
    rt::raiseError(263, name);
    return rt::Value(0);
}

int connectedFlag() { return state().connected; }
int lastReplyCode() { return state().lastCode; }
std::string lastReplyText() { return state().lastText; }

void registerNamedProcedure(const std::string& name,
                            std::function<rt::Value(const std::vector<rt::Value>&)> proc)
{
    state().procedures[lowerAscii(name)] = std::move(proc);
}

void startupComponent() {}
void shutdownComponent() {}

void installIntoRuntime()
{
    rt::setComponentHooks(startupComponent, shutdownComponent);
}

} // namespace ftp
