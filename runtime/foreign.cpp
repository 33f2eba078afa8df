// Foreign-function calls: the library and function are found on the calling
// thread, the call itself always runs on the GUI thread.
#include "runtime/foreign.h"

#include <array>
#include <utility>
#include <windows.h>
#include "runtime/errors.h"
#include "runtime/handles.h"
#include "runtime/internal.h"
#include "runtime/process.h"

namespace rt {

namespace {

// The arguments travel in the block itself, so calls from different threads
// cannot overwrite each other's arguments.
struct CallBlock {
    FARPROC function = nullptr;
    std::size_t count = 0;
    std::uintptr_t args[kMaxForeignArgs] = {};
    std::uintptr_t result = 0;
};

// One call shape per argument count: the callee removes its own arguments
// (standard calling convention), so the declared count must match.
template <std::size_t... I>
std::uintptr_t invokeWith(FARPROC fn, const std::uintptr_t* a, std::index_sequence<I...>)
{
    using Fn = std::uintptr_t(WINAPI*)(decltype((void)I, std::uintptr_t{})...);
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(fn))(a[I]...);
}

template <std::size_t N>
std::uintptr_t invoke(FARPROC fn, const std::uintptr_t* a)
{
    return invokeWith(fn, a, std::make_index_sequence<N>{});
}

using Invoker = std::uintptr_t (*)(FARPROC, const std::uintptr_t*);

template <std::size_t... N>
constexpr std::array<Invoker, sizeof...(N)> makeInvokers(std::index_sequence<N...>)
{
    return {&invoke<N>...};
}

constexpr auto kInvokers = makeInvokers(std::make_index_sequence<kMaxForeignArgs + 1>{});

void run(CallBlock& b)
{
    b.result = kInvokers[b.count](b.function, b.args);
}

// Hands the call to the GUI thread: from any other thread through the
// synchronous request; on the GUI thread itself with the program thread held
// still. Before the runtime has started there is no GUI thread yet, and the
// call runs in place.
std::intptr_t execute(FARPROC function, std::initializer_list<Arg> args)
{
    CallBlock b;
    b.function = function;
    b.count = args.size();
    std::size_t k = 0;
    for (const Arg& a : args) b.args[k++] = a.v;
    if (onGuiThread()) {
        detail::suspendProgramThread();
        run(b);
        detail::resumeProgramThread();
    } else if (requestWindow()) {
        sendRequest(ReqForeignCall, &b);
        Sleep(0);
    } else {
        run(b);
    }
    return static_cast<std::intptr_t>(static_cast<std::int32_t>(b.result));
}

std::string fileNamePart(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

namespace detail {

void runForeignCallRequest(void* block)
{
    run(*static_cast<CallBlock*>(block));
}

} // namespace detail

std::intptr_t callByName(const std::string& library, const std::string& function,
                         std::initializer_list<Arg> args)
{
    if (args.size() > static_cast<std::size_t>(kMaxForeignArgs)) {
        raiseError(207, function);
        return -1;
    }
    HMODULE module = GetModuleHandleA(fileNamePart(library).c_str());
    OwnedModule loaded;  // a library loaded for this call only
    if (!module) {
        loaded.reset(LoadLibraryA(library.c_str()));
        module = loaded.get();
        if (!module) {
            raiseError(247, library);
            return -1;
        }
    }
    const FARPROC fn = GetProcAddress(module, function.c_str());
    if (!fn) {
        loaded.reset();  // before the report, which may end the thread
        raiseError(248, function);
        return -1;
    }
    return execute(fn, args);
}

void* functionAddress(const std::string& library, const std::string& function)
{
    const HMODULE module = GetModuleHandleA(library.c_str());
    const FARPROC fn = module ? GetProcAddress(module, function.c_str()) : nullptr;
    if (!fn) {
        raiseError(248, function);
        return nullptr;
    }
    return reinterpret_cast<void*>(fn);
}

std::intptr_t callByAddress(void* address, std::initializer_list<Arg> args)
{
    if (!address) return -1;
    if (args.size() > static_cast<std::size_t>(kMaxForeignArgs)) {
        raiseError(207, "");
        return -1;
    }
    return execute(reinterpret_cast<FARPROC>(address), args);
}

} // namespace rt
