// The window procedure of a hidden window that belongs to one object (held
// in the window's first extra slot): its messages go to the object's
// handler, and nothing unwinds through the system's dispatch code, since a
// failure there has no caller to take it.
#pragma once
#include <windows.h>

#include <exception>

namespace ftp {

template <class Owner, LRESULT (Owner::*Handle)(UINT, WPARAM, LPARAM)>
LRESULT CALLBACK ownerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrA(hwnd, 0));
    if (!owner) return DefWindowProcA(hwnd, msg, wParam, lParam);
    try {
        return (owner->*Handle)(msg, wParam, lParam);
    } catch (const std::exception& e) {
        OutputDebugStringA(e.what());
    } catch (...) {
    }
    return 0;
}

} // namespace ftp
