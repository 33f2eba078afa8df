// The upload window: a small captionless tool window, moved by dragging,
// with the remote name, a progress bar, a status line and "Abbrechen".
//
// The window lives on the runtime's GUI thread; its procedure handles the
// user's actions there at once, even while the program thread waits in an
// FTP command:
//   - right click: writes "1" to Protect of the configuration's section and
//     colours the bar;
//   - "Abbrechen": ends the Quillpost process of the upload run and hides
//     the window.
// The program thread drives the display with the set* calls (plain window
// messages) and reads what the user asked for through the atomics.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <windows.h>
#include "runtime/windows.h"

namespace getsize {

class UploadWindow {
public:
    // iniPath/section: where the mark goes; runWindow: the upload run's
    // main window, whose process "Abbrechen" ends.
    UploadWindow(std::string iniPath, std::string section, HWND runWindow);
    UploadWindow(const UploadWindow&) = delete;
    UploadWindow& operator=(const UploadWindow&) = delete;

    // Create and destroy on the GUI thread, called from the program thread;
    // the window goes with this object at the latest.
    bool create();
    void destroy();

    void setName(const std::string& text);
    void setStatus(const std::string& text);
    void setProgress(int permille);
    // Shows the stored mark (the upload run resets it for the next file).
    void showMarked(bool marked);
    bool marked() const { return marked_.load(); }

    bool abortRequested() const { return abort_.load(); }
    bool closeRequested() const { return close_.load(); }
    HWND handle() const { return window_.get(); }

    static constexpr const char* kTitle = "Quillpost-Upload";
    static constexpr int kAbortId = 104;

private:
    static std::uintptr_t __stdcall createOnGuiThread(std::uintptr_t self);
    static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK childProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void mark();
    void abortRun();
    void applyBarColour(bool marked);

    std::string iniPath_;
    std::string section_;
    HWND runWindow_;
    rt::OwnedGuiWindow window_;  // set by the window procedure as the window is made
    HWND name_ = nullptr;
    HWND bar_ = nullptr;
    HWND status_ = nullptr;
    HWND button_ = nullptr;
    // Written on the GUI thread, read on the program thread.
    std::atomic<bool> marked_{false};
    std::atomic<bool> abort_{false};
    std::atomic<bool> close_{false};
};

} // namespace getsize
