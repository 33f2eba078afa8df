// The upload run: connect, enter the target folder, wait for the system-wide
// "FTPUPLOAD" title, upload every file of the command line with the
// upload-window program informed, keep the history, check the addresses
// where asked to and put those that serve their file into the clipboard.
// Every path ends the program.
#include "app/upload_run.h"

#include <windows.h>
#include <string>
#include <vector>

#include "app/address.h"
#include "app/address_check.h"
#include "app/address_report.h"
#include "app/certificate_trust.h"
#include "app/folder_select.h"
#include "app/history.h"
#include "app/server_session.h"
#include "app/state.h"
#include "app/tls_message.h"
#include "app/upload_window_program.h"
#include "ftp/ftp_command.h"
#include "runtime/events.h"
#include "runtime/files.h"
#include "runtime/foreign.h"
#include "runtime/process.h"
#include "runtime/strings.h"
#include "runtime/system.h"
#include "runtime/windows.h"

namespace app {

namespace {

constexpr unsigned kStopBox = 16;      // stop icon, OK
constexpr unsigned kQuestionBox = 0x34; // exclamation icon, Yes and No
constexpr int kNo = 7;

int ftpInt(const std::string& name, const std::vector<rt::Value>& args = {})
{
    return ftp::FtpCommand(name, args).i;
}

// Why the stored copy was not the file, for the final message: the server's
// hash of it differed from the bytes sent.
std::string mismatchReason(const std::string& algorithm)
{
    if (algorithm.empty())
        return {};
    return "\r\n\r\nDie Datei auf dem Server weicht von der gesendeten ab (Prüfsumme " + algorithm + ").";
}

// Kept to the end of the run, so that a final failure can end it.
UploadWindowProgram uploadWindowProcess;

// Every end of the run: the upload-window program is let go of.
[[noreturn]] void endRun()
{
    uploadWindowProcess.close();
    rt::endProgram();
}

[[noreturn]] void failAndEnd(const std::string& text)
{
    rt::msgBox(text, "Fehler:", kStopBox);
    endRun();
}

[[noreturn]] void disconnectAndEnd()
{
    ftp::FtpCommand("Disconnect");
    endRun();
}

// The overwrite question (Ask 1) for a file that exists on the server with
// more than 0 bytes; No ends the run, the files before stay uploaded. False
// when the connection went while asking, so nothing is known.
bool askOverwrite(const std::string& remoteName)
{
    const int size = ftpInt("GetFileSize", {rt::Value(remoteName)});
    if (size < 0 && !ftp::controlConnectionOpen())
        return false;
    if (size > 0 && rt::msgBox("Soll die Datei " + remoteName + " überschrieben werden?", "Achtung:",
                               kQuestionBox) == kNo)
        disconnectAndEnd();
    return true;
}

// The addresses are the result of the run: when another program keeps the
// clipboard, they are shown so they can be read off.
void putIntoClipboard(const std::string& text)
{
    rt::callByName("USER32", "OpenClipboard", {0});
    rt::callByName("USER32", "EmptyClipboard");
    rt::callByName("USER32", "CloseClipboard");
    if (!rt::setClipboardText(text))
        rt::msgBox("Die Adressen konnten nicht in die Zwischenablage kopiert werden!\r\n\r\n" + text,
                   "Fehler:", kStopBox);
}

// After the last file: the addresses that serve their file go into the
// clipboard, one per line; the others are named in a box with the reason.
// With none served, the clipboard keeps what it held.
void deliverAddresses(const std::vector<std::string>& addresses, AddressChecks* checks)
{
    const std::vector<AddressVerdict> verdicts = checks ? checks->collect() : std::vector<AddressVerdict>{};
    std::string clipText;
    std::vector<FailedAddress> failed;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (checks && verdicts[i].problem != AddressProblem::None) {
            failed.push_back({addresses[i], verdicts[i]});
            continue;
        }
        if (!clipText.empty())
            clipText += "\r\n";
        clipText += addresses[i];
    }
    if (!clipText.empty())
        putIntoClipboard(clipText);
    if (!failed.empty())
        rt::msgBox(failedAddressesText(failed), "Fehler:", kStopBox);
}

// The run's first sign-on; every refusal ends the run with its box. A
// configured folder that does not exist leaves the root when the folder
// window follows.
void signOnForRun(UploadSettings& set)
{
    SignOnResult signedOn = signOn(kFirstSignOn, set.ServerDirectory);
    // A certificate the user trusts from now on: the same sign-on once more.
    if (signedOn == SignOnResult::TlsRefused && trustRefusedCertificate())
        signedOn = signOn(kFirstSignOn, set.ServerDirectory);
    switch (signedOn) {
    case SignOnResult::TlsRefused:
        failAndEnd(tlsRefusalText());
    case SignOnResult::NotConnected:
        failAndEnd("Es konnte keine Verbindung zum Server aufgebaut werden!");
    case SignOnResult::FolderRefused:
        if (!rt::trim(set.ServerDirectory).empty() && set.DirSel == 0) {
            rt::msgBox("Das angebene Verzeichnis existiert nicht!\r\n\r\n" + set.ServerDirectory,
                       "Fehler:", kStopBox);
            disconnectAndEnd();
        }
        set.ServerDirectory.clear();
        break;
    case SignOnResult::RootRefused:  // not on the first sign-on's way
    case SignOnResult::Done:
        break;
    }
}

// One file, in up to three real attempts, each on a standing connection in
// the run's folder; a failed reconnection is a failed attempt. The later
// ones build on what the earlier ones left on the server: a copy that may
// be whole is checked, a shorter one continued. A file that fails every
// attempt ends the run.
void storeWithAttempts(const std::string& path, const std::string& remoteName, bool overwriteSettled)
{
    const UploadSettings& set = state().uploadSettings;
    int uploadResult = 0;
    std::string mismatch;  // the hash an attempt found differing on the server
    for (int attempt = 1; uploadResult == 0 && attempt <= kTries; ++attempt) {
        if (attempt > 1)
            pauseWithEvents(kPauseBetweenTriesMs);
        if (!reconnectToRunFolder())
            continue;
        if (!overwriteSettled) {
            overwriteSettled = askOverwrite(remoteName);
            if (!overwriteSettled)
                continue;  // the connection went again: a failed attempt
        }
        uploadResult = ftpInt("Upload", {rt::Value(path), rt::Value(remoteName), rt::Value(attempt > 1 ? 1 : 0)});
        if (uploadResult == 0 && !ftp::lastUploadMismatch().empty())
            mismatch = ftp::lastUploadMismatch();
        // A server that insists on resumed TLS sessions refuses every
        // attempt alike; its reply names the cause.
        if (uploadResult == 0 && isSessionReuseRefusal(ftp::lastReplyCode(), ftp::lastReplyText())) {
            rt::msgBox(sessionReuseMessage(set.ServerName, ftp::lastReplyText(), remoteName), "Fehler:",
                       kStopBox);
            uploadWindowProcess.terminate();
            endRun();
        }
    }
    if (uploadResult == 0) {
        rt::msgBox("Der Upload ist fehlgeschlagen!\r\n\r\n" + remoteName + mismatchReason(mismatch), "Fehler:",
                   kStopBox);
        uploadWindowProcess.terminate();
        endRun();
    }
}

} // namespace

void runUpload()
{
    ProgramState& st = state();
    UploadSettings& set = st.uploadSettings;

    signOnForRun(set);
    st.chosenDirectoryOnServer = ftp::serverName(set.ServerDirectory);
    if (set.DirSel > 0)
        runFolderSelection();

    // One upload at a time on this machine: the title stays ours until the
    // process ends.
    while (rt::findWindow("FTPUPLOAD") != 0)
        pauseWithEvents(300);
    rt::setWindowTitle("FTPUPLOAD");

    // Many servers refuse SIZE in ASCII mode; the overwrite question must not
    // silently pass over the first file because of that.
    if (set.Ask == 1)
        ftp::FtpCommand("SetBinary", {rt::Value(1)});

    std::vector<std::string> addresses;  // of the files stored so far, in their order
    AddressChecks checks;                // started as each file is stored
    std::vector<std::string> uploadedNames;  // this run's files, never deleted by the history step
    for (st.currentFile = 1; st.currentFile <= st.fileCount; ++st.currentFile) {
        const std::string& path = st.fileList[st.currentFile];
        const std::string remoteName = remoteNameOf(path);
        const bool last = st.currentFile == st.fileCount;
        const std::string more = last ? "0" : "1";

        // A connection that went while the run waited (an idle server) is
        // made again before anything is asked. Without one, whether the file
        // exists is unknown: it is asked before the first attempt that has
        // a connection, never skipped.
        bool overwriteSettled = set.Ask != 1;
        if (!overwriteSettled && reconnectToRunFolder())
            overwriteSettled = askOverwrite(remoteName);

        const std::int64_t bytes = rt::fileSize(path);
        const std::string size = std::to_string(bytes);
        if (st.currentFile == 1) {
            const std::string dir = rt::trim(set.ServerDirectory).empty() ? "?" : set.ServerDirectory;
            // No password: the program reads it from the configuration, where
            // no process list shows it.
            uploadWindowProcess.start("getsize.exe " + remoteName + " " + size + " " +
                                      std::to_string(rt::mainWindow()) + " " + std::to_string(st.configNumber) +
                                      " " + more + " " + std::to_string(st.uploadWindowChannel) + " " + dir);
        } else {
            rt::setText(st.uploadWindowChannel, remoteName + " " + size + " " + more);
        }

        storeWithAttempts(path, remoteName, overwriteSettled);

        if (set.DelOld != 0)
            historyStep(remoteName, uploadedNames);
        uploadedNames.push_back(remoteName);

        // The web folder is taken in the server's naming, like the file: the
        // web server serves the same bytes from its disk.
        if (set.UseClipboardFunction != 0) {
            const std::string dir = set.DirSel != 0 ? st.chosenDirectoryOnServer
                                                    : ftp::serverName(set.ServerWWWDirectory);
            addresses.push_back(fileAddress(set.ServerWWWName, dir, ftp::serverName(remoteName)));
            if (set.CheckAddress != 0)
                checks.start(addresses.back(), bytes);
        }
    }

    if (set.UseClipboardFunction != 0)
        deliverAddresses(addresses, set.CheckAddress != 0 ? &checks : nullptr);
    disconnectAndEnd();
}

} // namespace app
