// Service-request queue: one-byte requests on a System V message queue whose key
// every process derives from the firmware folder, so nothing has to store it.
#include "zelmsg.h"

#include <errno.h>
#include <stdio.h>
#include <sys/ipc.h>
#include <sys/msg.h>

namespace {
// IPC_CREAT with mode 0644: whichever side comes first creates the queue.
constexpr int kOpenFlags = IPC_CREAT | 0644;
static_assert(kOpenFlags == 0x3A4, "queue open flags");

int open_queue(ZELMTYPE mtype, int msgflg)
{
    key_t key = get_setup_zel_key(mtype);
    if (key == -1)
        return -1;
    return msgget(key, msgflg | kOpenFlags);
}
} // namespace

extern "C" key_t get_setup_zel_key(ZELMTYPE mtype)
{
    key_t key = ftok(ZEL_QUEUE_DIR, mtype);
    if (key == -1)
        perror("ftok");
    return key;
}

extern "C" int addmsg(const char *str, ZELMTYPE mtype, int msgflg)
{
    struct my_msgbuf mbuf;
    mbuf.mtype = mtype;
    mbuf.mtext[0] = str[0];

    int msqid = open_queue(mtype, msgflg);
    if (msqid == -1)
        return -1;
    // Flags 0: a full queue makes the sender wait for the daemon.
    if (msgsnd(msqid, &mbuf, 1, 0) == -1) {
        perror("msgsnd");
        return -1;
    }
    return 0;
}

extern "C" int getmsg(char *gotmsg, ZELMTYPE mtype, int msgflg)
{
    struct my_msgbuf mbuf;
    int msqid = open_queue(mtype, msgflg);
    if (msqid == -1)
        return -1;

    ssize_t got = msgrcv(msqid, &mbuf, 1, 0, IPC_NOWAIT);
    if (got == -1) {
        if (errno == ENOMSG || errno == EIDRM)
            return -1;
        int err = errno;
        perror("msgrcv");
        if (err == E2BIG) {
            // A longer message from another program is no request. Left at the
            // head it would block every later request, so drop it.
            struct {
                long mtype;
                char mtext[1];
            } head;
            msgrcv(msqid, &head, 1, 0, IPC_NOWAIT | MSG_NOERROR);
        }
        return -1;
    }
    // A message of no bytes is no request: the buffer's byte is whatever an earlier
    // message left there, and handing it back would repeat that request.
    if (got == 0)
        return -1;
    gotmsg[0] = mbuf.mtext[0];
    gotmsg[1] = '\0';
    return 0;
}
