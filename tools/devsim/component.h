// A part of devsim driven by the main poll loop.
#pragma once

#include <poll.h>
#include <vector>

namespace devsim {

class Component {
public:
    virtual ~Component() = default;
    // Appends the descriptors to watch this round; returns how many.
    virtual size_t collect(std::vector<pollfd>& fds) = 0;
    // Handles what poll reported for the descriptors collected this round.
    virtual void dispatch(const pollfd* fds, size_t count) = 0;
};

} // namespace devsim
