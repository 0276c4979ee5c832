// The settings file as bytes: opened only as a file of ours, read and replaced whole,
// through the settings lock's own descriptor while this process holds the lock.
#include "zelmsg.h"
#include "zelmsg_tool.h"
#include "store_internal.h"
#include "own_file.h"
#include "os_calls.h"
#include "zel_paths.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using zelmsg::again_on_eintr;
using zelmsg::os;

// Descriptor that carries the settings lock from get_lock to release_lock (in the
// configurator's build, through one write).
int lock_fd = -1;
// Length of the locked file as this process last read or wrote it through the lock,
// -1 when not known; no locked writer can change it in between.
off_t lock_size = -1;
// The locked file's permissions and link count as the lock found them: with a second
// name (somebody's hard link) it is not written into but replaced (put_text_beside).
mode_t lock_mode = 0;
nlink_t lock_links = 1;

// A file that a writer replaced at the path while others waited for its lock has this
// bit (the sticky bit, which means nothing on a regular file): whoever gets that lock
// afterwards opens the path again. One fstat tells it, where comparing with the path
// would cost a further stat on every operation.
constexpr mode_t kPutAside = S_ISVTX;
// Opening again after a writer replaced the file: bounded all the same.
constexpr int kLockAttempts = 100;

// The lock's descriptor when the path names the locked file, otherwise -1.
int locked_fd_of(const char *path)
{
    if (lock_fd < 0)
        return -1;
    if (strcmp(path, SETTING_FILE) == 0)
        return lock_fd;
    struct stat a, b;
    if (os.stat_path(path, &a) == 0 && os.fstat_file(lock_fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino)
        return lock_fd;
    return -1;
}

void close_keeping_errno(int fd)
{
    int e = errno;
    os.close_file(fd);
    errno = e;
}

bool read_at(int fd, char *buf, size_t count)
{
    size_t done = 0;
    while (done < count) {
        ssize_t r =
            again_on_eintr([&] { return os.pread_file(fd, buf + done, count - done, static_cast<off_t>(done)); });
        if (r <= 0)
            return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

bool write_at(int fd, const char *text, size_t count, off_t at)
{
    size_t done = 0;
    while (done < count) {
        ssize_t w = again_on_eintr(
            [&] { return os.pwrite_file(fd, text + done, count - done, at + static_cast<off_t>(done)); });
        if (w <= 0)
            return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

// Replaces the file's content so that a file system without room leaves it as it
// was, with nothing but writes and truncates (old kernels' tmpfs has no fallocate):
// first the part beyond the old end, which is all that needs new space and is taken
// back when it does not fit; then the rest in place, over pages the file already
// owns; last the cut of what the old content had beyond the new one. `end` is the
// file's length when known (else -1); the first `unchanged` bytes are known to be the
// file's own already and are not written.
bool replace_content(int fd, off_t end, const char *text, size_t count, size_t unchanged)
{
    if (end < 0)
        end = os.lseek_file(fd, 0, SEEK_END);
    if (end < 0)
        return false;
    const size_t old = static_cast<size_t>(end);
    if (count > old && !write_at(fd, text + old, count - old, end)) {
        // Takes back what was added; the old bytes are untouched. Ignored on purpose when
        // that fails too: the old text is whole either way, and the write's failure is
        // what the caller reports.
        (void)os.ftruncate_file(fd, end);
        return false;
    }
    size_t head = count < old ? count : old;
    if (unchanged < head && !write_at(fd, text + unchanged, head - unchanged, static_cast<off_t>(unchanged)))
        return false;
    return count >= old || os.ftruncate_file(fd, static_cast<off_t>(count)) == 0;
}

// The text for a file of ours that has another name (`old`, permissions `mode`): it
// goes whole into a new file, locked before the path names it, which then takes the
// path; the old file, marked as put aside for whoever waits for its lock, is left
// with its bytes to its other names. The new file's descriptor, or -1 (the old file
// then as it was).
int put_text_beside(const char *path, int old, mode_t mode, const char *text, size_t count)
{
    char name[zelmsg::kBesideName];
    int fd = zelmsg::create_beside(path, name);
    if (fd < 0)
        return -1;
    bool placed = false;
    if (zelmsg::lock_file(fd, false, false) && write_at(fd, text, count, 0) &&
        os.fchmod_file(old, mode | kPutAside) == 0) {
        placed = zelmsg::put_in_place(fd, name, path, mode) == 0;
        // Ignored on purpose when the mark cannot be taken off: the path still names
        // the old file, and whoever locks it next takes the mark off (take_lock).
        if (!placed)
            (void)os.fchmod_file(old, mode);
    } else {
        os.unlink_path(name);
    }
    if (placed)
        return fd;
    close_keeping_errno(fd);
    return -1;
}
} // namespace

// The settings file lies in /tmp, where anybody may plant a link, a FIFO or a file of
// their own: it is opened only as a regular file of ours, never through a link and
// never waiting on a FIFO, and anything else there is refused with a line naming the
// path, as a missing file is. A caller's other paths need only be regular files.
int zelmsg::open_store_file(const char *path, int flags, struct stat *st)
{
    const bool tmp = zel_in_tmp(path);
    // O_NONBLOCK: a FIFO opens at once instead of waiting, and is then refused.
    int fd = os.open_file(path, flags | (tmp ? O_NOFOLLOW : 0) | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat seen = {};
    if (st == nullptr)
        st = &seen;
    if (fd >= 0) {
        int e = 0;
        if (os.fstat_file(fd, st) != 0)
            e = errno;
        else if (tmp ? !ours(*st) : !S_ISREG(st->st_mode))
            e = tmp ? refusal(*st) : S_ISDIR(st->st_mode) ? EISDIR : EINVAL;
        if (e != 0) {
            os.close_file(fd);
            errno = e;
            fd = -1;
        }
    }
    if (fd < 0 && errno != ENOENT)
        perror(path);
    return fd;
}

int zelmsg::take_lock(int flags, bool shared, int polls, useconds_t poll_usec)
{
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        int fd = os.open_file(SETTING_FILE, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno != ENOENT)
                perror(SETTING_FILE);
            return -1;
        }
        // Asked for before the file is looked at, which one fstat then does for both:
        // whether it is ours, and whether a writer put it aside. Waited for only
        // when it is ours: the owner of a planted file could hold its lock for good.
        bool locked = lock_file(fd, shared, false);
        const bool busy = !locked && (errno == EAGAIN || errno == EACCES);
        struct stat st;
        int e = os.fstat_file(fd, &st) == 0 ? ours(st) ? 0 : refusal(st) : errno;
        if (e == 0 && busy) {
            if (polls < 0) {
                locked = lock_file(fd, shared, true);
            } else {
                for (int poll = 0; !locked && poll < polls; ++poll) {
                    os.sleep_usec(poll_usec);
                    locked = lock_file(fd, shared, false);
                    if (!locked && errno != EAGAIN && errno != EACCES)
                        break;
                }
            }
            if (locked && os.fstat_file(fd, &st) != 0)
                e = errno;
        }
        if (e != 0) {
            os.close_file(fd);
            errno = e;
            perror(SETTING_FILE);
            return -1;
        }
        if (!locked) {
            close_keeping_errno(fd);
            return -1;
        }
        if ((st.st_mode & kPutAside) != 0) {
            // Put aside by a writer, or (the path still names it) a mark left by one
            // whose replacing failed, taken off then.
            struct stat now;
            if (os.stat_path(SETTING_FILE, &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
                os.close_file(fd);
                continue;
            }
            // Ignored on purpose when it fails: the next to lock finds the mark with
            // the path still naming the file, and takes it off then.
            (void)os.fchmod_file(fd, st.st_mode & ~kPutAside);
        }
        lock_fd = fd;
        lock_size = -1;
        lock_mode = st.st_mode & ~kPutAside;
        lock_links = st.st_nlink;
        return 0;
    }
    errno = EAGAIN;
    perror(SETTING_FILE);
    return -1;
}

// A POSIX record lock over the whole file, the one lockf(fd, F_LOCK, 0) takes at
// offset 0, so that it conflicts with the lockf locks of the player's other programs.
// Anchored at SEEK_SET, it does not depend on the descriptor's offset. A reader may
// share it with other readers: it still excludes every writer.
bool zelmsg::lock_file(int fd, bool shared, bool wait)
{
    struct flock fl = {};
    fl.l_type = shared ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    return again_on_eintr([&] { return os.lock_record(fd, wait ? F_SETLKW : F_SETLK, &fl); }) == 0;
}

int zelmsg::locked_fd()
{
    return lock_fd;
}

int zelmsg::give_lock()
{
    if (lock_fd < 0)
        return -1;
    // Closing a descriptor of the file gives back every lock the process holds on it;
    // an unlock request first would only cost a further call.
    int rc = os.close_file(lock_fd);
    lock_fd = -1;
    return rc == 0 ? 0 : -1;
}

int zelmsg_load_file(const char *path, char *buffer, int maxlen)
{
    int fd = locked_fd_of(path);
    const bool own = fd < 0;
    if (own)
        fd = zelmsg::open_store_file(path, O_RDONLY);
    if (fd < 0) {
        fprintf(stderr, "File open r error %s\r\n", path);
        return -1;
    }
    // A negative maximum has room for nothing.
    const size_t room = maxlen > 0 ? static_cast<size_t>(maxlen) : 0;
    int rc = -2;
    if (!own) {
        // The settings file under the lock, a regular file: a read of it ends short
        // only at its end, so one read also tells its length.
        ssize_t n = again_on_eintr([&] { return os.pread_file(fd, buffer, room, 0); });
        if (n >= 0)
            rc = static_cast<int>(n);
        lock_size = n >= 0 && static_cast<size_t>(n) < room ? n : -1;
    } else {
        off_t size = os.lseek_file(fd, 0, SEEK_END);
        size_t count = size < 0 ? 0 : static_cast<size_t>(size) < room ? static_cast<size_t>(size) : room;
        if (size >= 0 && read_at(fd, buffer, count))
            rc = static_cast<int>(count);
    }
    if (rc < 0)
        fprintf(stderr, "read error %s\r\n", path);
    if (own)
        os.close_file(fd);
    return rc;
}

int zelmsg_save_file(const char *path, const char *text, size_t unchanged)
{
    int fd = locked_fd_of(path);
    const bool own = fd < 0;
    struct stat st = {};
    // Opened without truncating: the old settings stay until the new ones fit.
    if (own)
        fd = zelmsg::open_store_file(path, O_WRONLY | O_CREAT, &st);
    if (fd < 0) {
        fprintf(stderr, "File open w error %s\r\n", path);
        return -1;
    }
    size_t count = strlen(text) + 1;
    bool saved;
    if (own ? st.st_nlink > 1 && zel_in_tmp(path) : lock_links > 1) {
        // A file of ours with a second name: nothing goes into it any more.
        int fresh = put_text_beside(own ? path : SETTING_FILE, fd, own ? st.st_mode : lock_mode, text, count);
        saved = fresh >= 0;
        if (saved && !own) {
            // The lock goes on in the new file, already locked; the old one's is given
            // back for its waiters, who find it put aside.
            os.close_file(lock_fd);
            lock_fd = fresh;
            lock_links = 1;
        } else if (saved) {
            os.close_file(fresh);
        }
    } else {
        saved = replace_content(fd, own ? -1 : lock_size, text, count, unchanged);
    }
    int rc = saved ? static_cast<int>(count) : -2;
    if (!own)
        lock_size = rc < 0 ? -1 : static_cast<off_t>(count);
    if (rc < 0)
        fprintf(stderr, "0150 write error %s\r\n", path);
    if (own)
        os.close_file(fd);
    return rc;
}
