// Helpers shared by the store and the flash code; not part of the public header.
#ifndef ZELMSG_STORE_INTERNAL_H
#define ZELMSG_STORE_INTERNAL_H

#include <stddef.h>
#include <sys/stat.h>
#include <unistd.h>

// While this process holds the settings lock, zelmsg_load_file (zelmsg_tool.h) and the
// two below reach the settings file through the lock's own descriptor: closing any
// other descriptor of it would give the lock back.

// Loads a settings file into buffer_setting so that its text ends within the bytes
// read; returns the byte count, or read_file's -1 or -2.
int zelmsg_load_settings(const char *path);
// write_file's work, with results that cannot be taken for a count: the count written,
// -1 when the file cannot be opened, -2 when the text did not fit (the file is then
// as it was). Under the settings lock it writes through the lock's descriptor. The
// first `unchanged` bytes of the text are known to be the file's already (a caller
// that just loaded it); they are not written again.
int zelmsg_save_file(const char *path, const char *text, size_t unchanged);

namespace zelmsg {
class SettingsLock;

// The settings file (or a caller's other path) opened as the store opens it: under
// /tmp only a regular file of ours (ours(), other names or not), elsewhere any
// regular file; never through a link, never waiting on a FIFO. The file's status in
// *st when given. -1 with errno, after perror(path) unless it is missing.
int open_store_file(const char *path, int flags, struct stat *st = nullptr);

// A POSIX record lock over the whole file, shared or exclusive, waiting or not;
// an EINTR is tried again.
bool lock_file(int fd, bool shared, bool wait);

// Opens the settings file (flags as open_store_file's) and makes it, locked, the
// carrier of the settings lock: shared or exclusive, waiting for it (polls < 0) or
// asking again up to `polls` times, poll_usec apart. Only a file of ours is waited
// for, and only the one the path names once the lock is held. 0, or -1 with errno:
// ENOENT quietly, a refused file after perror, a lock not had without a message.
int take_lock(int flags, bool shared, int polls, useconds_t poll_usec);

// The descriptor that carries the settings lock, -1 while this process holds none.
int locked_fd();
// Closes the lock's descriptor, which gives the lock back: 0, or -1 when none was
// held or the close failed.
int give_lock();

// Holds the settings lock for one locked operation:
//     zelmsg::SettingsLock lock;
//     if (!lock.held())
//         return -1;
//     ... read, edit and write the settings file ...
//     return lock.release() ? result : -1;
// An early return gives the lock back all the same. A section that only reads may
// take it shared (SettingsLock lock(SettingsLock::kShared)); it must not write then.
// The service programs' build waits for the lock (lock.cpp). The configurator's build
// (nolock.cpp) takes none to read, and to write takes it without waiting for long
// (refused then); a write (kCreating) creates a missing file there.
class SettingsLock {
public:
    enum Mode {
        kExclusive,
        kShared,
        kCreating
    };
    explicit SettingsLock(Mode mode = kExclusive);
    ~SettingsLock() { release(); }
    SettingsLock(const SettingsLock &) = delete;
    SettingsLock &operator=(const SettingsLock &) = delete;

    bool held() const { return held_; }
    // Gives the lock back now; false when it was not held or could not be given back.
    bool release();

private:
    bool held_;
};

// get_lock and release_lock with the modes above, as each build takes the lock.
int take_settings_lock(SettingsLock::Mode mode);
int give_settings_lock();

inline SettingsLock::SettingsLock(Mode mode) : held_(take_settings_lock(mode) == 0) {}

inline bool SettingsLock::release()
{
    if (!held_)
        return false;
    held_ = false;
    return give_settings_lock() == 0;
}
} // namespace zelmsg

#endif
