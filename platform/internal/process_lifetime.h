// Objects that the platform's threads share across the whole process (the
// handle tables, the lock of the kernel objects, the registry's open
// stores, the socket table, the 32-bit pointer table) live as long as the
// process: made on first use, never destroyed.
//
// A program ends through ExitProcess, which runs no static destructors
// while threads still run (docs/threads.md lists them); a test process
// that returns from main instead still has such threads, and they find
// these objects intact. What an object holds that the outside world sees
// (a socket, a file) is given back by the area's own cleanup (WSACleanup,
// CloseHandle, RegCloseKey) or by the end of the process.
#pragma once

namespace kolm::platform {

// The one object of type T for this process. T is a type of the caller's
// own (an anonymous-namespace struct), so no two areas share an object by
// accident.
template <class T>
T& process_lifetime()
{
    static T* const object = new T;
    return *object;
}

} // namespace kolm::platform
