// Facts of the target ABI that the programs rely on, checked on the machine (or
// emulator) that runs the build: a toolchain with the wrong headers, or an emulator
// that translates a call wrongly, shows up here rather than on the player.
#include <sys/ioctl.h> // <mtd/mtd-user.h> uses the request macros without including them
#include <mtd/mtd-user.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "zelmsg.h"

namespace {

TEST(TargetAbi, MtdRequestsAndStructures)
{
    EXPECT_EQ(sizeof(struct mtd_info_user), 32u);
    EXPECT_EQ(sizeof(struct erase_info_user), 8u);
    EXPECT_EQ(offsetof(struct mtd_info_user, size), 8u);
    EXPECT_EQ(offsetof(struct mtd_info_user, erasesize), 12u);
#if defined(__mips__)
    // MIPS encodes "read" and "write" the other way round from most machines.
    EXPECT_EQ(static_cast<unsigned long>(MEMGETINFO), 0x40204D01ul);
    EXPECT_EQ(static_cast<unsigned long>(MEMERASE), 0x80084D02ul);
    EXPECT_EQ(static_cast<unsigned long>(MEMUNLOCK), 0x80084D06ul);
#else
    EXPECT_EQ(static_cast<unsigned long>(MEMGETINFO), 0x80204D01ul);
    EXPECT_EQ(static_cast<unsigned long>(MEMERASE), 0x40084D02ul);
    EXPECT_EQ(static_cast<unsigned long>(MEMUNLOCK), 0x40084D06ul);
#endif
}

TEST(TargetAbi, NumbersThatDifferOnMips)
{
#if defined(__mips__)
    EXPECT_EQ(ENOMSG, 35);
    EXPECT_EQ(EIDRM, 36);
    EXPECT_EQ(SOCK_DGRAM, 1);
#else
    EXPECT_EQ(ENOMSG, 42);
    EXPECT_EQ(EIDRM, 43);
    EXPECT_EQ(SOCK_DGRAM, 2);
#endif
#if defined(__mips__) || defined(__arm__)
    EXPECT_EQ(sizeof(long) * CHAR_BIT, 32u);
    EXPECT_EQ(sizeof(void *), 4u);
#endif
    EXPECT_EQ(sizeof(int), 4u);
}

TEST(TargetAbi, MessageBufferIsTypeWordThenText)
{
    EXPECT_EQ(offsetof(struct my_msgbuf, mtype), 0u);
    EXPECT_EQ(sizeof(((struct my_msgbuf *)nullptr)->mtype), sizeof(long));
    EXPECT_EQ(offsetof(struct my_msgbuf, mtext), sizeof(long));
    EXPECT_EQ(static_cast<long>(SETUP_2_ZELD), 207);
}

// The queue as the daemon uses it: a 1-byte message of type 207 round-trips, an
// empty queue answers ENOMSG, and a removed queue wakes a waiting reader with EIDRM.
TEST(TargetIpc, MessageQueueRoundTripAndErrors)
{
    int q = msgget(IPC_PRIVATE, IPC_CREAT | 0644);
    ASSERT_GE(q, 0) << strerror(errno);

    struct my_msgbuf out;
    out.mtype = SETUP_2_ZELD;
    out.mtext[0] = 'g';
    ASSERT_EQ(msgsnd(q, &out, 1, 0), 0) << strerror(errno);
    struct my_msgbuf in;
    memset(&in, 0, sizeof in);
    ASSERT_EQ(msgrcv(q, &in, 1, SETUP_2_ZELD, IPC_NOWAIT), 1) << strerror(errno);
    EXPECT_EQ(in.mtype, 207);
    EXPECT_EQ(in.mtext[0], 'g');

    errno = 0;
    EXPECT_EQ(msgrcv(q, &in, 1, SETUP_2_ZELD, IPC_NOWAIT), -1);
    EXPECT_EQ(errno, ENOMSG);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        struct my_msgbuf m;
        if (write(ready[1], "r", 1) != 1)
            _exit(2);
        ssize_t n = msgrcv(q, &m, 1, SETUP_2_ZELD, 0);
        _exit(n == -1 && errno == EIDRM ? 0 : 1);
    }
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    // Give the reader time to block: removal before that gives EINVAL, not a pass.
    usleep(200 * 1000);
    ASSERT_EQ(msgctl(q, IPC_RMID, nullptr), 0);
    int st = 0;
    ASSERT_EQ(waitpid(child, &st, 0), child);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "reader did not see EIDRM";
}

TEST(TargetIpc, SharedMemoryIsSharedBetweenMappings)
{
    int id = shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0666);
    ASSERT_GE(id, 0) << strerror(errno);
    void *a = shmat(id, nullptr, 0);
    void *b = shmat(id, nullptr, 0);
    shmctl(id, IPC_RMID, nullptr);
    ASSERT_NE(a, reinterpret_cast<void *>(-1)) << strerror(errno);
    ASSERT_NE(b, reinterpret_cast<void *>(-1)) << strerror(errno);
    ASSERT_NE(a, b);

    // A 32-bit store at the control block's word is seen through the other mapping.
    *reinterpret_cast<volatile int32_t *>(static_cast<char *>(a) + 1588) = 1;
    int32_t seen;
    memcpy(&seen, static_cast<char *>(b) + 1588, sizeof seen);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(static_cast<char *>(a) + 1588) % 4, 0u);
    shmdt(a);
    shmdt(b);
}

// The interface request that finds the NFS network: an IPv4 datagram socket and
// SIOCGIFADDR on the loopback interface.
TEST(TargetNet, InterfaceAddressRequest)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    // cppcheck-suppress resourceLeak ; the assertion returns only when there is no socket
    ASSERT_GE(s, 0) << strerror(errno);
    struct ifreq ifr;
    memset(&ifr, 0, sizeof ifr);
    strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    int rc = ioctl(s, SIOCGIFADDR, &ifr);
    int err = errno;
    close(s);
    ASSERT_EQ(rc, 0) << strerror(err);
    const struct sockaddr_in *sin = reinterpret_cast<const sockaddr_in *>(&ifr.ifr_addr);
    EXPECT_STREQ(inet_ntoa(sin->sin_addr), "127.0.0.1");
}

} // namespace
