// Event waiting: the event variables the window procedures fill on the GUI
// thread, the user-message registry, the two waits and the timer.
#pragma once
#include <cstdint>
#include <initializer_list>
#include "runtime/windows.h"

namespace rt {

// Event kinds.
enum EventKind : int {
    EvNone = 0, EvSelect = 1, EvClose = 2, EvDoubleClick = 3, EvSize = 4, EvHelp = 5,
    EvReturn = 13, EvCommand = 255,
};

// Adds message numbers to the registry; a 0 empties it first.
void registerUserMessages(std::initializer_list<std::uint32_t> numbers);
// Blocks until the GUI thread has handled its next message of any kind.
void waitNextEvent();
// Blocks until a window procedure signals an event; returns the last message.
std::uint32_t waitInputEvent();

int eventKind();
Handle clickedControl();
int menuItem();
int commandId();
std::uint32_t userMessage();
std::uint32_t userWParam();
std::uint32_t userLParam();
int keyCode();
int mouseButton();
int lastPressedButton();
int mouseX();
int mouseY();
std::uint32_t lastMessage();
Handle lastMessageWindow();
std::uint32_t lastWParam();
std::uint32_t lastLParam();
int takeTimerFlag();         // read and clear
int takeNotificationFlag();  // read and clear
int notificationCode();
Handle notificationSender();

bool hasFocus(Handle window);
void setFocus(Handle window);

// Timer 1 on the main window; starting replaces a running one. Stopping a
// timer that is not running raises warning 250 "KILLTIMER".
void startTimer(int milliseconds);
void stopTimer();

} // namespace rt
