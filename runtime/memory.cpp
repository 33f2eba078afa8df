// Memory areas and the table of their sizes.
#include "runtime/memory.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include "runtime/errors.h"

namespace rt {

namespace {

std::mutex g_mutex;
std::map<const void*, std::int32_t> g_sizes;

} // namespace

void* memResize(void* area, std::int32_t n)
{
    std::unique_lock lock(g_mutex);
    std::int32_t oldSize = 0;
    if (area) {
        const auto it = g_sizes.find(area);
        if (it == g_sizes.end()) return area;  // not an area of ours: leave it alone
        oldSize = it->second;
    }
    if (n <= 0) {
        if (area) {
            g_sizes.erase(area);
            std::free(area);
        }
        return nullptr;
    }
    void* fresh = std::calloc(static_cast<std::size_t>(n), 1);
    if (!fresh) {
        lock.unlock();
        raiseError(240);
        return area;
    }
    if (area) {
        std::memcpy(fresh, area, static_cast<std::size_t>(oldSize < n ? oldSize : n));
        g_sizes.erase(area);
        std::free(area);
    }
    g_sizes[fresh] = n;
    return fresh;
}

std::int32_t memSize(const void* area)
{
    std::lock_guard lock(g_mutex);
    const auto it = g_sizes.find(area);
    return it == g_sizes.end() ? -1 : it->second;
}

} // namespace rt
