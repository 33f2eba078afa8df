// Runtime-internal state and hooks shared between the runtime's modules
// (process start and hand-off, windows and events on one side; errors,
// foreign calls and the input box on the other). Not for the application.
#pragma once
#include <windows.h>

namespace rt::detail {

// --- Request executors implemented in foreign.cpp; process.cpp dispatches
// to them on the GUI thread.

// Request 40971 (synchronous): the block is foreign.cpp's call block; calls
// the function with the arguments of the shared argument area and writes the
// result back. process.cpp posts 40983 afterwards when fast mode is on.
void runForeignCallRequest(void* block);
// Request 40976 (posted): the block is foreign.cpp's input block; runs the
// modal "INPUT" dialog owned by the main window. process.cpp sets
// request-done afterwards.
void runInputBoxRequest(void* block);

// --- Offered by process.cpp.

// Suspends / resumes the program thread around work done on the GUI thread
// that the program must not observe half-done (a foreign call or a message
// box made on the GUI thread itself). Nested calls are counted by Windows;
// both do nothing when there is no program thread or when called on it.
void suspendProgramThread();
void resumeProgramThread();

// The automatic-reset event the GUI thread sets after a posted request.
HANDLE requestDoneEvent();
// Manual-reset event set while the program thread blocks in the wait for
// an input event (tests wait on it before producing input).
HANDLE programWaitingEvent();

// Decimal separator taken from the standard library's locale at start
// ('.' before the start sequence has run).
char decimalSeparator();

// Request 40977 (synchronous): the block is an `int` holding milliseconds.
// Request 40978 (synchronous): the block is an `int` that receives 1 when
// keyboard or mouse input is waiting, else 0.

} // namespace rt::detail
