// Plain POSIX socket calls for tests that speak the mailbox wire format
// directly. Kept apart because the Winsock declarations in win32.h and the
// POSIX socket headers cannot meet in one file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kolm::test {

// -1 when the connection fails.
int connect_unix(const std::string& path);
// Writes everything, then half-closes the connection.
bool send_all_and_finish(int fd, const std::vector<uint8_t>& bytes);
void close_fd(int fd);

} // namespace kolm::test
