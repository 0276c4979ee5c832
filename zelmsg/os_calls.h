// The system calls of the settings store, in one table: the real ones unless a test
// puts its own in an entry (to return EINTR, ENOSPC or a short count), so that the
// store's retry and failure paths run without root or a full file system.
// Internal to the library; not part of the public header.
#ifndef ZELMSG_OS_CALLS_H
#define ZELMSG_OS_CALLS_H

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
};

// The table the store calls through.
extern os_calls os;
// The real calls, for a test to put back or to call from its own entries.
extern const os_calls real_os;

} // namespace zelmsg

#endif
