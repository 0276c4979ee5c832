/* Checks the old-kernel profile from inside: each call that 2.6.23 lacks fails with the
 * errno that kernel gives, and the old calls that stand beside them still work. Run
 * under `zelplayer --kernel 2.6`; exits 1 on the first difference it reports. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static int fd = -1;
/* A file of its own: an OFD lock would conflict with the POSIX locks taken on fd. */
static int ofd = -1;
static char page[4096] __attribute__((aligned(4096)));

/* Each call returns -1 with errno set, or something else on success. */
static long ofd_setlkw(void)
{
    struct flock fl = {.l_type = F_WRLCK, .l_whence = SEEK_SET};
    return fcntl(ofd, F_OFD_SETLKW, &fl);
}

static long ofd_getlk(void)
{
    struct flock fl = {.l_type = F_WRLCK, .l_whence = SEEK_SET};
    return fcntl(ofd, F_OFD_GETLK, &fl);
}

static long posix_setlkw(void)
{
    struct flock fl = {.l_type = F_WRLCK, .l_whence = SEEK_SET};
    return fcntl(fd, F_SETLKW, &fl);
}

static long lockf_tlock(void)
{
    return lockf(fd, F_TLOCK, 0);
}

static long setpipe_sz(void)
{
    return fcntl(fd, F_SETPIPE_SZ, 4096);
}

static long dupfd_cloexec(void)
{
    return fcntl(fd, F_DUPFD_CLOEXEC, 10);
}

static long fallocate_call(void)
{
    return syscall(SYS_fallocate, fd, 0, 0L, 4096L);
}

static long pipe2_cloexec(void)
{
    int p[2];
    return pipe2(p, O_CLOEXEC);
}

static long pipe_plain(void)
{
    int p[2];
    return pipe(p);
}

static long dup3_call(void)
{
    return syscall(SYS_dup3, fd, 20, O_CLOEXEC);
}

static long accept4_call(void)
{
    return syscall(SYS_accept4, fd, NULL, NULL, 0);
}

static long socket_cloexec(void)
{
    return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

static long socket_plain(void)
{
    return socket(AF_INET, SOCK_DGRAM, 0);
}

static long eventfd2_call(void)
{
    return syscall(SYS_eventfd2, 0, 0);
}

static long eventfd_call(void)
{
    return syscall(SYS_eventfd, 0);
}

static long timerfd_call(void)
{
    return syscall(SYS_timerfd_create, 1, 0);
}

static long getrandom_call(void)
{
    char b[4];
    return syscall(SYS_getrandom, b, sizeof b, 0);
}

static long statx_call(void)
{
    return syscall(SYS_statx, fd, "", 0x1000, 0x7ff, page);
}

static long fstat_call(void)
{
    struct stat st;
    return fstat(fd, &st);
}

static long prlimit_other(void)
{
    struct rlimit rl;
    return syscall(SYS_prlimit64, getppid(), RLIMIT_NOFILE, NULL, &rl);
}

static long getrlimit_call(void)
{
    struct rlimit rl;
    return getrlimit(RLIMIT_NOFILE, &rl);
}

static long madvise_dontdump(void)
{
    return madvise(page, sizeof page, 16);
}

static long madvise_dontneed(void)
{
    return madvise(page, sizeof page, MADV_DONTNEED);
}

static long prctl_new(void)
{
    return syscall(SYS_prctl, 39 /* PR_GET_NO_NEW_PRIVS */, 0, 0, 0, 0);
}

static long prctl_old(void)
{
    return syscall(SYS_prctl, 2 /* PR_GET_PDEATHSIG */, page, 0, 0, 0);
}

static long clone3_call(void)
{
    return syscall(435 /* clone3 */, NULL, 0);
}

static long faccessat2_call(void)
{
    return syscall(439 /* faccessat2 */, AT_FDCWD, "/", 0, 0);
}

static const struct {
    const char *what;
    long (*call)(void);
    int err; /* expected errno, 0: must succeed */
} cases[] = {
    {"fcntl F_OFD_SETLKW (3.15)", ofd_setlkw, EINVAL},
    {"fcntl F_OFD_GETLK (3.15)", ofd_getlk, EINVAL},
    {"fcntl F_SETPIPE_SZ (2.6.35)", setpipe_sz, EINVAL},
    {"fcntl F_SETLKW", posix_setlkw, 0},
    {"lockf F_TLOCK", lockf_tlock, 0},
    {"fcntl F_DUPFD_CLOEXEC (passed for the shells)", dupfd_cloexec, 0},
    {"fallocate on tmpfs (3.5)", fallocate_call, EOPNOTSUPP},
    {"pipe2 O_CLOEXEC (2.6.27)", pipe2_cloexec, ENOSYS},
    {"pipe", pipe_plain, 0},
    {"dup3 (2.6.27)", dup3_call, ENOSYS},
    {"accept4 (2.6.28)", accept4_call, ENOSYS},
    {"socket SOCK_CLOEXEC (2.6.27)", socket_cloexec, EINVAL},
    {"socket", socket_plain, 0},
    {"eventfd2 (2.6.27)", eventfd2_call, ENOSYS},
    {"eventfd", eventfd_call, 0},
    {"timerfd_create (2.6.25)", timerfd_call, ENOSYS},
    {"getrandom (3.17)", getrandom_call, ENOSYS},
    {"statx (4.11)", statx_call, ENOSYS},
    {"fstat", fstat_call, 0},
    {"prlimit64 of another process (2.6.36)", prlimit_other, ENOSYS},
    {"getrlimit", getrlimit_call, 0},
    {"madvise MADV_DONTDUMP (3.4)", madvise_dontdump, EINVAL},
    {"madvise MADV_DONTNEED", madvise_dontneed, 0},
    {"prctl PR_GET_NO_NEW_PRIVS (3.5)", prctl_new, EINVAL},
    {"prctl PR_GET_PDEATHSIG", prctl_old, 0},
    {"clone3 (5.3)", clone3_call, ENOSYS},
    {"faccessat2 (5.8)", faccessat2_call, ENOSYS},
};

int main(void)
{
    char path[] = "/tmp/kernel26_probe.XXXXXX";
    char path2[] = "/tmp/kernel26_probe.XXXXXX";
    fd = mkstemp(path);
    ofd = mkstemp(path2);
    if (fd < 0 || ofd < 0) {
        perror("mkstemp");
        return 1;
    }
    unlink(path);
    unlink(path2);
    int failed = 0;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        errno = 0;
        long rc = cases[i].call();
        int err = rc == -1 ? errno : 0;
        int ok = err == cases[i].err;
        failed |= !ok;
        printf("%s %s: %s", ok ? "ok  " : "FAIL", cases[i].what, err ? strerror(err) : "works");
        if (!ok)
            printf(" (expected %s)", cases[i].err ? strerror(cases[i].err) : "to work");
        printf("\n");
    }
    return failed;
}
