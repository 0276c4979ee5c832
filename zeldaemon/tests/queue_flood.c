/* Another program of the player that fills the service-request queue with noise:
 * letters "a" to "q" and bytes outside that set, other type words, and texts of
 * several bytes. Usage: queue_flood COUNT SEED */
#include "zelmsg.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: queue_flood COUNT SEED\n");
        return 2;
    }
    long count = atol(argv[1]);
    srand((unsigned)atol(argv[2]));
    int id = msgget(ftok(ZEL_QUEUE_DIR, SETUP_2_ZELD), IPC_CREAT | 0644);
    if (id == -1) {
        perror("msgget");
        return 1;
    }
    struct {
        long mtype;
        char mtext[16];
    } m;
    for (long i = 0; i < count; i++) {
        int kind = rand() % 10;
        size_t len = 1;
        m.mtype = SETUP_2_ZELD;
        if (kind < 6) {
            /* a request, never "r": a restart-all would pause the sweeps */
            m.mtext[0] = (char)('a' + rand() % 17);
        } else if (kind < 8) {
            m.mtext[0] = (char)(rand() % 256);
            if (m.mtext[0] == 'r')
                m.mtext[0] = 's';
        } else if (kind < 9) {
            m.mtype = 1 + rand() % 100000;
            m.mtext[0] = (char)('a' + rand() % 17);
        } else {
            len = 2 + (size_t)(rand() % 14);
            for (size_t j = 0; j < len; j++)
                m.mtext[j] = (char)('a' + rand() % 26);
        }
        if (msgsnd(id, &m, len, 0) == -1) {
            perror("msgsnd");
            return 1;
        }
    }
    return 0;
}
