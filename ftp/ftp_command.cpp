// The FTP command interface over the process's one FtpComponent. The
// component is created on the GUI thread at start-up; FtpCommand runs on the
// program thread and uses the component's synchronous operations, which hand
// the work to the GUI thread and wait. The interface's own state (connected
// flag, last reply, proxy texts) lives on the program thread only.
#include "ftp/ftp_command.h"

#include <algorithm>
#include <climits>
#include <map>
#include <memory>

#include "ftp/ftp_component.h"
#include "ftp/local_hash.h"
#include "ftp/name_encoding.h"
#include "ftp/next_attempt.h"
#include "runtime/errors.h"
#include "runtime/params.h"
#include "runtime/process.h"
#include "runtime/strings.h"

namespace ftp {
namespace {

using Procedure = std::function<rt::Value(const std::vector<rt::Value>&)>;

struct InterfaceState {
    int connected = 0;
    SignOnFailure signOnFailure = SignOnFailure::None;
    int lastCode = 0;
    std::string lastText;
    std::string proxyHost;
    std::string proxyPort;
    std::string defaultUser = "anonymous";
    std::string defaultPassword = "quillpost@localhost";
    int waitLimit = 15;
    std::map<std::string, Procedure> procedures;
};

InterfaceState& state()
{
    static InterfaceState s;
    return s;
}

// Created before the program thread starts and destroyed after it ended, so
// the program thread always sees it set.
std::unique_ptr<FtpComponent>& component()
{
    static std::unique_ptr<FtpComponent> c;
    return c;
}

std::string lowerAscii(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : char(c);
    });
    return s;
}

std::string textArg(const std::vector<rt::Value>& args, std::size_t i)
{
    return i < args.size() ? args[i].s : std::string();
}

int numberArg(const std::vector<rt::Value>& args, std::size_t i)
{
    return i < args.size() ? args[i].i : 0;
}

void copyReply(const FtpComponent& c)
{
    state().lastCode = c.ReplyCode();
    state().lastText = c.LastReply();
}

// A file size as a value: the integer part is held at the top of its range so
// a huge file never reads as missing or empty; the text part is exact.
rt::Value sizeValue(std::int64_t size)
{
    rt::Value v(std::int32_t(size > INT32_MAX ? INT32_MAX : size));
    v.s = std::to_string(size);
    return v;
}

// A sign-off without a control connection could only wait out the whole
// wait limit, since nothing is sent; it is skipped then.
void signOffIfConnected(FtpComponent& c)
{
    if (c.Connected()) c.Run(FtpOperation::SignOff);
}

rt::Value connect(FtpComponent& c, const std::vector<rt::Value>& args)
{
    InterfaceState& st = state();
    if (st.connected) signOffIfConnected(c);
    c.WaitSeconds = st.waitLimit;
    c.ProxyHost = st.proxyHost;
    c.ProxyPort = st.proxyPort;
    c.UserName = args.size() > 0 ? args[0].s : st.defaultUser;
    c.Password = args.size() > 1 ? args[1].s : st.defaultPassword;
    c.Host = textArg(args, 2);
    c.Port = textArg(args, 3);
    c.UseProxy = st.proxyPort.empty() ? 0 : 1;
    bool ok = c.Run(FtpOperation::SignOn);
    copyReply(c);
    if (ok) {
        c.AfterLogin();
        // A server that never answered FEAT has been cut off by the wait.
        ok = c.Connected();
    }
    st.signOnFailure = ok ? SignOnFailure::None : classifySignOn(c.SignOnFacts());
    st.connected = ok ? 1 : 0;
    if (!ok) signOffIfConnected(c);
    return rt::Value(ok ? 1 : 0);
}

// Binary type for a transfer; the TYPE reply does not decide anything.
void binaryType(FtpComponent& c)
{
    c.TransferType = 'I';
    c.Run(FtpOperation::TransferType);
}

// A name argument on its way to the server.
std::string nameArg(const FtpComponent& c, const std::vector<rt::Value>& args, std::size_t i)
{
    const std::string name = textArg(args, i);
    return c.Utf8Names() ? utf8FromCp1252(name) : name;
}

// A directory argument, taken as the server's own bytes when the argument
// after it is not 0.
std::string directoryArg(const FtpComponent& c, const std::vector<rt::Value>& args)
{
    return numberArg(args, 1) != 0 ? textArg(args, 0) : nameArg(c, args, 0);
}

// ---- the subcommands, one function each ------------------------------------

using Args = std::vector<rt::Value>;

rt::Value withReply(FtpComponent& c, bool ok)
{
    copyReply(c);
    return rt::Value(ok ? 1 : 0);
}

rt::Value setProxy(FtpComponent*, const Args& args)
{
    state().proxyHost = textArg(args, 0);
    state().proxyPort = textArg(args, 1);
    return rt::Value(0);
}

rt::Value connectTo(FtpComponent* c, const Args& args) { return connect(*c, args); }

rt::Value setPassive(FtpComponent* c, const Args& args)
{
    const int previous = c->PassiveTransfers ? 1 : 0;
    c->PassiveTransfers = numberArg(args, 0) != 0;
    copyReply(*c);
    return rt::Value(previous);
}

rt::Value setBinary(FtpComponent* c, const Args& args)
{
    const int previous = c->TransferType == 'I' ? 1 : 0;
    c->TransferType = numberArg(args, 0) != 0 ? 'I' : 'A';
    c->Run(FtpOperation::TransferType);
    copyReply(*c);
    return rt::Value(previous);
}

rt::Value setTls(FtpComponent* c, const Args& args)
{
    const int previous = static_cast<int>(c->Tls);
    const int mode = numberArg(args, 0);
    c->Tls = mode == 0 ? TlsMode::None : mode == 2 ? TlsMode::Implicit : TlsMode::Explicit;
    return rt::Value(previous);
}

rt::Value setTrust(FtpComponent* c, const Args& args)
{
    const std::string text = rt::trim(textArg(args, 0));
    const std::optional<std::string> hash = parseFingerprint(text);
    c->TrustedCertificate = hash.value_or("");
    return rt::Value(text.empty() || hash ? 1 : 0);
}

rt::Value disconnect(FtpComponent* c, const Args&)
{
    if (!c->Connected()) {
        // Nothing to sign off from: the connection is gone already.
        state().connected = 0;
        return withReply(*c, false);
    }
    const bool ok = c->Run(FtpOperation::SignOff);
    state().connected = ok ? 0 : 1;
    return withReply(*c, ok);
}

rt::Value getFileSize(FtpComponent* c, const Args& args)
{
    c->RemotePath = nameArg(*c, args, 0);
    const bool ok = c->Run(FtpOperation::Size);
    copyReply(*c);
    // A 213 without a number reads as 0, as it always has.
    return ok ? sizeValue(sizeInReply(c->LastReply()).value_or(0)) : rt::Value(-1);
}

rt::Value getDir(FtpComponent* c, const Args&)
{
    const bool ok = c->Run(FtpOperation::PrintDir);
    copyReply(*c);
    if (!ok) return rt::Value(std::string());
    return rt::Value(c->Utf8Names() ? cp1252FromUtf8(c->LastReply()) : c->LastReply());
}

rt::Value download(FtpComponent* c, const Args& args)
{
    c->RemotePath = nameArg(*c, args, 0);
    c->LocalFileName = textArg(args, 1);
    binaryType(*c);
    return withReply(*c, c->Run(FtpOperation::GetFile));
}

// A further attempt at a file whose copy on the server this run has
// written: a copy that may be whole is checked first (nothing is sent when
// it is), a shorter one is continued where REST STREAM is offered, anything
// else is sent again from byte 0 (next_attempt.h).
bool uploadAgain(FtpComponent& c)
{
    AttemptRecord record = c.Attempts();
    if (worthChecking(record)) {
        if (c.Run(FtpOperation::CheckStored)) return true;
        if (!c.Connected()) return false;
        record = c.Attempts();
    }
    std::int64_t offset = 0;
    if (mayResume(record, c.Features().restStream)) {
        const std::int64_t serverSize = c.Run(FtpOperation::Size) ? c.ReportedSize() : -1;
        if (!c.Connected()) return false;
        offset = resumeOffset(record, true, serverSize, identityOf(c.LocalFileName).size);
    }
    if (offset == 0) return c.Run(FtpOperation::PutFile);
    c.SetRestartOffset(offset);
    return c.Run(FtpOperation::RestartPut);
}

rt::Value upload(FtpComponent* c, const Args& args)
{
    c->LocalFileName = textArg(args, 0);
    c->RemotePath = nameArg(*c, args, 1);
    binaryType(*c);
    c->LearnHashCheck();
    c->ClearUploadMismatch();
    // The transfer counts only when SIZE then names every byte sent (and
    // the server's hash matches where it offers one).
    c->AttemptAgain = numberArg(args, 2) != 0 && c->AttemptsAreFor(c->LocalFileName, c->RemotePath);
    const bool ok = c->AttemptAgain ? uploadAgain(*c) : c->Run(FtpOperation::PutFile);
    c->AttemptAgain = false;
    return withReply(*c, ok);
}

rt::Value deleteFile(FtpComponent* c, const Args& args)
{
    c->RemotePath = c->HostDirName = nameArg(*c, args, 0);
    return withReply(*c, c->Run(FtpOperation::Delete));
}

rt::Value rename(FtpComponent* c, const Args& args)
{
    c->RemotePath = c->HostDirName = nameArg(*c, args, 0);
    c->LocalFileName = nameArg(*c, args, 1);
    return withReply(*c, c->Run(FtpOperation::Rename));
}

rt::Value listDir(FtpComponent* c, const Args& args)
{
    if (textArg(args, 0).empty()) return rt::Value(0);
    c->LocalFileName = textArg(args, 0);
    c->RemotePath.clear();
    return withReply(*c, c->Run(FtpOperation::ListToFile));
}

rt::Value setDir(FtpComponent* c, const Args& args)
{
    c->HostDirName = directoryArg(*c, args);
    return withReply(*c, c->Run(FtpOperation::ChangeDir));
}

rt::Value makeDir(FtpComponent* c, const Args& args)
{
    c->RemotePath = nameArg(*c, args, 0);
    return withReply(*c, c->Run(FtpOperation::MakeDir));
}

rt::Value deleteDir(FtpComponent* c, const Args& args)
{
    c->RemotePath = c->HostDirName = directoryArg(*c, args);
    return withReply(*c, c->Run(FtpOperation::RemoveDir));
}

// What a subcommand needs before it runs. Without it the subcommand gives
// its failure result at once and leaves the last reply as it is.
enum class Needs {
    Nothing,     // setproxy: no component, no traffic
    Component,   // runs whatever the connected flag
    Connection,  // the connected flag must be 1
};

// A subcommand's result when it fails, or cannot run.
enum class Fails { Zero, MinusOne, EmptyText };

struct Subcommand {
    const char* name;
    Needs needs;
    Fails fails;
    rt::Value (*run)(FtpComponent* c, const Args& args);
};

constexpr Subcommand kSubcommands[] = {
    {"setproxy", Needs::Nothing, Fails::Zero, setProxy},
    {"connect", Needs::Component, Fails::Zero, connectTo},
    {"setpassive", Needs::Component, Fails::Zero, setPassive},
    {"setbinary", Needs::Component, Fails::Zero, setBinary},
    {"settls", Needs::Component, Fails::Zero, setTls},
    {"settrust", Needs::Component, Fails::Zero, setTrust},
    {"disconnect", Needs::Component, Fails::Zero, disconnect},
    {"getfilesize", Needs::Connection, Fails::MinusOne, getFileSize},
    {"getdir", Needs::Connection, Fails::EmptyText, getDir},
    {"download", Needs::Connection, Fails::Zero, download},
    {"upload", Needs::Connection, Fails::Zero, upload},
    {"deletefile", Needs::Connection, Fails::Zero, deleteFile},
    {"rename", Needs::Connection, Fails::Zero, rename},
    {"listdir", Needs::Connection, Fails::Zero, listDir},
    {"setdir", Needs::Connection, Fails::Zero, setDir},
    {"makedir", Needs::Connection, Fails::Zero, makeDir},
    {"deletedir", Needs::Connection, Fails::Zero, deleteDir},
};

const Subcommand* findSubcommand(const std::string& cmd)
{
    for (const Subcommand& sub : kSubcommands)
        if (cmd == sub.name) return &sub;
    return nullptr;
}

rt::Value failedResult(const Subcommand& sub)
{
    switch (sub.fails) {
    case Fails::MinusOne: return rt::Value(-1);
    case Fails::EmptyText: return rt::Value(std::string());
    case Fails::Zero: break;
    }
    return rt::Value(0);
}

} // namespace

rt::Value FtpCommand(const std::string& name, const std::vector<rt::Value>& args)
{
    InterfaceState& st = state();
    // The arguments are the parameters of this call, as for any procedure;
    // a named procedure may read them there too.
    const rt::ParamFrame frame(args);
    const std::string cmd = lowerAscii(name);
    const Subcommand* sub = findSubcommand(cmd);
    if (!sub) {
        auto it = st.procedures.find(cmd);
        if (it != st.procedures.end()) return it->second(args);
        rt::raiseError(263, name);
        return rt::Value(0);
    }
    FtpComponent* c = component().get();
    if (sub->needs != Needs::Nothing && !c) return failedResult(*sub);
    if (sub->needs == Needs::Connection && !st.connected) return failedResult(*sub);
    try {
        return sub->run(c, args);
    } catch (const std::exception&) {
        return failedResult(*sub);
    }
}

std::string serverName(const std::string& name)
{
    const FtpComponent* c = component().get();
    return c && c->Utf8Names() ? utf8FromCp1252(name) : name;
}

std::string displayName(const std::string& serverBytes)
{
    const FtpComponent* c = component().get();
    return c && c->Utf8Names() ? cp1252FromUtf8(serverBytes) : serverBytes;
}

int connectedFlag() { return state().connected; }

bool controlConnectionOpen()
{
    const FtpComponent* c = component().get();
    return c && c->Connected();
}
int lastReplyCode() { return state().lastCode; }
SignOnFailure lastSignOnFailure() { return state().signOnFailure; }

std::string lastUploadMismatch()
{
    const FtpComponent* c = component().get();
    return c ? c->UploadMismatch() : std::string();
}
std::string lastReplyText() { return state().lastText; }

TlsFailure lastTlsFailure()
{
    FtpComponent* c = component().get();
    return c ? c->LastTlsFailure() : TlsFailure{};
}

void registerNamedProcedure(const std::string& name, Procedure proc)
{
    state().procedures[lowerAscii(name)] = std::move(proc);
}

void setDisplayHook(std::function<void(const std::string&)> hook)
{
    if (component()) component()->OnDisplay = std::move(hook);
}

void startupComponent()
{
    if (component()) return;
    try {
        component() = std::make_unique<FtpComponent>();
    } catch (const std::exception&) {
        // Without its windows the component cannot work; every subcommand
        // then reports failure.
    }
}

void shutdownComponent()
{
    std::unique_ptr<FtpComponent>& c = component();
    if (!c) return;
    if (state().connected) {
        try {
            signOffIfConnected(*c);
        } catch (const std::exception&) {
        }
    }
    c.reset();
    state().connected = 0;
}

void installIntoRuntime()
{
    rt::setComponentHooks(startupComponent, shutdownComponent);
}

} // namespace ftp
