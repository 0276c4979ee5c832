// Own files under /tmp: O_NOFOLLOW, O_NONBLOCK, O_EXCL, lstat and fstat, all of which
// a 2.6 kernel has.
#include "own_file.h"
#include "os_calls.h"

#include <errno.h>
#include <fcntl.h>
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

} // namespace

bool own_file(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && (st.st_uid == geteuid() || st.st_uid == 0);
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
        if (lstat(path, &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                errno = EISDIR;
                return -1;
            }
            if (own_file(st)) {
                // Truncated only once it is known to be the file just looked at.
                int fd = open(path, (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
                if (fd < 0 && errno != ELOOP && errno != ENXIO)
                    return -1; // no descriptor to spare, say: the file stays
                struct stat now;
                if (fd >= 0 && fstat(fd, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
                    own_file(now)) {
                    if ((flags & O_TRUNC) == 0 || ftruncate(fd, 0) == 0)
                        return fd;
                    int e = errno;
                    close(fd);
                    errno = e;
                    return -1;
                }
                if (fd >= 0)
                    close(fd);
            }
            if (unlink(path) != 0 && errno != ENOENT)
                return -1;
        } else if (errno != ENOENT) {
            return -1;
        }
        // O_EXCL creates a new regular file or fails: it follows no link, opens no FIFO.
        int fd = open(path, (flags & ~O_TRUNC) | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
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
    close(fd);
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
    if (f == nullptr) {
        int e = errno;
        close(fd);
        errno = e;
    }
    return f;
}

} // namespace zelmsg
