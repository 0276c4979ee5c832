// shmpoke: sets the word at offset 1588 of the shared control block to 1.
#include "control_block.h"

#include <cstdio>

int main()
{
    ControlBlock cb;
    // attach() has already said which call failed; nothing has been written.
    if (cb.attach() != 0)
        return 1;
    fputs("before...\n", stdout);
    fflush(stdout);
    cb.setPokeWord(1);
    fputs("after...\n", stdout);
    return 0;
}
