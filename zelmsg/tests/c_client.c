/* Written in C on purpose: other programs of the player are C programs that link
 * the library and call it through its public header. */
#include "zelmsg.h"

#include <stdio.h>
#include <string.h>

int main(void)
{
    /* Name every entry point so that a missing symbol or a C++-mangled one fails
     * the link. */
    int (*send_op)(const char *, ZELMTYPE, int) = addmsg;
    int (*recv_op)(char *, ZELMTYPE, int) = getmsg;
    key_t (*key_op)(ZELMTYPE) = get_setup_zel_key;
    struct my_msgbuf m;

    m.mtype = SETUP_2_ZELD;
    m.mtext[0] = 'a';
    if (sizeof m.mtext != 1 || m.mtype != 207 || !send_op || !recv_op || !key_op) {
        fprintf(stderr, "unexpected message layout\n");
        return 1;
    }
    printf("C client linked\n");
    return 0;
}
