// The names under which a port's slave is published: symbolic links that an
// application opens in place of /dev/pts/N, which changes whenever the port
// is hung up and made anew.
#pragma once

#include <filesystem>
#include <string>

#include "portdrv/pty_device.h"

namespace kolm::platform::portdrv {

// Points `link` at `target`, replacing an older link in one step (a new link
// under a temporary name, renamed over the old one), so an application that
// opens the port at any moment finds either the old or the new slave. A path
// that exists and is not a symbolic link is never replaced.
SysResult<bool> publish_link(const std::filesystem::path& link, const std::string& target);

// Removes `link` if it is still a symbolic link to `target` (another process
// may have taken the name over since).
bool withdraw_link(const std::filesystem::path& link, const std::string& target);

} // namespace kolm::platform::portdrv
