// Work a thread holds back so that it can be done in one piece: done at
// the latest when the thread next waits for anything, or when it ends.
//
// The port's network input is the user. The runtime's pump hands it the
// network's bytes a 1024-byte queue at a time, one DIOC_WRITE after the
// other while the socket has more. Writing each piece into the pty at once
// costs a pty write and a wake-up of the kernel's tty worker and of the
// application per KiB; held until the pump has nothing more to hand over
// (it is about to wait for the network), they go in one write.
//
// Every place in the platform where a thread can block calls unplug()
// first: the event waits, the socket waits, select, Sleep, the message
// waits, and the end of a thread. So a plugged thread never sleeps on held
// work, and nothing else has to know about it.
#pragma once

#include <memory>

namespace kolm::platform::sys {

class Pluggable {
public:
    // Does the held work. Called on the thread that plugged it, with none
    // of the platform's locks held.
    virtual void unplug() = 0;

protected:
    ~Pluggable() = default;
};

// Makes `target` the calling thread's plug. A different plug the thread
// already has is unplugged first. A target that is gone by the time of
// the unplug is skipped.
void plug(const std::weak_ptr<Pluggable>& target);

// Does and clears the calling thread's plug, if it has one. Cheap when it
// has none: called before every wait.
void unplug();

} // namespace kolm::platform::sys
