#include "win32/ptr32.h"

#include <mutex>
#include <vector>

#include "internal/process_lifetime.h"

namespace {

// Few distinct addresses are ever registered (the ring storage and the
// queue descriptors), so a linear table is the simplest thing that works.
struct Table {
    std::mutex lock;
    std::vector<void*> entries;
};

Table& table()
{
    return kolm::platform::process_lifetime<Table>();
}

} // namespace

DWORD kolm_ptr32_from(const void* p)
{
    if (!p)
        return 0;
    Table& t = table();
    std::lock_guard lock(t.lock);
    for (size_t i = 0; i < t.entries.size(); ++i) {
        if (t.entries[i] == p)
            return static_cast<DWORD>(i + 1);
    }
    t.entries.push_back(const_cast<void*>(p));
    return static_cast<DWORD>(t.entries.size());
}

void* kolm_ptr32_to(DWORD token)
{
    Table& t = table();
    std::lock_guard lock(t.lock);
    if (token == 0 || token > t.entries.size())
        return nullptr;
    return t.entries[token - 1];
}
