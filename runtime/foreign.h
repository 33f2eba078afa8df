// Foreign-function calls by library and function name, always executed on
// the GUI thread, and the message box and input box built on them.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include "runtime/value.h"

namespace rt {

// One integer-sized argument: integers as they are (sign-extended on 64-bit
// builds, as handles are), strings as the address of their buffer (the
// string must outlive the call), pointers as addresses.
struct Arg {
    std::uintptr_t v;
    Arg(int x) : v(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(x))) {}
    Arg(unsigned x) : v(x) {}
    Arg(long x) : v(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(x))) {}
    Arg(unsigned long x) : v(x) {}
    Arg(long long x) : v(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(x))) {}
    Arg(unsigned long long x) : v(static_cast<std::uintptr_t>(x)) {}
    Arg(const std::string& s) : v(reinterpret_cast<std::uintptr_t>(s.c_str())) {}
    Arg(const char* s) : v(reinterpret_cast<std::uintptr_t>(s)) {}
    template <class T> Arg(T* p) : v(reinterpret_cast<std::uintptr_t>(p)) {}
};

constexpr int kMaxForeignArgs = 32;

// Returns the function's 32-bit result (sign-extended on 64-bit builds, so
// int results and handles read right), or -1 when the library or function
// cannot be found (errors 247, 248). More than 32 arguments: error 207 with
// the function name, -1, no call. The library's file name (after the last
// "\" or "/") finds a module already loaded; otherwise the full name is
// loaded for the call and released afterwards. Runs on the GUI thread.
std::intptr_t callByName(const std::string& library, const std::string& function,
                        std::initializer_list<Arg> args = {});
// Address of a function in an already loaded module, or 0 (error 248).
void* functionAddress(const std::string& library, const std::string& function);
// An address of 0 returns -1 without a call.
std::intptr_t callByAddress(void* address, std::initializer_list<Arg> args = {});

// MessageBoxA owned by the main window; result stored as last button.
int msgBox(const std::string& text, const std::string& caption, unsigned flags);
int lastButton();
// Modal "INPUT" dialog; Cancel/Escape give "" with value 0 and last button 2.
Value inputBox(const std::string& prompt, const std::string& caption,
               const std::string& defaultText = "");

} // namespace rt
