// Settings store: records "\nkey=value" in one text file that every process of the
// player loads, edits and rewrites whole. The service programs' build serializes its
// read-modify-write sections with an exclusive lock on the file.
#include "zelmsg.h"
#include "store_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// Older C libraries of the player's toolchains lack the name; the number is the same
// on every Linux architecture.
#ifndef F_OFD_SETLKW
#define F_OFD_SETLK 37
#define F_OFD_SETLKW 38
#endif

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

#if ZELMSG_WITH_LOCK
// Descriptor that carries the settings lock from get_lock to release_lock.
int lock_fd = -1;
#endif

bool key_valid(const char *key)
{
    if (key == nullptr || key[0] == '\0')
        return false;
    size_t n = strcspn(key, "\n=");
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

bool write_refused(const char *key, const void *value, int is_int)
{
    if (!key_valid(key) || value == nullptr)
        return true;
    return !is_int && strchr(static_cast<const char *>(value), '\n') != nullptr;
}
} // namespace

int zelmsg_load_file(const char *path, char *buffer, int maxlen)
{
    FILE *f = fopen(path, "rb");
    if (f == nullptr) {
        fprintf(stderr, "File open r error %s\r\n", path);
        return -1;
    }
    int rc = -2;
    long size = -1;
    if (fseek(f, 0, SEEK_END) == 0)
        size = ftell(f);
    rewind(f);
    if (size >= 0) {
        long count = size >= maxlen ? maxlen : size;
        if (fread(buffer, 1, static_cast<size_t>(count), f) == static_cast<size_t>(count))
            rc = static_cast<int>(count);
    }
    if (rc < 0)
        fprintf(stderr, "read error %s\r\n", path);
    fclose(f);
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

extern "C" int read_file(const char *path, char *buffer, int maxlen)
{
    int n = zelmsg_load_file(path, buffer, maxlen);
    return n < 0 ? n : 0;
}

extern "C" int write_file(const char *path, const char *text)
{
    // Open without truncating: space for the new text is reserved first, so a full
    // file system leaves the old settings in place instead of an empty file.
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        fprintf(stderr, "File open w error %s\r\n", path);
        return 1;
    }
    size_t count = strlen(text) + 1;
    int rc = 2;
    int err = posix_fallocate(fd, 0, static_cast<off_t>(count));
    if (err == 0 || err == EOPNOTSUPP || err == EINVAL) {
        size_t done = 0;
        while (done < count) {
            ssize_t w = pwrite(fd, text + done, count - done, static_cast<off_t>(done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                break;
            done += static_cast<size_t>(w);
        }
        if (done == count && ftruncate(fd, static_cast<off_t>(count)) == 0)
            rc = static_cast<int>(count);
    }
    if (rc == 2)
        fprintf(stderr, "0150 write error %s\r\n", path);
    close(fd);
    return rc;
}

extern "C" char *find_var(const char *key)
{
    if (zelmsg_load_settings(SETTING_FILE) < 0)
        return nullptr;
    // A key with a line feed or "=" would match across record boundaries and find,
    // or remove, a record of another key.
    if (key == nullptr || key[strcspn(key, "\n=")] != '\0' || !build_pattern(key))
        return nullptr;
    return strstr(buffer_setting, keyword_all);
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
    f_dirty = 1;
    char *next = strchr(rec + 1, '\n');
    if (next != nullptr)
        memmove(rec, next, static_cast<size_t>(buffer_setting + SETTING_BUF_SIZE - next));
    else
        *rec = '\0';
    return 1;
}

#if ZELMSG_WITH_LOCK

extern "C" int get_lock(void)
{
    // A second lock of this process would wait for itself.
    if (lock_fd >= 0)
        return -1;
    int fd = open(SETTING_FILE, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // An open-file-description lock belongs to this descriptor alone: read_file and
    // write_file may open and close the file inside the section without dropping it,
    // and it still conflicts with the lockf locks of other programs on the file.
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    int rc;
    do
        rc = fcntl(fd, F_OFD_SETLKW, &fl);
    while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        close(fd);
        return -1;
    }
    lock_fd = fd;
    return 0;
}

extern "C" int release_lock(void)
{
    if (lock_fd < 0)
        return -1;
    struct flock fl = {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    int rc = fcntl(lock_fd, F_OFD_SETLK, &fl);
    // Closing the last descriptor of the description gives the lock back in any case.
    close(lock_fd);
    lock_fd = -1;
    return rc < 0 ? -1 : 0;
}

namespace {
int take_lock()
{
    return get_lock();
}

int give_lock()
{
    return release_lock();
}
} // namespace

#else

extern "C" int get_dirty(void)
{
    return f_dirty;
}

namespace {
// The configurator's build takes no lock.
int take_lock()
{
    return 0;
}

int give_lock()
{
    return 0;
}
} // namespace

#endif

extern "C" char *get_var_mem(const char *key)
{
    if (take_lock() == -1)
        return nullptr;
    char value[kValueBuf] = "";
    int n = get_var(value, sizeof value, key);
    // A value too long for the buffer is not handed out cut: the caller gets nothing.
    char *copy = (n == 0 || n == kOverflow) ? nullptr : strdup(value);
    if (give_lock() == -1) {
        free(copy);
        return nullptr;
    }
    return copy;
}

extern "C" int remove_var(const char *key)
{
    if (take_lock() == -1)
        return -1;
    int r = remove_var_(key);
    write_file(SETTING_FILE, buffer_setting);
    if (give_lock() == -1)
        return -1;
    return r;
}

extern "C" int write_var(const char *key, const void *value, int is_int)
{
    // A line feed or "=" in the key, or a line feed in the value, would forge records.
    if (write_refused(key, value, is_int))
        return -1;
    if (take_lock() == -1)
        return -1;
    remove_var_(key);
    int b = -1;
    if (append_record(key, value, is_int)) {
        b = write_file(SETTING_FILE, buffer_setting);
        f_dirty = 1;
    }
    if (give_lock() == -1)
        return -1;
    return b;
}

extern "C" int write_str(const char *key, const char *value)
{
    return write_var(key, value, 0);
}

extern "C" int write_int(const char *key, const int *value)
{
    return write_var(key, value, 1);
}
