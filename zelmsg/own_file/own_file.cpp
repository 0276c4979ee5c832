// Own files under /tmp: O_NOFOLLOW, O_NONBLOCK, O_EXCL, lstat, fstat, mkstemp and
// rename, all of which a 2.6 kernel and uClibc have; every file call goes through the
// library's OS table (os_calls.h), as the store's do.
#include "own_file.h"
#include "os_calls.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace zelmsg {

int refusal(const struct stat &st)
{
    if (S_ISLNK(st.st_mode))
        return ELOOP;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    return EPERM;
}

namespace {

// A name that somebody else may have made in between is tried again, a few times.
constexpr int kCreateAttempts = 3;
void close_keeping_errno(int fd)
{
    int e = errno;
    os.close_file(fd);
    errno = e;
}

// create_own's copy of a kept file of ours that has other names (`seen`, as lstat
// found it): its text goes into a new file that takes the path; the old file is only
// read. The new file's descriptor, placed as the flags want it, or -1 with errno;
// EAGAIN when the path no longer names the file seen.
int copy_beside(const char *path, const struct stat &seen, int flags)
{
    int old = os.open_file(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
    if (old < 0)
        return -1;
    struct stat now;
    if (os.fstat_file(old, &now) != 0 || now.st_dev != seen.st_dev || now.st_ino != seen.st_ino || !ours(now)) {
        os.close_file(old);
        errno = EAGAIN;
        return -1;
    }
    char name[kBesideName];
    int fd = create_beside(path, name);
    bool copied = fd >= 0;
    char buf[1024];
    ssize_t n = 0;
    while (copied && (n = again_on_eintr([&] { return os.read_file(old, buf, sizeof buf); })) != 0)
        copied = n > 0 && os.write_file(fd, buf, static_cast<size_t>(n)) == n;
    close_keeping_errno(old);
    if (fd < 0)
        return -1;
    if (!copied) {
        close_keeping_errno(fd);
        os.unlink_path(name);
        return -1;
    }
    if (put_in_place(fd, name, path, now.st_mode) != 0) {
        close_keeping_errno(fd);
        return -1;
    }
    if ((flags & O_APPEND) != 0 ? os.set_fd_flags(fd, F_SETFL, O_APPEND) != 0 : os.lseek_file(fd, 0, SEEK_SET) != 0) {
        close_keeping_errno(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool ours(const struct stat &st)
{
    // Root's files first: the player's programs run as root, and geteuid is a call.
    return S_ISREG(st.st_mode) && (st.st_uid == 0 || st.st_uid == geteuid());
}

bool own_file(const struct stat &st)
{
    return st.st_nlink == 1 && ours(st);
}

int create_beside(const char *path, char *name)
{
    size_t len = strlen(path);
    if (len + 8 > kBesideName) {
        errno = ENAMETOOLONG;
        return -1;
    }
    snprintf(name, kBesideName, "%s.XXXXXX", path);
    // mkstemp makes a new file (O_EXCL, mode 0600) under a name of its own choice.
    int fd = os.make_temp(name);
    if (fd >= 0 && os.set_fd_flags(fd, F_SETFD, FD_CLOEXEC) != 0) {
        close_keeping_errno(fd);
        os.unlink_path(name);
        return -1;
    }
    return fd;
}

int put_in_place(int fd, const char *name, const char *path, mode_t mode)
{
    if (os.fchmod_file(fd, mode & 0777) == 0 && os.rename_path(name, path) == 0)
        return 0;
    int e = errno;
    os.unlink_path(name);
    errno = e;
    return -1;
}

int open_own(const char *path, int flags)
{
    // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer or reader,
    // and is then refused; on a regular file it changes nothing.
    int fd = os.open_file(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    struct stat st;
    int e;
    if (os.fstat_file(fd, &st) != 0)
        e = errno;
    else if (own_file(st))
        return fd;
    else
        e = refusal(st);
    os.close_file(fd);
    errno = e;
    return -1;
}

int create_own(const char *path, int flags, mode_t mode)
{
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        struct stat st;
        if (os.lstat_path(path, &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                errno = EISDIR;
                return -1;
            }
            if (own_file(st)) {
                // Truncated only once it is known to be the file just looked at.
                int fd = os.open_file(path, (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
                if (fd < 0 && errno != ELOOP && errno != ENXIO)
                    return -1; // no descriptor to spare, say: the file stays
                struct stat now;
                if (fd >= 0 && os.fstat_file(fd, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
                    own_file(now)) {
                    if ((flags & O_TRUNC) == 0 || os.ftruncate_file(fd, 0) == 0)
                        return fd;
                    close_keeping_errno(fd);
                    return -1;
                }
                if (fd >= 0)
                    os.close_file(fd);
            } else if (ours(st) && (flags & O_TRUNC) == 0) {
                int fd = copy_beside(path, st, flags);
                if (fd >= 0 || errno != EAGAIN)
                    return fd;
                continue; // something else took the path meanwhile: looked at again
            }
            if (os.unlink_path(path) != 0 && errno != ENOENT)
                return -1;
        } else if (errno != ENOENT) {
            return -1;
        }
        // O_EXCL creates a new regular file or fails: it follows no link, opens no FIFO.
        int fd = os.open_file(path, (flags & ~O_TRUNC) | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

int prepare_own(const char *path)
{
    int fd = create_own(path, O_WRONLY | O_TRUNC, 0666);
    if (fd < 0)
        return -1;
    os.close_file(fd);
    return 0;
}

FILE *fopen_own(const char *path, const char *mode)
{
    bool update = strchr(mode, '+') != nullptr;
    int fd;
    const char *stdio_mode;
    if (mode[0] == 'r') {
        fd = open_own(path, update ? O_RDWR : O_RDONLY);
        stdio_mode = update ? "r+" : "r";
    } else {
        fd = create_own(path, (update ? O_RDWR : O_WRONLY) | (mode[0] == 'a' ? O_APPEND : O_TRUNC), 0666);
        stdio_mode = mode[0] == 'a' ? (update ? "a+" : "a") : (update ? "w+" : "w");
    }
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, stdio_mode);
    if (f == nullptr)
        close_keeping_errno(fd);
    return f;
}

} // namespace zelmsg
