#include "os_calls.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>

namespace zelmsg {
namespace {
// open and fcntl take variable arguments, and the stat calls may be inline in the C
// library's header: each gets a plain function of a fixed type.
int real_open(const char *path, int flags, mode_t mode)
{
    return open(path, flags, mode);
}

int real_close(int fd)
{
    return close(fd);
}

ssize_t real_pread(int fd, void *buf, size_t count, off_t at)
{
    return pread(fd, buf, count, at);
}

ssize_t real_pwrite(int fd, const void *buf, size_t count, off_t at)
{
    return pwrite(fd, buf, count, at);
}

off_t real_lseek(int fd, off_t offset, int whence)
{
    return lseek(fd, offset, whence);
}

int real_ftruncate(int fd, off_t length)
{
    return ftruncate(fd, length);
}

int real_fstat(int fd, struct stat *st)
{
#if defined(STATX_TYPE) && defined(__GLIBC__) && !defined(__UCLIBC__)
    // Only what the store looks at. A newer kernel that is asked for a file's times
    // stamps its next write with a finer and dearer clock reading: on the
    // read-modify-write of every change that cost as much as the call itself. glibc
    // answers from fstat where the kernel has no statx.
    struct statx sx;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_INO, &sx) != 0)
        return -1;
    *st = {};
    st->st_mode = sx.stx_mode;
    st->st_nlink = sx.stx_nlink;
    st->st_uid = sx.stx_uid;
    st->st_ino = sx.stx_ino;
    st->st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    return 0;
#else
    return fstat(fd, st);
#endif
}

int real_stat(const char *path, struct stat *st)
{
    return stat(path, st);
}

int real_lock_record(int fd, int cmd, struct flock *fl)
{
    return fcntl(fd, cmd, fl);
}

int real_usleep(useconds_t usec)
{
    return usleep(usec);
}

ssize_t real_read(int fd, void *buf, size_t count)
{
    return read(fd, buf, count);
}

ssize_t real_write(int fd, const void *buf, size_t count)
{
    return write(fd, buf, count);
}

int real_lstat(const char *path, struct stat *st)
{
    return lstat(path, st);
}

int real_unlink(const char *path)
{
    return unlink(path);
}

int real_rename(const char *from, const char *to)
{
    return rename(from, to);
}

int real_fchmod(int fd, mode_t mode)
{
    return fchmod(fd, mode);
}

int real_set_fd_flags(int fd, int cmd, int arg)
{
    return fcntl(fd, cmd, arg);
}

int real_mkstemp(char *name_template)
{
    return mkstemp(name_template);
}

int real_ioctl(int fd, unsigned long request, void *arg)
{
    return ioctl(fd, request, arg);
}
} // namespace

// Both constant-initialized: in place before any constructor of a program runs.
constexpr os_calls real_os = {real_open,      real_close,        real_pread,   real_pwrite,      real_lseek,
                              real_ftruncate, real_fstat,        real_stat,    real_lock_record, real_usleep,
                              real_read,      real_write,        real_lstat,   real_unlink,      real_rename,
                              real_fchmod,    real_set_fd_flags, real_mkstemp, real_ioctl};

os_calls os = real_os;

} // namespace zelmsg
