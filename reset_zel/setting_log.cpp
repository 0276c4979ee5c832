// Setting changes that write only when the value really changes, with a trace of
// every comparison in the setup log.
#include "reset_zel.h"

#include "own_file.h"
#include "zelmsg.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {
// Formatted straight into the stream, so a long key or a stored value of up to 1023
// characters is logged whole instead of overrunning a line buffer.
__attribute__((format(printf, 1, 2))) void append_log_line(const char *format, ...)
{
    // Appended to only as a file of our own: a link or FIFO planted in its place is
    // replaced, not written through or waited on; a directory costs the line.
    FILE *log = zelmsg::fopen_own(SETUP_LOG, "a");
    if (log == nullptr) {
        perror(SETUP_LOG);
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(log, format, args);
    va_end(args);
    fclose(log);
}

// The store hands out a copy; this releases it on every path.
struct setting_copy {
    char *text;
    explicit setting_copy(const char *name) : text(get_var_mem(name)) {}
    ~setting_copy() { free(text); }
    setting_copy(const setting_copy &) = delete;
    setting_copy &operator=(const setting_copy &) = delete;
};
} // namespace

int save_setting_change_str(const char *name, const char *new_value)
{
    if (name == nullptr || new_value == nullptr)
        return -1;
    setting_copy current(name);
    if (current.text == nullptr) {
        write_str(name, new_value);
        return 1;
    }
    append_log_line("Comparing [%s] : Current=%s to New=%s\r\n", name, current.text, new_value);
    if (strcmp(current.text, new_value) == 0)
        return 0;
    append_log_line("*Updating [%s] to %s\r\n", name, new_value);
    write_str(name, new_value);
    return 1;
}

int save_setting_change_int(const char *name, const int *new_value)
{
    if (name == nullptr || new_value == nullptr)
        return -1;
    setting_copy current(name);
    if (current.text == nullptr) {
        write_int(name, new_value);
        return 1;
    }
    append_log_line("Comparing [%s] : Current=%s to New=%d\r\n", name, current.text, *new_value);
    if (atoi(current.text) == *new_value)
        return 0;
    append_log_line("*Updating [%s] to %d\r\n", name, *new_value);
    write_int(name, new_value);
    return 1;
}
