// Diagnostics for developers: a memory region as a hexadecimal and a character table.
#include "zelmsg.h"

#include <stdint.h>
#include <stdio.h>

namespace {
constexpr int kRow = 16;

unsigned row_address(const unsigned char *p)
{
    // Eight digits: the player's addresses are 32 bits wide.
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}
} // namespace

extern "C" int escape_control(int c)
{
    unsigned char b = static_cast<unsigned char>(c);
    return (b < 0x20 || b == 0xFF) ? '.' : b;
}

extern "C" int dump(int line, const void *addr, int length)
{
    const unsigned char *p = static_cast<const unsigned char *>(addr);
    if (line != 0)
        printf("  dump line:%d addr=0x%p, length=0x%x\n", line, addr, static_cast<unsigned>(length));
    else
        printf("  dump addr=0x%p, length=0x%x\n", addr, static_cast<unsigned>(length));

    // Ten blanks stand where the row addresses stand below.
    printf("%10s :  ", "");
    for (int col = 0; col < kRow; ++col)
        printf("%02X ", col);
    printf("\n");

    for (int i = 0; i < length; ++i) {
        if (i % kRow == 0)
            printf("0x%08x :  ", row_address(p + i));
        printf("%02X ", p[i]);
        if ((i + 1) % kRow == 0)
            printf("\n");
    }
    printf("\n");

    for (int i = 0; i < length; ++i) {
        if (i % kRow == 0)
            printf("0x%08x :  ", row_address(p + i));
        printf("%c  ", escape_control(p[i]));
        if ((i + 1) % kRow == 0)
            printf("\n");
    }
    return printf("\n");
}
