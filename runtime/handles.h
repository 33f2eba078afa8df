// Owners of Windows handles. Each holds one handle, closes it exactly once
// when it goes (or on reset), moves but never copies, and lets a handle go
// without closing it (release) where another owner takes it over. The
// runtime, the FTP component and the application use these for every
// kernel handle, window, socket and C stream they keep.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <utility>

namespace rt {

// Traits: the handle type, its empty value, and how it is closed.
template <typename Traits>
class Owned {
public:
    using Handle = typename Traits::Handle;

    Owned() = default;
    explicit Owned(Handle h) : h_(h) {}
    ~Owned() { reset(); }
    Owned(Owned&& other) noexcept : h_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Handle get() const { return h_; }
    explicit operator bool() const { return h_ != Traits::empty(); }
    // Closes the handle held so far and takes `h`.
    void reset(Handle h = Traits::empty())
    {
        const Handle old = std::exchange(h_, h);
        if (old != Traits::empty()) Traits::close(old);
    }
    Handle release() { return std::exchange(h_, Traits::empty()); }

private:
    Handle h_ = Traits::empty();
};

struct KernelHandleTraits {  // events, threads, processes, mutexes; NULL when none
    using Handle = HANDLE;
    static Handle empty() { return nullptr; }
    static void close(Handle h) { CloseHandle(h); }
};
struct FindHandleTraits {  // FindFirstFile
    using Handle = HANDLE;
    static Handle empty() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { FindClose(h); }
};
struct FileHandleTraits {  // CreateFile; INVALID_HANDLE_VALUE when none
    using Handle = HANDLE;
    static Handle empty() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { CloseHandle(h); }
};
struct WindowTraits {  // destroyed on the thread that made it, as Windows requires
    using Handle = HWND;
    static Handle empty() { return nullptr; }
    static void close(Handle h) { DestroyWindow(h); }
};
struct SocketTraits {
    using Handle = SOCKET;
    static Handle empty() { return INVALID_SOCKET; }
    static void close(Handle h) { closesocket(h); }
};
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle empty() { return nullptr; }
    static void close(Handle h) { FreeLibrary(h); }
};
struct GdiObjectTraits {  // fonts, brushes, bitmaps
    using Handle = HGDIOBJ;
    static Handle empty() { return nullptr; }
    static void close(Handle h) { DeleteObject(h); }
};

using OwnedHandle = Owned<KernelHandleTraits>;
using OwnedFindHandle = Owned<FindHandleTraits>;
using OwnedFile = Owned<FileHandleTraits>;
using OwnedWindow = Owned<WindowTraits>;
using OwnedSocket = Owned<SocketTraits>;
using OwnedModule = Owned<ModuleTraits>;
using OwnedGdiObject = Owned<GdiObjectTraits>;

// A C stream. Closing may fail (the last buffered bytes of a written file
// go out then), so close() reports it; the destructor closes silently.
class OwnedStream {
public:
    OwnedStream() = default;
    explicit OwnedStream(std::FILE* f) : f_(f) {}
    ~OwnedStream() { close(); }
    OwnedStream(OwnedStream&& other) noexcept : f_(std::exchange(other.f_, nullptr)) {}
    OwnedStream& operator=(OwnedStream&& other) noexcept
    {
        if (this != &other) {
            close();
            f_ = std::exchange(other.f_, nullptr);
        }
        return *this;
    }
    OwnedStream(const OwnedStream&) = delete;
    OwnedStream& operator=(const OwnedStream&) = delete;

    std::FILE* get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }
    // True when the stream closed cleanly or none was open.
    bool close() { return !f_ || std::fclose(std::exchange(f_, nullptr)) == 0; }

private:
    std::FILE* f_ = nullptr;
};

} // namespace rt
