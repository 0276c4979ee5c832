/* Written in C on purpose: other programs of the player are C programs that link
 * the library and send requests through its public header, exactly as the
 * programs of this system do. */
#include "zelmsg.h"

#include <stdio.h>
#include <sys/ipc.h>

int main(void)
{
    char got[2];

    while (getmsg(got, SETUP_2_ZELD, 0) == 0) {
    }
    if (addmsg("p", SETUP_2_ZELD, IPC_NOWAIT) != 0)
        return 1;
    if (getmsg(got, SETUP_2_ZELD, 0) != 0 || got[0] != 'p' || got[1] != '\0') {
        fprintf(stderr, "request did not round-trip\n");
        return 1;
    }
    printf("C client: request round-tripped\n");
    return 0;
}
