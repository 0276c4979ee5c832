// The system calls of the library (the settings store, the files of its own under
// /tmp, the flash partition), in one table: the real ones unless a test puts its own
// in an entry (to return EINTR, ENOSPC or a short count), so that the retry and
// failure paths run without root or a full file system.
// Internal to the library; not part of the public header.
#ifndef ZELMSG_OS_CALLS_H
#define ZELMSG_OS_CALLS_H

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace zelmsg {

struct os_calls {
    int (*open_file)(const char *path, int flags, mode_t mode);
    int (*close_file)(int fd);
    ssize_t (*pread_file)(int fd, void *buf, size_t count, off_t at);
    ssize_t (*pwrite_file)(int fd, const void *buf, size_t count, off_t at);
    off_t (*lseek_file)(int fd, off_t offset, int whence);
    int (*ftruncate_file)(int fd, off_t length);
    // Fills in the type and permissions, links, owner, device and inode only.
    int (*fstat_file)(int fd, struct stat *st);
    int (*stat_path)(const char *path, struct stat *st);
    // fcntl with a record lock request (F_SETLK, F_SETLKW).
    int (*lock_record)(int fd, int cmd, struct flock *fl);
    int (*sleep_usec)(useconds_t usec);
    ssize_t (*read_file)(int fd, void *buf, size_t count);
    ssize_t (*write_file)(int fd, const void *buf, size_t count);
    int (*lstat_path)(const char *path, struct stat *st);
    int (*unlink_path)(const char *path);
    int (*rename_path)(const char *from, const char *to);
    int (*fchmod_file)(int fd, mode_t mode);
    // fcntl with an int argument (F_SETFD, F_SETFL).
    int (*set_fd_flags)(int fd, int cmd, int arg);
    // mkstemp: a new file (O_EXCL, mode 0600) under the template's name, XXXXXX filled in.
    int (*make_temp)(char *name_template);
    // ioctl on a device, with a pointer to the request's structure.
    int (*ioctl_device)(int fd, unsigned long request, void *arg);
};

// The table the library calls through.
extern os_calls os;
// The real calls, for a test to put back or to call from its own entries.
extern const os_calls real_os;

// A call made again while a signal interrupts it (-1 with EINTR); its last result.
// Inline: the loop costs no call of its own on the store's path.
template <typename Call>
inline auto again_on_eintr(Call call) -> decltype(call())
{
    decltype(call()) r;
    do
        r = call();
    while (r < 0 && errno == EINTR);
    return r;
}

} // namespace zelmsg

#endif
