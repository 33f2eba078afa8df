// A scripted FTP server for tests: listens on loopback only (127.0.0.1, or
// ::1), plays given reply texts and records the command lines it receives.
//
//   ScriptedServer srv({{"220 hi\r\n"}, {"331 pw\r\n", "230 ok\r\n"}});
//   ... client signs on ...
//   EXPECT_EQ(srv.commands(), (Lines{"USER u", "PASS p"}));
#pragma once
#include <winsock2.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Lines = std::vector<std::string>;

// Reply markers: answer nothing (and keep reading), or close the connection
// (alone, or at the end of a text: send the text, then close).
inline const std::string kSilent = "";
inline const std::string kCloseConnection = "\x01close";

struct ServerScript {
    // Sent one after another once the client is connected. Before each
    // chunk after the first the server waits `pauseMs`; a command arriving
    // in that pause is recorded as "<early>".
    Lines greeting;
    // replies[i] answers the i-th command line; after the list, silence.
    Lines replies;
    // When > 0, every text is sent as two TCP segments cut at this position.
    int splitAt = 0;
    int pauseMs = 150;
    // Where it listens: "127.0.0.1" or "::1", on a free port or the one given.
    std::string address = "127.0.0.1";
    unsigned port = 0;
};

class ScriptedServer {
public:
    explicit ScriptedServer(ServerScript script);
    ~ScriptedServer();

    unsigned port() const { return port_; }
    // The command lines received so far. Once the client has the reply to
    // its last command, that command is recorded.
    Lines commands();
    // Whether the connection has ended (client or script closed it).
    bool finished(int waitMs = 3000);

private:
    void run();
    bool sendText(SOCKET s, const std::string& text);
    void record(const std::string& line);

    ServerScript script_;
    SOCKET listener_ = INVALID_SOCKET;
    unsigned port_ = 0;
    bool stop_ = false;               // guarded by mutex_
    SOCKET conn_ = INVALID_SOCKET;    // guarded by mutex_
    std::mutex mutex_;
    std::condition_variable changed_;
    Lines commands_;
    bool finished_ = false;
    std::thread thread_;
};
