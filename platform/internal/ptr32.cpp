#include "win32/ptr32.h"

#include <mutex>
#include <vector>

namespace {

// Few distinct addresses are ever registered (the ring storage and the
// queue descriptors), so a linear table is the simplest thing that works.
std::mutex g_lock;
std::vector<void*> g_table;

} // namespace

DWORD kolm_ptr32_from(const void* p)
{
    if (!p)
        return 0;
    std::lock_guard lock(g_lock);
    for (size_t i = 0; i < g_table.size(); ++i) {
        if (g_table[i] == p)
            return static_cast<DWORD>(i + 1);
    }
    g_table.push_back(const_cast<void*>(p));
    return static_cast<DWORD>(g_table.size());
}

void* kolm_ptr32_to(DWORD token)
{
    std::lock_guard lock(g_lock);
    if (token == 0 || token > g_table.size())
        return nullptr;
    return g_table[token - 1];
}
