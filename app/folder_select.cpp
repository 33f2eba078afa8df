// The folder-selection window. The hidden main window is refitted with a
// folder list, a history box and buttons and driven by a polling loop on the
// program thread: every 20 ms it looks at the last command or close request,
// at the focus and at the key and mouse state, and reacts.
#include "app/folder_select.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>
#include <windows.h>

#include "app/folder_logic.h"
#include "app/state.h"
#include "ftp/ftp_command.h"
#include "runtime/runtime.h"

namespace app {

namespace {

using folders::DirSlots;

constexpr int kListingFileNumber = 9;
constexpr int kNewFolderId = 1001;
constexpr int kPictureId = 31000;

constexpr int kVkMouseLeft = 1, kVkBack = 8, kVkTab = 9, kVkReturn = 13, kVkEscape = 27, kVkDelete = 46;

// ---- Windows functions called by name (they run on the GUI thread) ----

std::intptr_t sendMessage(rt::Handle window, unsigned message, rt::Arg wParam, rt::Arg lParam)
{
    return rt::callByName("USER32", "SendMessageA", {rt::Arg(window), rt::Arg(message), wParam, lParam});
}

// GetAsyncKeyState returns a SHORT; the upper half of the register is not
// part of the result.
bool keyDown(int virtualKey)
{
    const auto state = static_cast<std::int16_t>(rt::callByName("USER32", "GetAsyncKeyState", {virtualKey}));
    return std::abs(static_cast<int>(state)) > 1;
}

std::uint32_t tickCount()
{
    return static_cast<std::uint32_t>(rt::callByName("KERNEL32", "GetTickCount"));
}

POINT cursorPosition()
{
    POINT pt{0, 0};
    rt::callByName("USER32", "GetCursorPos", {&pt});
    return pt;
}

// WindowFromPoint takes the POINT by value: two stack slots on i686, one
// register holding y:x on x86_64.
rt::Handle windowFromPoint(POINT pt)
{
#ifdef _WIN64
    const std::uint64_t packed = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(pt.y)) << 32) |
                                 static_cast<std::uint32_t>(pt.x);
    const auto r = rt::callByName("USER32", "WindowFromPoint",
                                  {rt::Arg(reinterpret_cast<void*>(static_cast<std::uintptr_t>(packed)))});
#else
    const auto r = rt::callByName("USER32", "WindowFromPoint", {pt.x, pt.y});
#endif
    return static_cast<rt::Handle>(r);
}

rt::Handle foregroundWindow()
{
    return static_cast<rt::Handle>(rt::callByName("USER32", "GetForegroundWindow"));
}

// ---- Waiting ----

// The last registered message (command or close request) seen in a pause.
struct UserEvent {
    std::uint32_t message = 0;
    std::uint32_t wParam = 0;
    std::uint32_t lParam = 0;
};

// Whether the last wait ended with a registered message in the variables.
bool lastWaitHadEvent = false;

// Pauses `ms` milliseconds while the GUI thread handles its messages: a
// timer on the main window and waits for the next event until it fired.
// Each wait clears the user message number when it starts, so the last
// registered message is collected here: from the waits, and from the time
// before the first one, when the program was busy and the last wait had
// seen nothing (else the variables still hold what it saw).
UserEvent pauseWithEvents(int ms)
{
    UserEvent ev;
    if (!lastWaitHadEvent && rt::userMessage() != 0)
        ev = {rt::userMessage(), rt::userWParam(), rt::userLParam()};
    rt::takeTimerFlag();
    rt::startTimer(ms);
    for (;;) {
        rt::waitNextEvent();
        lastWaitHadEvent = rt::userMessage() != 0;
        if (lastWaitHadEvent) ev = {rt::userMessage(), rt::userWParam(), rt::userLParam()};
        if (rt::takeTimerFlag()) break;
    }
    rt::stopTimer();
    return ev;
}

// ---- The window ----

struct Controls {
    rt::Handle main = 0;
    rt::Handle prompt = 0, pathLabel = 0, frame = 0, picture = 0, list = 0;
    rt::Handle historySwitch = 0, newFolder = 0, historyBox = 0, separator = 0;
    rt::Handle hint = 0, cancel = 0, upload = 0;
    rt::Handle normalFont = 0, boldFont = 0;
};

// Tahoma of cell height 12: at 13 the bold prompt and "aus Verlauf" do not
// fit their rectangles.
rt::Handle makeFont(bool bold)
{
    return rt::create("font", {rt::Value("Tahoma"), rt::Value(12), rt::Value(0), rt::Value(bold ? 1 : 0),
                               rt::Value(0), rt::Value(0)});
}

rt::Handle makeText(rt::Handle parent, const std::string& text, int x, int y, int w, int h)
{
    return rt::create("text", {rt::Value(parent), rt::Value(text), rt::Value(x), rt::Value(y), rt::Value(w),
                               rt::Value(h)});
}

rt::Handle makeButton(rt::Handle parent, const std::string& text, int x, int y, int w, int h)
{
    return rt::create("button", {rt::Value(parent), rt::Value(text), rt::Value(x), rt::Value(y), rt::Value(w),
                                 rt::Value(h)});
}

void setFont(rt::Handle window, rt::Handle font)
{
    sendMessage(window, WM_SETFONT, rt::Arg(font), rt::Arg(1));
}

std::string dirsKey(int slot) { return "Dirs" + std::to_string(slot); }

void writeDirs(int slot)
{
    ProgramState& st = state();
    rt::iniWrite(st.iniPath, sectionName(st.configNumber), dirsKey(slot), st.dirHistory[slot]);
}

std::string currentLabel(const Controls& c, bool historyMode)
{
    const UploadSettings& us = state().uploadSettings;
    return folders::pathLabel(us.ServerName, historyMode ? rt::getText(c.historyBox) : us.ServerDirectory);
}

void build(Controls& c)
{
    ProgramState& st = state();
    c.normalFont = makeFont(false);
    rt::setCurrentFont(c.normalFont);
    c.boldFont = makeFont(true);

    c.main = rt::mainWindow();
    rt::setBackground(static_cast<std::uint32_t>(rt::callByName("USER32", "GetSysColor", {COLOR_BTNFACE})));
    rt::setWindowPosition(rt::screenWidth() / 2 - 250, rt::screenHeight() / 2 - 155, 500, 311);
    rt::setWindowTitle("Quillpost 1.2 - Ordnerauswahl");

    c.prompt = makeText(c.main, "Wählen Sie den gewünschten Zielordner:", 88, 11, 230, 16);
    setFont(c.prompt, c.boldFont);
    c.pathLabel = makeText(c.main, currentLabel(c, false), 88, 32, 280, 16);

    c.frame = rt::createControl("STATIC", "", 0x54000100, 10, 8, 70, 229, c.main, 1010, WS_EX_STATICEDGE);
    c.picture = rt::createControl("STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP, 12, 10, 66, 225, c.main,
                                  kPictureId, WS_EX_TRANSPARENT);
    const auto bitmap = rt::callByName("USER32", "LoadImageA",
                                       {rt::instance(), "INFO", IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS});
    sendMessage(c.picture, STM_SETIMAGE, rt::Arg(IMAGE_BITMAP), rt::Arg(reinterpret_cast<void*>(bitmap)));

    c.list = rt::createControl("LISTBOX", "", 0x54210143, 88, 56, 400, 154, c.main, 1011, 0x300);
    rt::listAdd(c.list, "Lese Verzeichnis...");
    c.historySwitch = rt::createControl("Button", "aus Verlauf", 0x54010003, 88, 217, 75, 20, c.main, 1012);
    c.newFolder = rt::createControl("button", "", 0x50000040, 462, 215, 26, 23, c.main, kNewFolderId,
                                    WS_EX_STATICEDGE);
    const auto icon = rt::callByName("USER32", "LoadIconA", {rt::instance(), "MUELL"});
    sendMessage(c.newFolder, BM_SETIMAGE, rt::Arg(IMAGE_ICON), rt::Arg(reinterpret_cast<void*>(icon)));
    c.historyBox = rt::createControl("COMBOBOX", "", 0x54010243, 166, 216, 291, 200, c.main, 1013);
    rt::enable(c.historyBox, false);
    c.separator = rt::createControl("STATIC", "", 0x54000130, 7, 245, 484, 5, c.main, 1014);
    c.hint = makeText(c.main, "Doppelklick zum wechseln des Verzeichnisses.", 10, 260, 280, 16);
    rt::enable(c.hint, false);
    c.cancel = makeButton(c.main, "Abbrechen", 311, 255, 80, 22);
    c.upload = makeButton(c.main, "Upload »", 401, 255, 80, 22);
    setFont(c.upload, c.boldFont);

    for (int i = 1; i <= folders::kDirSlots; ++i) {
        st.dirHistory[i] = rt::iniRead(st.iniPath, sectionName(st.configNumber), dirsKey(i));
        if (!st.dirHistory[i].empty()) rt::listAdd(c.historyBox, st.dirHistory[i]);
    }
    sendMessage(c.historyBox, CB_SETCURSEL, rt::Arg(0), rt::Arg(0));
    if (rt::trim(rt::getText(c.historyBox)).empty()) rt::enable(c.historySwitch, false);
}

// The server's own bytes of each folder in the list, which may name a folder
// the code page cannot show: an entry's item data is its index here plus 1
// (0: no data). Used on the program thread only.
std::vector<std::string> listedNames;

void addFolder(rt::Handle list, const std::string& serverBytes)
{
    const int index = rt::listAdd(list, ftp::displayName(serverBytes));
    listedNames.push_back(serverBytes);
    sendMessage(list, LB_SETITEMDATA, rt::Arg(index), rt::Arg(static_cast<int>(listedNames.size())));
}

// The name of list entry `index` as the server knows it.
std::string serverNameOf(rt::Handle list, int index)
{
    const auto data = sendMessage(list, LB_GETITEMDATA, rt::Arg(index), rt::Arg(0));
    if (data >= 1 && data <= static_cast<std::intptr_t>(listedNames.size())) return listedNames[data - 1];
    return ftp::serverName(rt::listItemText(list, index));
}

// Selects the entry named `name`, or else the first one beginning with it.
void selectName(rt::Handle list, const std::string& name)
{
    const auto exact = sendMessage(list, LB_FINDSTRINGEXACT, rt::Arg(-1), rt::Arg(name));
    if (exact >= 0) sendMessage(list, LB_SETCURSEL, rt::Arg(static_cast<int>(exact)), rt::Arg(0));
    else rt::listSelect(list, -1, name);
}

void selectInitial(rt::Handle list)
{
    const int count = rt::listCount(list);
    const int index = folders::initialSelection(count, count > 0 ? rt::listItemText(list, 0) : "");
    sendMessage(list, LB_SETCURSEL, rt::Arg(index), rt::Arg(0));
}

// Lists the server's current folder into "ftpdir.txt", reads the folders
// out of it and deletes it.
void fillList(const Controls& c)
{
    ProgramState& st = state();
    const std::string listingFile = st.baseFolder + "ftpdir.txt";
    const bool atLogin = st.uploadSettings.ServerDirectory.empty();

    sendMessage(c.list, WM_SETREDRAW, rt::Arg(0), rt::Arg(0));
    rt::enable(c.list, false);
    ftp::FtpCommand("ListDir", {rt::Value(listingFile)});
    sendMessage(c.list, LB_RESETCONTENT, rt::Arg(0), rt::Arg(0));
    listedNames.clear();

    bool hasParent = false;
    rt::fileAssign(kListingFileNumber, listingFile);
    rt::fileOpenRead(kListingFileNumber);
    if (rt::ioResult() == 0) {
        while (!rt::fileEof(kListingFileNumber)) {
            const std::string line = rt::fileReadLine(kListingFileNumber);
            if (auto name = folders::folderOfListLine(line, atLogin)) {
                addFolder(c.list, *name);
                hasParent = hasParent || *name == "..";
            }
        }
        rt::fileClose(kListingFileNumber);
    }
    rt::fileErase(kListingFileNumber);
    // Most servers list no ".." at all; below the login folder the way up
    // must still be there.
    if (!atLogin && !hasParent) addFolder(c.list, "..");

    sendMessage(c.list, WM_SETREDRAW, rt::Arg(1), rt::Arg(0));
    rt::callByName("USER32", "InvalidateRect", {rt::Arg(c.list), rt::Arg(0), rt::Arg(1)});
    rt::enable(c.list, true);
    rt::setFocus(c.list);
}

// Key flags: set when a key's action was done, cleared when the key is seen
// up, so one press acts once. They start set, and are set again after every
// modal box, so a key still held from before (the Enter that chose the
// Send-To entry, the Escape or Enter that closed a box) does not act here.
struct KeyFlags {
    bool enter = true, back = true, del = true, escape = true;
    void arm() { enter = back = del = escape = true; }
};

bool isChecked(rt::Handle checkBox)
{
    return sendMessage(checkBox, BM_GETCHECK, rt::Arg(0), rt::Arg(0)) == BST_CHECKED;
}

void moveFocus(const Controls& c)
{
    const bool checked = isChecked(c.historySwitch);
    rt::Handle to = 0;
    if (rt::hasFocus(c.list))
        to = rt::trim(rt::getText(c.historyBox)).empty() ? c.cancel : c.historySwitch;
    else if (rt::hasFocus(c.historySwitch))
        to = checked ? c.historyBox : c.cancel;
    else if (rt::hasFocus(c.historyBox))
        to = c.cancel;
    else if (rt::hasFocus(c.cancel))
        to = c.upload;
    else if (rt::hasFocus(c.upload))
        to = checked ? c.historySwitch : c.list;
    if (to) rt::setFocus(to);
}

rt::Handle focusedWindow()
{
    return static_cast<rt::Handle>(rt::callByName("USER32", "GetFocus"));
}

// Runs a modal box. Afterwards held keys must be released before they act
// again, and the focus returns to the control that had it: activating the
// main window again would leave it on the main window itself.
template <class Box> auto modal(KeyFlags& keys, Box box)
{
    const rt::Handle hadFocus = focusedWindow();
    auto result = box();
    keys.arm();
    if (hadFocus != 0) rt::setFocus(hadFocus);
    return result;
}

int msgBox(KeyFlags& keys, const std::string& text, const std::string& caption, unsigned style)
{
    return modal(keys, [&] { return rt::msgBox(text, caption, style); });
}

// What the window's loop keeps from one turn to the next.
struct Selection {
    Controls c;
    KeyFlags keys;
    // The current folder as the server names it, beside its shown form in
    // ServerDirectory, so a way back never depends on what the code page
    // can show.
    std::string serverDirectory;
    bool historyMode = false;
    int savedListSelection = -1;
};

// Step 2: a new folder, named in the input box, made on the server.
void makeFolder(Selection& s)
{
    pauseWithEvents(1);
    const std::string name =
        modal(s.keys, [] { return rt::inputBox("Name des neuen Ordners:", "Neuer Ordner", "").s; });
    if (rt::trim(name).empty()) return;
    if (ftp::FtpCommand("MakeDir", {rt::Value(name)}).i == 0) {
        msgBox(s.keys, "Der Ordner " + name + " konnte nicht angelegt werden!", "Fehler:", MB_ICONSTOP);
    } else {
        addFolder(s.c.list, ftp::serverName(name));
        selectName(s.c.list, name);
    }
}

// Step 3 in history mode: true when the chosen history entry could be
// entered; otherwise the run stays where it was.
bool enterHistoryEntry(Selection& s)
{
    UploadSettings& us = state().uploadSettings;
    const std::string chosen = rt::getText(s.c.historyBox);
    ftp::FtpCommand("SetDir", {rt::Value("/")});
    if (ftp::FtpCommand("SetDir", {rt::Value(chosen)}).i != 0) {
        us.ServerDirectory = chosen;
        s.serverDirectory = ftp::serverName(chosen);
        return true;
    }
    msgBox(s.keys, "Das gewählte Verzeichnis existiert nicht auf dem Server!", "Fehler:", MB_ICONSTOP);
    if (!s.serverDirectory.empty())
        ftp::FtpCommand("SetDir", {rt::Value(s.serverDirectory), rt::Value(1)});
    return false;
}

// Step 4: the selected folder deleted on the server, after the question.
void deleteServerFolder(Selection& s)
{
    const Controls& c = s.c;
    const int index = rt::listSelection(c.list);
    const std::string name = index >= 0 ? rt::listItemText(c.list, index) : "";
    if (name.empty() || name == "..") return;
    const int answer = msgBox(s.keys, "Soll der Ordner \"" + name + "\" wirklich gelöscht werden?", "Achtung:",
                              MB_ICONEXCLAMATION | MB_YESNO | MB_DEFBUTTON2);
    if (answer != IDYES) return;
    const std::string listed = serverNameOf(c.list, index);
    if (ftp::FtpCommand("DeleteDir", {rt::Value(listed), rt::Value(1)}).i != 0) {
        rt::listDelete(c.list, index);
        const int next = folders::selectionAfterDelete(index, rt::listCount(c.list));
        sendMessage(c.list, LB_SETCURSEL, rt::Arg(next), rt::Arg(0));
    } else {
        msgBox(s.keys, "Der Ordner konnte nicht gelöscht werden!\r\nWahrscheinlich ist er nicht leer.", "Fehler:",
               MB_ICONSTOP);
    }
}

// Step 5: the selected entry of the folder history removed.
void deleteHistoryEntry(const Controls& c)
{
    ProgramState& st = state();
    const int index = rt::listSelection(c.historyBox);
    if (index < 0) return;
    // The box lists only the non-empty slots: remove the slot the entry
    // came from, not the slot at the entry's position.
    const int slot = folders::slotOfBoxEntry(st.dirHistory, index);
    rt::listDelete(c.historyBox, index);
    const int count = rt::listCount(c.historyBox);
    if (count > 0) {
        sendMessage(c.historyBox, CB_SETCURSEL, rt::Arg(std::min(index, count - 1)), rt::Arg(0));
    } else {
        sendMessage(c.historySwitch, BM_SETCHECK, rt::Arg(BST_UNCHECKED), rt::Arg(0));
        rt::enable(c.historySwitch, false);
    }
    if (slot > 0) {
        folders::removeSlot(st.dirHistory, slot);
        for (int k = slot; k <= folders::kDirSlots; ++k) writeDirs(k);
    }
}

// Step 6: the history switch turns the history box on and the list off,
// and back.
void followHistorySwitch(Selection& s)
{
    const Controls& c = s.c;
    const bool checked = isChecked(c.historySwitch);
    if (checked && !s.historyMode) {
        rt::enable(c.historyBox, true);
        rt::enable(c.list, false);
        s.savedListSelection = rt::listSelection(c.list);
        sendMessage(c.list, LB_SETCURSEL, rt::Arg(-1), rt::Arg(0));
        s.historyMode = true;
        rt::setText(c.pathLabel, currentLabel(c, s.historyMode));
    } else if (!checked && s.historyMode) {
        const bool boxHadFocus = rt::hasFocus(c.historyBox);
        rt::enable(c.historyBox, false);
        rt::enable(c.list, true);
        sendMessage(c.list, LB_SETCURSEL, rt::Arg(s.savedListSelection), rt::Arg(0));
        s.historyMode = false;
        rt::setText(c.pathLabel, currentLabel(c, s.historyMode));
        if (boxHadFocus) rt::setFocus(c.list);
    }
}

// Step 12: into the selected folder, or up with Backspace (`back`).
void changeFolder(Selection& s, bool back)
{
    const Controls& c = s.c;
    UploadSettings& us = state().uploadSettings;
    s.keys.enter = s.keys.back = true;
    const int index = rt::listSelection(c.list);
    const std::string target = back ? ".." : rt::listItemText(c.list, index);
    if (target.empty()) return;
    const std::string listed = back ? target : serverNameOf(c.list, index);
    ftp::FtpCommand("SetDir", {rt::Value(listed), rt::Value(1)});
    const folders::Navigation nav = folders::navigate(us.ServerDirectory, target);
    us.ServerDirectory = nav.dir;
    s.serverDirectory = folders::navigate(s.serverDirectory, listed).dir;
    rt::setText(c.pathLabel, currentLabel(c, false));
    fillList(c);
    if (!nav.reselect.empty())
        selectName(c.list, nav.reselect);
    else
        selectInitial(c.list);
}

} // namespace

void runFolderSelection()
{
    ProgramState& st = state();
    UploadSettings& us = st.uploadSettings;
    const std::string listingFile = st.baseFolder + "ftpdir.txt";

    ftp::FtpCommand("ListDir", {rt::Value(listingFile)});
    Selection s;
    Controls& c = s.c;
    KeyFlags& keys = s.keys;
    build(c);
    fillList(c);
    rt::show(c.main, SW_SHOWNORMAL);
    rt::setFocus(c.list);
    selectInitial(c.list);
    s.serverDirectory = ftp::serverName(us.ServerDirectory);

    folders::TabRepeat tab(tickCount());
    folders::DoubleClick doubleClick;

    for (;;) {
        // 1. Wait; a click is a command with notification 0 from the button.
        const UserEvent ev = pauseWithEvents(20);
        auto clicked = [&](rt::Handle button) {
            return ev.message == WM_COMMAND && HIWORD(ev.wParam) == 0 &&
                   static_cast<rt::Handle>(ev.lParam) == button;
        };

        // 2. New folder.
        if (clicked(c.newFolder)) makeFolder(s);

        // 3. Upload into the current folder, or into the chosen history entry.
        const bool enterUpload = keyDown(kVkReturn) && !keys.enter &&
                                 (rt::hasFocus(c.historySwitch) || rt::hasFocus(c.upload) || rt::hasFocus(c.list));
        if (clicked(c.upload) || enterUpload) {
            if (enterUpload) keys.enter = true;
            pauseWithEvents(1);
            if (!s.historyMode || enterHistoryEntry(s)) break;
        }

        // 4. Delete the selected folder on the server; 5. delete the
        //    selected entry of the folder history.
        if (rt::hasFocus(c.list) && keyDown(kVkDelete) && !keys.del) {
            keys.del = true;
            deleteServerFolder(s);
        } else if (rt::hasFocus(c.historyBox) && keyDown(kVkDelete) && !keys.del) {
            keys.del = true;
            deleteHistoryEntry(c);
        }

        // 6. History switch.
        followHistorySwitch(s);

        // 7. The label follows the history box.
        if (s.historyMode) {
            const std::string label = currentLabel(c, true);
            if (rt::getText(c.pathLabel) != label) rt::setText(c.pathLabel, label);
        }

        // 8. Cancel: no upload, the history stays as it is.
        const bool escape = keyDown(kVkEscape) && !keys.escape && foregroundWindow() == c.main;
        if (escape || clicked(c.cancel) || ev.message == WM_CLOSE) {
            ftp::FtpCommand("Disconnect");
            rt::endProgram();
        }

        // 9. Cursor position for the double click.
        const POINT cursor = cursorPosition();
        const std::uint32_t now = tickCount();

        // 10. Released keys may act again.
        if (!keyDown(kVkReturn)) keys.enter = false;
        if (!keyDown(kVkBack)) keys.back = false;
        if (!keyDown(kVkDelete)) keys.del = false;
        if (!keyDown(kVkEscape)) keys.escape = false;

        // 11. Tab.
        if (tab.step(keyDown(kVkTab), now)) moveFocus(c);

        // 12. Into the double-clicked folder, or up with Backspace.
        const bool doubleClicked =
            doubleClick.step(windowFromPoint(cursor) == c.list, keyDown(kVkMouseLeft), now, cursor.x, cursor.y);
        const bool back = !doubleClicked && rt::hasFocus(c.list) && keyDown(kVkBack) && !keys.back &&
                          !us.ServerDirectory.empty();
        if (doubleClicked || back) changeFolder(s, back);
    }

    // End of the selection: hide, normalise, put the folder at the top of
    // the history.
    rt::enable(c.main, false);
    rt::show(c.main, SW_HIDE);
    us.ServerDirectory = folders::stripOuterSlashes(us.ServerDirectory);
    st.chosenDirectoryOnServer = folders::stripOuterSlashes(s.serverDirectory);
    if (folders::rememberChosen(st.dirHistory, us.ServerDirectory))
        for (int k = 1; k <= folders::kDirSlots; ++k) writeDirs(k);
}

} // namespace app
