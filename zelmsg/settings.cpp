// Settings store: records "\nkey=value" in one text file that every process of the
// player loads, edits and rewrites whole. The service programs' build serializes its
// read-modify-write sections with an exclusive lock on the file.
#include "zelmsg.h"
#include "store_internal.h"
#include "own_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef ZELMSG_WITH_LOCK
#error "ZELMSG_WITH_LOCK must be 0 or 1"
#endif

char buffer_setting[SETTING_BUF_SIZE + 1];
char keyword_all[SETTING_KEYWORD_SIZE];
char f_dirty;

namespace {
// The record "\nkey=" must fit the pattern buffer with its terminator.
constexpr size_t kMaxKey = SETTING_KEYWORD_SIZE - 3;
constexpr int kOverflow = 0x7FFFFFFF;
// The text stays within 65534 characters so that the file with its NUL fits 65535.
constexpr size_t kRoom = SETTING_BUF_SIZE - 1;
constexpr int kValueBuf = 1024;

// Descriptor that carries the settings lock from get_lock to release_lock (in the
// configurator's build, through one write).
int lock_fd = -1;
// Length of the locked file as this process last read or wrote it through the lock,
// -1 when not known; no locked writer can change it in between.
off_t lock_size = -1;

// The lock's descriptor when the path names the locked file, otherwise -1.
int locked_fd_of(const char *path)
{
    if (lock_fd < 0)
        return -1;
    if (strcmp(path, SETTING_FILE) == 0)
        return lock_fd;
    struct stat a, b;
    if (stat(path, &a) == 0 && fstat(lock_fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino)
        return lock_fd;
    return -1;
}

// The settings file lies in /tmp, where anybody may plant a link, a FIFO or a file of
// their own: it is opened only as a regular file of ours, never through a link and
// never waiting on a FIFO, and anything else there is refused with a line naming the
// path, as a missing file is. A caller's other paths need only be regular files.
int open_store_file(const char *path, int flags)
{
    int fd;
    if (strncmp(path, "/tmp/", 5) == 0) {
        fd = zelmsg::open_own(path, flags);
    } else {
        fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
        struct stat st = {};
        if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            int e = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            close(fd);
            errno = e;
            fd = -1;
        }
    }
    if (fd < 0 && errno != ENOENT)
        perror(path);
    return fd;
}

bool read_at(int fd, char *buf, size_t count)
{
    size_t done = 0;
    while (done < count) {
        ssize_t r = pread(fd, buf + done, count - done, static_cast<off_t>(done));
        if (r < 0 && errno == EINTR)
            continue;
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
        ssize_t w = pwrite(fd, text + done, count - done, at + static_cast<off_t>(done));
        if (w < 0 && errno == EINTR)
            continue;
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
        end = lseek(fd, 0, SEEK_END);
    if (end < 0)
        return false;
    const size_t old = static_cast<size_t>(end);
    if (count > old && !write_at(fd, text + old, count - old, end)) {
        // Takes back what was added; the old bytes are untouched.
        if (ftruncate(fd, end) != 0) {
        }
        return false;
    }
    size_t head = count < old ? count : old;
    if (unchanged < head && !write_at(fd, text + unchanged, head - unchanged, static_cast<off_t>(unchanged)))
        return false;
    return count >= old || ftruncate(fd, static_cast<off_t>(count)) == 0;
}

bool key_valid(const char *key)
{
    if (key == nullptr || key[0] == '\0')
        return false;
    size_t n = strcspn(key, "\n=\xff");
    return n <= kMaxKey && key[n] == '\0';
}

// The pattern "\nkey=" for the last search; false when the key cannot fit.
bool build_pattern(const char *key)
{
    size_t n = strlen(key);
    if (n > kMaxKey)
        return false;
    keyword_all[0] = '\n';
    memcpy(keyword_all + 1, key, n);
    keyword_all[n + 1] = '=';
    keyword_all[n + 2] = '\0';
    return true;
}

// The record of the key in the text loaded last, or null.
char *find_loaded(const char *key)
{
    // A key with a line feed or "=" would match across record boundaries and find,
    // or remove, a record of another key.
    if (key == nullptr || key[strcspn(key, "\n=")] != '\0' || !build_pattern(key))
        return nullptr;
    return strstr(buffer_setting, keyword_all);
}

// Deletes the record that starts at rec with its leading line feed: the rest of the
// text moves down over it with its NUL (what lies beyond is no text).
void cut_record(char *rec)
{
    f_dirty = 1;
    char *next = strchr(rec + 1, '\n');
    if (next != nullptr)
        memmove(rec, next, strlen(next) + 1);
    else
        *rec = '\0';
}

// Removes the key's record from the text loaded last, if it has one; returns how many
// leading bytes of the text stayed as the file holds them, and whether it had one.
size_t cut_loaded(const char *key, bool *found)
{
    char *rec = find_loaded(key);
    *found = rec != nullptr;
    if (rec == nullptr)
        return strlen(buffer_setting);
    cut_record(rec);
    return static_cast<size_t>(rec - buffer_setting);
}

// write_file's results for zelmsg_save_file's: 1 when the file cannot be opened, 2
// when the text did not fit.
int write_result(int saved)
{
    return saved == -1 ? 1 : saved == -2 ? 2 : saved;
}

// Appends the record at the end of the buffer's text, or does nothing and returns
// false when the whole record does not fit: a cut record would lose the value.
bool append_record(const char *key, const void *value, int is_int)
{
    size_t len = strlen(buffer_setting);
    if (len >= kRoom)
        return false;
    size_t room = kRoom - len;
    int n = is_int ? snprintf(buffer_setting + len, room, "\n%s=%d", key, *static_cast<const int *>(value))
                   : snprintf(buffer_setting + len, room, "\n%s=%s", key, static_cast<const char *>(value));
    if (n < 0 || static_cast<size_t>(n) >= room) {
        buffer_setting[len] = '\0';
        return false;
    }
    return true;
}

// A line feed or "=" in the key, or a line feed in the value, would forge records; a
// byte 0xFF anywhere would make the next boot from flash drop every record before it.
bool write_refused(const char *key, const void *value, int is_int)
{
    if (!key_valid(key) || value == nullptr)
        return true;
    return !is_int && strpbrk(static_cast<const char *>(value), "\n\xff") != nullptr;
}

} // namespace

int zelmsg_load_file(const char *path, char *buffer, int maxlen)
{
    int fd = locked_fd_of(path);
    const bool own = fd < 0;
    if (own)
        fd = open_store_file(path, O_RDONLY);
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
        ssize_t n;
        do
            n = pread(fd, buffer, room, 0);
        while (n < 0 && errno == EINTR);
        if (n >= 0)
            rc = static_cast<int>(n);
        lock_size = n >= 0 && static_cast<size_t>(n) < room ? n : -1;
    } else {
        off_t size = lseek(fd, 0, SEEK_END);
        size_t count = size < 0 ? 0 : static_cast<size_t>(size) < room ? static_cast<size_t>(size) : room;
        if (size >= 0 && read_at(fd, buffer, count))
            rc = static_cast<int>(count);
    }
    if (rc < 0)
        fprintf(stderr, "read error %s\r\n", path);
    if (own)
        close(fd);
    return rc;
}

int zelmsg_load_settings(const char *path)
{
    int n = zelmsg_load_file(path, buffer_setting, SETTING_BUF_SIZE);
    // A file that lacks its closing NUL (an empty one, or one written from a shell)
    // must not run on into what the buffer held before.
    if (n >= 0 && n < SETTING_BUF_SIZE && (n == 0 || buffer_setting[n - 1] != '\0'))
        buffer_setting[n] = '\0';
    return n;
}

int zelmsg_save_file(const char *path, const char *text, size_t unchanged)
{
    int fd = locked_fd_of(path);
    const bool own = fd < 0;
    // Opened without truncating: the old settings stay until the new ones fit.
    if (own)
        fd = open_store_file(path, O_WRONLY | O_CREAT);
    if (fd < 0) {
        fprintf(stderr, "File open w error %s\r\n", path);
        return -1;
    }
    size_t count = strlen(text) + 1;
    int rc = replace_content(fd, own ? -1 : lock_size, text, count, unchanged) ? static_cast<int>(count) : -2;
    if (!own)
        lock_size = rc < 0 ? -1 : static_cast<off_t>(count);
    if (rc < 0)
        fprintf(stderr, "0150 write error %s\r\n", path);
    if (own)
        close(fd);
    return rc;
}

extern "C" int read_file(const char *path, char *buffer, int maxlen)
{
    int n = zelmsg_load_file(path, buffer, maxlen);
    return n < 0 ? n : 0;
}

extern "C" int write_file(const char *path, const char *text)
{
    return write_result(zelmsg_save_file(path, text, 0));
}

extern "C" char *find_var(const char *key)
{
    if (zelmsg_load_settings(SETTING_FILE) < 0)
        return nullptr;
    return find_loaded(key);
}

extern "C" int strcpy_del2(char *dest, const char *src, int size, char delim)
{
    if (dest == nullptr || src == nullptr)
        return 0;
    // No room even for the terminator: nothing may be written.
    if (size < 1)
        return src[0] == '\0' || src[0] == delim ? 0 : kOverflow;
    int i = 0;
    while (src[i] != '\0' && src[i] != delim && i < size - 1) {
        dest[i] = src[i];
        ++i;
    }
    if (src[i] != '\0' && src[i] != delim)
        return kOverflow;
    dest[i] = '\0';
    return i;
}

extern "C" int get_var(char *dest, int size, const char *key)
{
    char *rec = find_var(key);
    if (rec == nullptr)
        return 0;
    return strcpy_del2(dest, rec + strlen(keyword_all), size, '\n');
}

extern "C" int remove_var_(const char *key)
{
    char *rec = find_var(key);
    if (rec == nullptr)
        return 0;
    cut_record(rec);
    return 1;
}

namespace {
// A POSIX record lock over the whole file, the one lockf(fd, F_LOCK, 0) takes at
// offset 0, so that it conflicts with the lockf locks of the player's other programs.
// Anchored at SEEK_SET, it does not depend on the descriptor's offset. A reader may
// share it with other readers: it still excludes every writer.
bool lock_file(int fd, bool shared, bool wait)
{
    struct flock fl = {};
    fl.l_type = shared ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    int rc;
    do
        rc = fcntl(fd, wait ? F_SETLKW : F_SETLK, &fl);
    while (rc < 0 && errno == EINTR);
    return rc == 0;
}

#if !ZELMSG_WITH_LOCK
// The configurator's writes wait this long at most for a locked section of another
// process (a commit to slow flash takes seconds), in steps of kLockPollUsec.
constexpr int kLockPolls = 1000;
constexpr useconds_t kLockPollUsec = 10000;
#endif

int take_lock(zelmsg::SettingsLock::Mode mode)
{
    // A second lock of this process would not exclude anything: a POSIX lock is the
    // process's own.
    if (lock_fd >= 0)
        return -1;
    const bool shared = mode == zelmsg::SettingsLock::kShared;
#if ZELMSG_WITH_LOCK
    int fd = open_store_file(SETTING_FILE, shared ? O_RDONLY : O_RDWR);
    if (fd < 0)
        return -1;
    bool locked = lock_file(fd, shared, true);
#else
    // Reads take no lock here. A write takes the lock of the service programs, so
    // that it never leaves a file mixed from two writers, but never waits for long:
    // after kLockPolls it is refused. The first write creates a missing file.
    if (shared)
        return 0;
    int fd = open_store_file(SETTING_FILE, O_RDWR);
    if (fd < 0 && errno == ENOENT && mode == zelmsg::SettingsLock::kCreating) {
        // Said as the load of a missing file always said it; the write goes on.
        fprintf(stderr, "File open r error %s\r\n", SETTING_FILE);
        fd = open_store_file(SETTING_FILE, O_RDWR | O_CREAT);
    }
    if (fd < 0)
        return -1;
    bool locked = lock_file(fd, false, false);
    for (int poll = 0; !locked && (errno == EAGAIN || errno == EACCES) && poll < kLockPolls; ++poll) {
        usleep(kLockPollUsec);
        locked = lock_file(fd, false, false);
    }
#endif
    if (!locked) {
        close(fd);
        return -1;
    }
    lock_fd = fd;
    lock_size = -1;
    return 0;
}

int give_lock()
{
    if (lock_fd < 0)
        return -1;
    // Closing a descriptor of the file gives back every lock the process holds on it;
    // an unlock request first would only cost a further call.
    int rc = close(lock_fd);
    lock_fd = -1;
    return rc == 0 ? 0 : -1;
}
} // namespace

int zelmsg::take_settings_lock(SettingsLock::Mode mode)
{
    return take_lock(mode);
}

int zelmsg::give_settings_lock()
{
#if !ZELMSG_WITH_LOCK
    // A read of the configurator's build took none.
    if (lock_fd < 0)
        return 0;
#endif
    return give_lock();
}

#if ZELMSG_WITH_LOCK
extern "C" int get_lock(void)
{
    return take_lock(zelmsg::SettingsLock::kExclusive);
}

extern "C" int release_lock(void)
{
    return give_lock();
}
#else
extern "C" int get_dirty(void)
{
    return f_dirty;
}
#endif

extern "C" char *get_var_mem(const char *key)
{
    zelmsg::SettingsLock lock(zelmsg::SettingsLock::kShared);
    if (!lock.held())
        return nullptr;
    char value[kValueBuf];
    value[0] = '\0';
    int n = get_var(value, sizeof value, key);
    // A value too long for the buffer is not handed out cut: the caller gets nothing.
    char *copy = (n == 0 || n == kOverflow) ? nullptr : strdup(value);
    if (!lock.release()) {
        free(copy);
        return nullptr;
    }
    return copy;
}

extern "C" int remove_var(const char *key)
{
    zelmsg::SettingsLock lock;
    if (!lock.held())
        return -1;
    // A store that could not be loaded whole is not written back: the records not
    // read would be lost. A failed rewrite is reported, not taken for a removal.
    int r = -1;
    if (zelmsg_load_settings(SETTING_FILE) >= 0) {
        bool found;
        size_t unchanged = cut_loaded(key, &found);
        // Rewritten also when nothing was removed: a file without its NUL gets it.
        if (zelmsg_save_file(SETTING_FILE, buffer_setting, unchanged) >= 0)
            r = found ? 1 : 0;
    }
    return lock.release() ? r : -1;
}

extern "C" int write_var(const char *key, const void *value, int is_int)
{
    // Every write_var marks the process's settings changed, also one that is refused
    // or fails.
    f_dirty = 1;
    if (write_refused(key, value, is_int))
        return -1;
    zelmsg::SettingsLock lock(zelmsg::SettingsLock::kCreating);
    if (!lock.held())
        return -1;
    int b = -1;
    if (zelmsg_load_settings(SETTING_FILE) >= 0) {
        // The text before the record that goes, or before the new one, stays as it is.
        bool found;
        size_t unchanged = cut_loaded(key, &found);
        if (append_record(key, value, is_int)) {
            b = write_result(zelmsg_save_file(SETTING_FILE, buffer_setting, unchanged));
        }
    }
    return lock.release() ? b : -1;
}

extern "C" int write_str(const char *key, const char *value)
{
    return write_var(key, value, 0);
}

extern "C" int write_int(const char *key, const int *value)
{
    return write_var(key, value, 1);
}
