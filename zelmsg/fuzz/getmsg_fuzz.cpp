// getmsg against whatever other programs might queue: any type word, any length from 0.
// Every message must be taken off within one call each (a request, or one reported
// error for a message that is no request), so the queue always drains.
#include "zelmsg.h"

#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/msg.h>
#include <sys/stat.h>

namespace {
int queue;

// A private queue namespace and a firmware folder of our own, so the host's queues
// and folders stay untouched.
void private_world()
{
    if (unshare(CLONE_NEWNS | CLONE_NEWIPC) != 0) {
        perror("unshare (run as root)");
        abort();
    }
    mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    if (mount("fuzz", "/mnt", "tmpfs", 0, nullptr) != 0) {
        perror("mount /mnt");
        abort();
    }
    mkdir("/mnt/oak7210", 0755);
    mkdir(ZEL_QUEUE_DIR, 0755);
    queue = msgget(ftok(ZEL_QUEUE_DIR, SETUP_2_ZELD), IPC_CREAT | 0644);
    if (queue == -1)
        abort();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    private_world();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    struct {
        long mtype;
        char mtext[64];
    } m;
    int sent = 0;
    // What each message must give: its byte for a one-byte message, nothing else.
    int want[32];
    // Each message: 2 bytes of type word, 1 byte of length (0..64), then the text.
    while (size >= 3 && sent < 32) {
        m.mtype = 1 + (data[0] | data[1] << 8);
        size_t len = data[2] % (sizeof m.mtext + 1);
        data += 3;
        size -= 3;
        if (len > size)
            len = size;
        memcpy(m.mtext, data, len);
        data += len;
        size -= len;
        if (msgsnd(queue, &m, len, IPC_NOWAIT) != 0)
            abort();
        want[sent++] = len == 1 ? static_cast<unsigned char>(m.mtext[0]) : -1;
    }
    for (int i = 0; i < sent; i++) {
        char got[2] = {'x', 'x'};
        int rc = getmsg(got, SETUP_2_ZELD, 0);
        if (want[i] < 0 ? rc != -1 || got[0] != 'x' || got[1] != 'x'
                        : rc != 0 || static_cast<unsigned char>(got[0]) != want[i] || got[1] != '\0')
            abort();
    }
    struct msqid_ds ds;
    if (msgctl(queue, IPC_STAT, &ds) != 0 || ds.msg_qnum != 0)
        abort(); // a message stayed behind and would block the daemon
    char got[2] = {'x', 'x'};
    if (getmsg(got, SETUP_2_ZELD, 0) != -1 || got[0] != 'x')
        abort();
    return 0;
}
