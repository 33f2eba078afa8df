// Windows and controls: the main window, creation by type name or explicit
// class, window operations and list operations. Creation and destruction run
// on the GUI thread through the hand-off; handles are plain integers.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include "runtime/handles.h"
#include "runtime/value.h"

namespace rt {

using Handle = std::int32_t;  // 32-bit window handle; 0 = no window

inline void* hwndOf(Handle h) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(h)); }

// Main window settings. Style flags: 1 maximise box, 2 minimise box, 4 sizing
// frame, 8 system menu, 0x10 no menu, 0x40 pop-up, 0x200 close goes to the
// program (dialog mode), 0x400 tool window.
void setWindowStyle(int flags);
void setWindowTitle(const std::string& title);
// Moves the main window, or creates it with this rectangle (warning 223 for
// negative x or y).
void setWindowPosition(int x, int y, int width, int height);
Handle mainWindow();
int screenWidth();
int screenHeight();
// Colour under "truecolor" (RGB) or as 15-bit value when it is off.
std::uint32_t convertColour(std::uint32_t colour);
void setBackground(std::uint32_t colour);

// Creation by type name ("button", "edit", "choicebox", "font", ...). For
// controls: parent, text, x, y, width, height. Errors 212 and 101.
Handle create(const std::string& typeName, const std::vector<Value>& args);
void registerCreateProc(const std::string& name, std::function<std::int32_t(const std::vector<Value>&)> proc);
// Direct creation with explicit class, style and identifier.
Handle createControl(const std::string& className, const std::string& text, std::uint32_t style,
                     int x, int y, int width, int height, Handle parent, int id,
                     std::uint32_t exStyle = 0);
// Current font setting for new controls: 0 none, 1 drawing font, else handle.
void setCurrentFont(std::int32_t setting);

std::string getText(Handle window);
void setText(Handle window, const std::string& text);
void enable(Handle window, bool on);
int show(Handle window, int mode);
int destroy(Handle window);
// Owner of a window that program-thread code holds: destroyed through the
// GUI thread (request 40967) when the owner goes. Code on the GUI thread
// holds an OwnedWindow instead.
struct GuiWindowTraits {
    using Handle = HWND;
    static Handle empty() { return nullptr; }
    static void close(Handle h) { destroy(static_cast<rt::Handle>(reinterpret_cast<std::intptr_t>(h))); }
};
using OwnedGuiWindow = Owned<GuiWindowTraits>;
// First top-level window whose title begins with the prefix (any case).
Handle findWindow(const std::string& titlePrefix);

// List operations on list boxes, combo boxes and list views (else error 280).
int listAdd(Handle list, const std::string& text);
int listSelect(Handle list, int start, const std::string& text);
int listDelete(Handle list, int index);
int listCount(Handle list);
int listSelection(Handle list);
std::string listItemText(Handle list, int index);

// The runtime string list, moved into a control in one step.
void stringListClear();
void stringListAdd(const std::string& text);
int stringListMoveTo(Handle control);

} // namespace rt
