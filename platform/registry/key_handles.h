// The process's open registry keys: HKEY values and what they stand for.
#pragma once

#include <memory>

#include "registry/registry_store.h"
#include "win32/types.h"

namespace kolm::platform {

// What an HKEY refers to: a key of one database, and the rights the handle
// was opened with. A handle stays bound to the database it was opened in,
// even when KOLM_ROOT moves on.
struct KeyRef {
    std::shared_ptr<RegistryStore> store;
    KeyId key = 0;
    REGSAM access = 0;
};

// The store of the current machine root (registry.db), opened on first use
// and shared by every thread.
RegResult<std::shared_ptr<RegistryStore>> current_store();

// Resolves a handle. A supported predefined key resolves to its hive root in
// the current machine root, with every right; the others, null and unknown
// values give ERROR_INVALID_HANDLE.
RegResult<KeyRef> resolve_key(HKEY key);

bool is_predefined_key(HKEY key);

// Adds a handle to the table. ERROR_NO_SYSTEM_RESOURCES when it is full.
RegResult<HKEY> add_key_handle(KeyRef ref);

// Removes a handle; predefined keys close successfully and stay usable.
LONG close_key_handle(HKEY key);

} // namespace kolm::platform
