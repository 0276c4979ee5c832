/* zel-kernel: runs a command under the system-call profile of an old kernel, so that
 * what the player's kernel lacks fails here the way it fails there.
 *
 *   zel-kernel 2.6 COMMAND [ARGS...]
 *
 * Profile 2.6 is Linux 2.6.23 on x86-64: calls added later give ENOSYS, fcntl commands
 * added later EINVAL, and fallocate EOPNOTSUPP, which is what tmpfs (/tmp) gave before
 * 3.5. A seccomp filter is inherited by every child and kept across exec, so the whole
 * player runs under it. Other ABIs (x32 aside) are not filtered. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef __x86_64__
#error "zel-kernel filters the x86-64 system-call table"
#endif

/* The last call of 2.6.23's x86-64 table is fallocate (285); timerfd (283) came in
 * 2.6.22 with another interface and was switched off in 2.6.23. */
#define LAST_CALL 285
#define TIMERFD_2_6_22 283
#define X32_BIT 0x40000000u

#define ALLOW SECCOMP_RET_ALLOW
#define FAIL(e) (SECCOMP_RET_ERRNO | (e))

static struct sock_filter prog[128];
static unsigned short len;

static void put(struct sock_filter insn)
{
    prog[len++] = insn;
}

static void ret(unsigned int action)
{
    put((struct sock_filter)BPF_STMT(BPF_RET | BPF_K, action));
}

/* Low 32 bits of argument n: the kernel reads these as int or unsigned int. */
static void load_arg(int n)
{
    put((struct sock_filter)BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[n])));
}

/* if (A == k) return action; */
static void ret_if_eq(unsigned int k, unsigned int action)
{
    put((struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, 0, 1));
    ret(action);
}

/* if (A > k) return action; */
static void ret_if_above(unsigned int k, unsigned int action)
{
    put((struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, k, 0, 1));
    ret(action);
}

/* if (A <= k) return action; */
static void ret_if_at_most(unsigned int k, unsigned int action)
{
    put((struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, k, 1, 0));
    ret(action);
}

/* if (nr == call) { <block> }: returns the index to patch once the block is out. */
static unsigned short begin_call(unsigned int call)
{
    put((struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call, 0, 0));
    return len - 1;
}

static void end_call(unsigned short at)
{
    prog[at].jf = (unsigned char)(len - at - 1);
}

static void build_2_6(void)
{
    unsigned short at;
    put((struct sock_filter)BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)));
    put((struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
    ret(ALLOW);
    put((struct sock_filter)BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)));
    /* x32 came with 3.4. */
    put((struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, X32_BIT, 0, 1));
    ret(FAIL(ENOSYS));

    /* fcntl: F_DUPFD to F_GETSIG (0 to 11) and the lease and notify commands. Open-file
     * description locks (36 to 38, 3.15), F_SETOWN_EX (2.6.32), pipe sizes (2.6.35)
     * and seals (3.17) are unknown there. F_DUPFD_CLOEXEC (1030, 2.6.24) passes: Debian's
     * shells use it without a fallback, where the player's, built against old headers,
     * use F_DUPFD. */
    at = begin_call(__NR_fcntl);
    load_arg(1);
    ret_if_at_most(F_GETSIG, ALLOW);
    ret_if_eq(F_SETLEASE, ALLOW);
    ret_if_eq(F_GETLEASE, ALLOW);
    ret_if_eq(F_NOTIFY, ALLOW);
    ret_if_eq(F_DUPFD_CLOEXEC, ALLOW);
    ret(FAIL(EINVAL));
    end_call(at);

    /* The call exists, tmpfs does not implement it. */
    at = begin_call(__NR_fallocate);
    ret(FAIL(EOPNOTSUPP));
    end_call(at);

    /* SOCK_CLOEXEC and SOCK_NONBLOCK in the type came with 2.6.27. */
    {
        static const unsigned int typed[] = {__NR_socket, __NR_socketpair};
        for (unsigned int i = 0; i < sizeof typed / sizeof typed[0]; i++) {
            at = begin_call(typed[i]);
            load_arg(1);
            ret_if_above(10, FAIL(EINVAL));
            ret(ALLOW);
            end_call(at);
        }
    }

    /* madvise: advice 0 to 4 and 9 to 11; later ones (MERGEABLE, HUGEPAGE, DONTDUMP,
     * FREE, ...) are unknown. */
    at = begin_call(__NR_madvise);
    load_arg(2);
    ret_if_above(11, FAIL(EINVAL));
    ret_if_at_most(4, ALLOW);
    ret_if_at_most(8, FAIL(EINVAL));
    ret(ALLOW);
    end_call(at);

    /* prctl: options 1 (PR_SET_PDEATHSIG) to 22 (PR_SET_SECCOMP). */
    at = begin_call(__NR_prctl);
    load_arg(0);
    ret_if_eq(0, FAIL(EINVAL));
    ret_if_above(22, FAIL(EINVAL));
    ret(ALLOW);
    end_call(at);

    /* Two newer calls stand for old ones in glibc 2.36, which has no fallback for them:
     * pipe2 without flags is pipe, and prlimit64 on the caller (pid 0) is getrlimit or
     * setrlimit. Anything more is refused like the rest. */
    at = begin_call(__NR_pipe2);
    load_arg(1);
    ret_if_eq(0, ALLOW);
    ret(FAIL(ENOSYS));
    end_call(at);
    at = begin_call(__NR_prlimit64);
    load_arg(0);
    ret_if_eq(0, ALLOW);
    ret(FAIL(ENOSYS));
    end_call(at);

    ret_if_eq(TIMERFD_2_6_22, FAIL(ENOSYS));
    ret_if_above(LAST_CALL, FAIL(ENOSYS));
    ret(ALLOW);
}

int main(int argc, char **argv)
{
    if (argc < 3 || strcmp(argv[1], "2.6") != 0) {
        fprintf(stderr, "usage: zel-kernel 2.6 COMMAND [ARGS...]\n");
        return 2;
    }
    build_2_6();
    struct sock_fprog fprog = {len, prog};
    /* Root of the player's namespaces may install a filter as it is; anyone else must
     * first give up gaining privileges through exec. */
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog) != 0) {
        if (errno != EACCES || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog) != 0) {
            perror("zel-kernel: seccomp filter");
            return 1;
        }
    }
    execvp(argv[2], argv + 2);
    fprintf(stderr, "zel-kernel: %s: %s\n", argv[2], strerror(errno));
    return 127;
}
