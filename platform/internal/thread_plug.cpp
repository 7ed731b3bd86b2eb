#include "internal/thread_plug.h"

#include <utility>

namespace kolm::platform::sys {

namespace {

struct Slot {
    std::weak_ptr<Pluggable> target;
    bool set = false;

    Slot() = default;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    // A thread that ends without waiting again still does its held work.
    ~Slot() { run(); }

    void run()
    {
        if (!set)
            return;
        // Cleared first: the work may itself reach a wait.
        set = false;
        const std::shared_ptr<Pluggable> t = std::exchange(target, {}).lock();
        if (t)
            t->unplug();
    }
};

thread_local Slot t_slot;

bool same(const std::weak_ptr<Pluggable>& a, const std::weak_ptr<Pluggable>& b)
{
    return !a.owner_before(b) && !b.owner_before(a);
}

} // namespace

void plug(const std::weak_ptr<Pluggable>& target)
{
    Slot& s = t_slot;
    if (s.set && same(s.target, target))
        return;
    s.run();
    s.target = target;
    s.set = true;
}

void unplug()
{
    t_slot.run();
}

} // namespace kolm::platform::sys
