// A program as the system's programs are written: win32.h, then the trace
// facility. Traces three lines and prints what dprintf returned.
#include "win32.h"
#include "mydebug.h"

int main()
{
    const int n = dprintf("kolm32: event %x, status %ld, %s\n", 0x1Cu, static_cast<DWORD>(0xFFFFFFFF), "ok");
    OutputDBString_word("Rejecting message %04x\n", 0x1234);
    OutputDBString_word("%u: 123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890",
                        65535);
    printf("%d %d\n", n, what2debug);
    return 0;
}
