// How a process ends. Every program ends through ExitProcess once WinMain
// has returned (docs/threads.md says which threads may still run then and
// why that is safe). Work that must happen at the very end registers here,
// not with std::atexit: ExitProcess runs no std::atexit handler.
#pragma once

namespace kolm::platform {

// Runs `fn` once at the end of the process, however it ends normally:
// through ExitProcess, or through exit() (a test returning from main).
// Handlers run newest first. At most 16; further ones are refused (false).
bool at_process_exit(void (*fn)());

} // namespace kolm::platform
