// Movable global memory blocks: GlobalAlloc and its kin.
//
// A block is a kernel object behind a 32-bit handle; GlobalLock gives the
// address of its bytes, which stay where they are for the block's life
// (nothing here resizes a block), and counts the locks as Windows does.
#include <cstring>
#include <mutex>
#include <vector>

#include "kernel/handle_table.h"
#include "win32.h"

namespace kolm::platform {

namespace {

class GlobalBlock : public KernelObject {
public:
    explicit GlobalBlock(size_t size) : bytes(size) {}

    std::mutex lock;
    std::vector<char> bytes; // zero-filled, whatever GMEM_ZEROINIT says
    unsigned locks = 0;      // guarded by lock
};

// The block behind a handle; null, with ERROR_INVALID_HANDLE, for a handle
// that is no block.
std::shared_ptr<GlobalBlock> block_of(HGLOBAL h)
{
    auto block = handle_object<GlobalBlock>(h);
    if (!block)
        SetLastError(ERROR_INVALID_HANDLE);
    return block;
}

} // namespace

} // namespace kolm::platform

using namespace kolm::platform;

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    // NOTE: a fixed block's handle is its address on Windows, which does
    // not fit the 32-bit handles of this layer; only movable blocks exist.
    if (!(uFlags & GMEM_MOVEABLE) || (uFlags & ~(GMEM_MOVEABLE | GMEM_ZEROINIT)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<GlobalBlock> block;
    try {
        block = std::make_shared<GlobalBlock>(dwBytes);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto h = insert_handle(block);
    if (!h) {
        SetLastError(h.error());
        return nullptr;
    }
    return *h;
}

LPVOID GlobalLock(HGLOBAL hMem)
{
    auto block = block_of(hMem);
    if (!block)
        return nullptr;
    std::lock_guard hold(block->lock);
    ++block->locks;
    // A block of no bytes still has an address to hand out.
    return block->bytes.empty() ? static_cast<LPVOID>(block.get()) : block->bytes.data();
}

BOOL GlobalUnlock(HGLOBAL hMem)
{
    auto block = block_of(hMem);
    if (!block)
        return FALSE;
    std::lock_guard hold(block->lock);
    if (block->locks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--block->locks == 0) {
        SetLastError(NO_ERROR);
        return FALSE;
    }
    return TRUE;
}

SIZE_T GlobalSize(HGLOBAL hMem)
{
    auto block = block_of(hMem);
    if (!block)
        return 0;
    return block->bytes.size();
}

HGLOBAL GlobalFree(HGLOBAL hMem)
{
    if (!block_of(hMem) || !close_handle(hMem)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    return nullptr;
}
