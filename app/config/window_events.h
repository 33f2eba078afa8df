// Small event tests shared by the configuration window and the info window.
#pragma once
#include <windows.h>
#include "runtime/events.h"

namespace app {

// True when the last event was a click (notification 0) on `control`.
// Command messages are registered with the runtime, so they arrive as the
// user message 273 with the control in lParam; the runtime's own record of
// the clicked control is checked as well.
inline bool clickedOn(rt::Handle control)
{
    if (control == 0)
        return false;
    if (rt::userMessage() == WM_COMMAND)
        return HIWORD(rt::userWParam()) == 0 && static_cast<rt::Handle>(rt::userLParam()) == control;
    return rt::clickedControl() == control;
}

// Waits once more for an input event with a 1 ms timer running, so that the
// wait ends at the latest with the timer's tick. Run before a modal box or a
// new window so that the click that asked for it has been fully handled.
// The timer is stopped again: left running it would wake the event loop a
// thousand times a second for the rest of the run.
inline void settleAfterClick()
{
    rt::startTimer(1);
    rt::waitInputEvent();
    rt::stopTimer();
}

} // namespace app
