// One scripted server and one component on an owner thread, set up to
// sign on to it as "user" (FTPCTL_TRACE=1 shows the dialogue).
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

#include "component_owner.h"
#include "scripted_server.h"

namespace {

// Sets a component up to sign on to 127.0.0.1:port as "user".
void aim(ftp::FtpComponent& c, unsigned port, int waitSeconds = 5)
{
    c.Host = "127.0.0.1";
    c.Port = std::to_string(port);
    c.UserName = "user";
    c.Password = "secret";
    c.WaitSeconds = waitSeconds;
}

// One scripted server and one component set up to sign on to it.
struct Rig {
    ScriptedServer server;
    ComponentOwner owner;

    explicit Rig(ServerScript script, int waitSeconds = 5) : server(std::move(script))
    {
        aim(*owner, server.port(), waitSeconds);
        // FTPCTL_TRACE=1 shows the dialogue and the state changes.
        if (std::getenv("FTPCTL_TRACE")) {
            owner->OnDisplay = [](const std::string& t) { std::fprintf(stderr, "%s\n", t.c_str()); };
            owner->OnStateChange = [](ftp::FtpState a, ftp::FtpState b) {
                std::fprintf(stderr, "[%s -> %s]\n", ftp::ftpStateName(a), ftp::ftpStateName(b));
            };
        }
    }
    ftp::FtpComponent& c() { return *owner; }
};

} // namespace
