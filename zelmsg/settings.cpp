// Settings store: records "\nkey=value" in one text file that every process of the
// player loads, edits and rewrites whole, each read-modify-write section inside the
// settings lock (lock.cpp, nolock.cpp) and the file's bytes through store_file.cpp.
#include "zelmsg.h"
#include "zelmsg_tool.h"
#include "store_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

char buffer_setting[SETTING_BUF_SIZE + 1];
char keyword_all[SETTING_KEYWORD_SIZE];
char f_dirty;

namespace {
constexpr size_t kMaxKey = SETTING_KEY_MAX;
constexpr int kOverflow = 0x7FFFFFFF;
// Room for the text and its NUL.
constexpr size_t kRoom = SETTING_TEXT_MAX + 1;
constexpr int kValueBuf = SETTING_VALUE_MAX + 1;

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

// The first "\nkey=" of the pattern (m bytes) in the text, found by its last three
// bytes: keys often begin alike ("smb_", "ftp_") and every record with a line feed,
// so a search by the pattern's start stops at nearly every record; its end, the key's
// last letters and "=", is rare elsewhere. Each place it is found is checked whole.
char *find_pattern(char *text, const char *pattern, size_t m)
{
    const size_t lead = m > 3 ? m - 3 : 0;
    const char *tail = pattern + lead;
    for (char *p = strstr(text, tail); p != nullptr; p = strstr(p + 1, tail)) {
        if (static_cast<size_t>(p - text) >= lead && memcmp(p - lead, pattern, lead) == 0)
            return p - lead;
    }
    return nullptr;
}

// The record of the key in the text loaded last, or null.
char *find_loaded(const char *key)
{
    // A key with a line feed or "=" would match across record boundaries and find,
    // or remove, a record of another key.
    if (key == nullptr || key[strcspn(key, "\n=")] != '\0' || !build_pattern(key))
        return nullptr;
    return find_pattern(buffer_setting, keyword_all, strlen(key) + 2);
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
