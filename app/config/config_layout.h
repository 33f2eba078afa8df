// The controls of the configuration window as data: creation order (which is
// also the tab order), captions, client rectangles, fonts and the part each
// control plays. The window builds itself from this table.
#pragma once
#include <array>
#include <cstdint>

namespace app {

enum class ControlKind {
    GroupBox, DropList, Text, Edit, CheckBox, EtchedLine, Button, HelpButton, Icon,
};

enum class ControlFont { Standard, Bold, Italic };

// What a control stands for; the window keeps one handle per role (help
// buttons by their number instead).
enum class ControlRole {
    None, Group, Selector, Name, Active, ServerName, ServerPort, ServerDirectory, Username,
    Password, ProxyServer, ProxyPort, WWWName, WWWDirectory, KeepList, DelClick, Passive,
    Clipboard, Ask, DirSel, CheckAddress, Tls, TrustedCertificate, RemoveTrust, Save, Cancel, About, Help, Icon,
};

// Edit field options.
enum EditFlags : unsigned {
    EditPlain = 0,
    EditDigits = 1,    // digits only
    EditPassword = 2,  // characters hidden
};

struct ControlRow {
    ControlKind kind;
    const char* text;  // caption; the icon's resource name
    int x, y, w, h;    // client pixels; relative to the group box when inGroup
    bool inGroup;
    ControlFont font;
    ControlRole role;
    unsigned editFlags;
    int limit;         // edit length limit, 0 = the control's default
    int help;          // help box number of a "?" button, else 0
};

constexpr int kConfigControlCount = 61;
extern const std::array<ControlRow, kConfigControlCount> kConfigControls;

// Entries of the configuration selector and of the keep list (index = DelOld).
constexpr int kKeepEntryCount = 7;
extern const std::array<const char*, kKeepEntryCount> kKeepEntries;
constexpr int kSelectorEntryCount = 10;

// Runtime window style of the configuration window: system menu, no menu,
// the close box goes to the program.
constexpr int kConfigWindowStyle = 536;

// The one face and size of every caption in the window (and in the info
// window it opens); the table's rectangles are made for it. Tahoma of cell
// height 13 is too wide for "Bezeichnung:" and the save button.
constexpr const char* kWindowFontFace = "Tahoma";
constexpr int kWindowFontHeight = 12;

// Window geometry before the caption allowance.
constexpr int kConfigWindowWidth = 400;
constexpr int kConfigWindowHeight = 661;
constexpr int kIconControlId = 31000;
constexpr int kIconSize = 48;

} // namespace app
