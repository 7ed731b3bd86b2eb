// Movable global memory blocks: locks counted, bytes that stay put, and
// handles that are gone after GlobalFree.
#include "win32.h"

#include <gtest/gtest.h>

namespace {

TEST(GlobalMemory, MovableBlocksLockUnlockAndFree)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 96);
    ASSERT_TRUE(h);
    EXPECT_EQ(GlobalSize(h), 96u);
    char* p = static_cast<char*>(GlobalLock(h));
    ASSERT_TRUE(p);
    for (int i = 0; i < 96; ++i)
        ASSERT_EQ(p[i], 0) << "a new block reads as zeros";
    p[95] = 'x';
    EXPECT_EQ(GlobalLock(h), p) << "the bytes stay where they are";
    EXPECT_TRUE(GlobalUnlock(h)) << "still locked once";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR)) << "the last unlock is not an error";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
    EXPECT_EQ(static_cast<char*>(GlobalLock(h))[95], 'x');
    GlobalUnlock(h);

    EXPECT_EQ(GlobalFree(h), nullptr);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalFree(h), h) << "a second free fails and gives the handle back";

    HGLOBAL empty = GlobalAlloc(GHND, 0);
    ASSERT_TRUE(empty);
    EXPECT_NE(GlobalLock(empty), nullptr) << "a block of no bytes still locks";
    GlobalUnlock(empty);
    GlobalFree(empty);
}

TEST(GlobalMemory, FixedBlocksAndOtherHandlesAreRefused)
{
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, 16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(ev);
    EXPECT_EQ(GlobalLock(ev), nullptr) << "an event is no memory block";
    EXPECT_EQ(GlobalFree(ev), ev);
    EXPECT_TRUE(CloseHandle(ev)) << "and GlobalFree left it open";
}

} // namespace
