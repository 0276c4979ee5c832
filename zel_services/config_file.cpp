// Reading the tables line by line, and replacing a configuration file through the
// tool that writes it, so that a failure never leaves the server a cut or empty file.
#include "config_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "own_file.h"
#include "zel_paths.h"

FILE *open_file(const char *path, const char *mode)
{
    FILE *f = zel_in_tmp(path) ? zelmsg::fopen_own(path, mode) : fopen(path, mode);
    if (f == nullptr && errno != ENOENT)
        perror(path);
    return f;
}

int prepare_temp(const char *path)
{
    if (zelmsg::prepare_own(path) == 0)
        return 0;
    perror(path);
    return -1;
}

bool read_line_piece(FILE *f, char *line, bool *ends_line)
{
    if (fgets(line, LINE_SIZE - 1, f) == nullptr)
        return false;
    size_t len = strlen(line);
    *ends_line = (len > 0 && line[len - 1] == '\n') || feof(f);
    return true;
}

// A line longer than the buffer goes or stays whole: only its first piece is judged.
void filter_lines(FILE *in, FILE *out, line_test drop, void *ctx)
{
    char line[LINE_SIZE];
    bool ends_line = true;
    bool dropping = false;

    for (;;) {
        bool at_start = ends_line;
        if (!read_line_piece(in, line, &ends_line))
            break;
        if (at_start)
            dropping = drop(line, ctx);
        if (!dropping)
            fputs(line, out);
    }
}

namespace {

// A file that could not be written whole must not replace the one in place.
int close_written_file(FILE *f)
{
    bool bad = ferror(f) != 0;
    return (fclose(f) != 0 || bad) ? -1 : 0;
}

char chunk[4096];

// 0 when the whole file was copied.
int copy_file(const char *from, const char *to)
{
    int result = -1;
    FILE *in = open_file(from, "rb");
    FILE *out = in != nullptr ? open_file(to, "wb") : nullptr;

    if (out != nullptr) {
        size_t n;
        bool written = true;
        while (written && (n = fread(chunk, 1, sizeof chunk, in)) > 0)
            written = fwrite(chunk, 1, n, out) == n;
        if (written && !ferror(in))
            result = 0;
        if (close_written_file(out) != 0)
            result = -1;
    }
    if (in != nullptr)
        fclose(in);
    return result;
}

} // namespace

void run_ignoring_status(const char *command)
{
    int status = system(command);
    (void)status;
}

namespace {

// 0 when the temporary file holds everything fill wrote.
int write_temp(const char *temp, const char *mode, fill_step fill, const void *ctx)
{
    FILE *out = open_file(temp, mode);
    if (out == nullptr)
        return -1;
    int filled = fill(out, ctx);
    if (close_written_file(out) != 0 || filled != 0)
        return -1;
    return 0;
}

// After a failed command: the configuration as it was before, or none when there was
// none. -1 when the saved copy could not be put back.
int put_back(const config_file &conf, bool existed)
{
    if (!existed) {
        remove(conf.path);
        return 0;
    }
    if (copy_file(conf.saved, conf.path) != 0)
        return -1;
    remove(conf.saved);
    return 0;
}

// False only for a file that ends without its line feed (an empty one ends whole).
bool ends_line(const char *path)
{
    FILE *f = fopen(path, "rb");
    if (f == nullptr)
        return false;
    bool whole = fseek(f, -1, SEEK_END) != 0 || fgetc(f) == '\n';
    fclose(f);
    return whole;
}

// -1 when there is no file to measure.
off_t file_size(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 ? st.st_size : -1;
}

// Starts "sh -c LINE" with its standard output into a pipe; the read end, or -1.
// Not popen: glibc's needs pipe2, which 2.6 kernels lack.
int start_output(const char *line, pid_t *pid)
{
    int ends[2];
    if (pipe(ends) != 0)
        return -1;
    *pid = fork();
    if (*pid == 0) {
        dup2(ends[1], STDOUT_FILENO);
        close(ends[0]);
        close(ends[1]);
        const char *argv[] = {"sh", "-c", line, nullptr};
        execv("/bin/sh", const_cast<char *const *>(argv));
        _exit(127);
    }
    close(ends[1]);
    if (*pid < 0) {
        close(ends[0]);
        return -1;
    }
    return ends[0];
}

// true when the command exited 0.
bool wait_output(pid_t pid)
{
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The tool's output into the buffer, then, once the tool has exited 0, the buffer
// copied in place. false when the tool could not run or failed; *copied tells whether
// every byte of its output reached the buffer and the configuration.
bool run_into(const config_command &command, const char *path, bool *copied)
{
    *copied = false;
    FILE *buffer = open_file(command.buffer, "wb");
    if (buffer == nullptr)
        return false;
    fcntl(fileno(buffer), F_SETFD, FD_CLOEXEC);
    pid_t pid;
    int tool = start_output(command.line, &pid);
    if (tool < 0) {
        perror(command.line);
        fclose(buffer);
        return false;
    }
    // Read to the end even after a failed write, so that the tool ends as it would.
    bool kept = true;
    for (;;) {
        ssize_t n = read(tool, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            kept = kept && n == 0;
            break;
        }
        kept = kept && fwrite(chunk, 1, static_cast<size_t>(n), buffer) == static_cast<size_t>(n);
    }
    close(tool);
    bool ran = wait_output(pid);
    kept = close_written_file(buffer) == 0 && kept;
    *copied = ran && kept && copy_file(command.buffer, path) == 0;
    return ran;
}

const char *said_command(const config_command &command, const char *path)
{
    static char text[COMMAND_SIZE + LINE_SIZE];
    if (command.put != config_put::output)
        return command.line;
    snprintf(text, sizeof text, "%s > %s", command.line, path);
    return text;
}

} // namespace

int recover_config(const config_file &conf)
{
    int fd = zelmsg::open_own(conf.saved, O_RDONLY);
    if (fd < 0)
        return 0;
    close(fd);
    if (copy_file(conf.saved, conf.path) != 0) {
        fprintf(stderr, ZS_PREFIX "Cannot put back %s; the previous one is kept in %s\n", conf.path, conf.saved);
        return -1;
    }
    remove(conf.saved);
    fprintf(stderr, ZS_PREFIX "Put back %s from %s\n", conf.path, conf.saved);
    return 0;
}

int replace_config(const config_file &conf, const char *temp, const char *mode, fill_step fill, const void *ctx,
                   const config_command &command)
{
    if (write_temp(temp, mode, fill, ctx) != 0) {
        fprintf(stderr, ZS_PREFIX "Cannot write %s; %s is left as it was\n", temp, conf.path);
        return -1;
    }
    bool existed = access(conf.path, F_OK) == 0;
    if (existed && copy_file(conf.path, conf.saved) != 0) {
        // A part copy goes; a directory planted there is not ours to remove.
        unlink(conf.saved);
        fprintf(stderr, ZS_PREFIX "Cannot save %s to %s; it is left as it was\n", conf.path, conf.saved);
        return -1;
    }

    // What the configuration must hold afterwards: its size, and a line feed at its end
    // wherever what the tool was given ended with one (a table kept without its last
    // line feed stays so).
    bool want_line_end = ends_line(temp);
    off_t want_size = file_size(temp);
    if (command.put == config_put::appends_temp && existed)
        want_size += file_size(conf.path);

    bool ran;
    bool copied = true;
    if (command.put == config_put::output) {
        ran = run_into(command, conf.path, &copied);
        want_size = file_size(command.buffer);
    } else {
        ran = system(command.line) == 0;
    }
    if (ran && copied && file_size(conf.path) == want_size && (!want_line_end || ends_line(conf.path))) {
        if (existed)
            remove(conf.saved);
        remove(temp);
        if (command.put == config_put::output)
            remove(command.buffer);
        return 0;
    }
    const char *said = said_command(command, conf.path);
    if (put_back(conf, existed) != 0)
        fprintf(stderr, ZS_PREFIX "Cannot put back %s; the previous one is kept in %s\n", conf.path, conf.saved);
    else if (ran)
        fprintf(stderr, ZS_PREFIX "\"%s\" did not write %s whole; it is left as it was\n", said, conf.path);
    else
        fprintf(stderr, ZS_PREFIX "\"%s\" failed; %s is left as it was\n", said, conf.path);
    return -1;
}
