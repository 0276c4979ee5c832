// Reading the tables line by line, and replacing a configuration file through the
// tool that writes it (config_file.cpp).
#ifndef ZEL_SERVICES_CONFIG_FILE_H
#define ZEL_SERVICES_CONFIG_FILE_H

#include <stdio.h>

#include "text_sizes.h"

// Reads one piece of a line (at most 254 characters). false at the end of the file;
// *ends_line tells whether the piece holds the end of its line.
bool read_line_piece(FILE *f, char *line, bool *ends_line);

// Copies in to out, leaving out every line for which drop says so. drop sees the
// first piece of each line and keeps what state it needs in ctx.
using line_test = bool (*)(const char *line, void *ctx);
void filter_lines(FILE *in, FILE *out, line_test drop, void *ctx);

// Opens a file as fopen does; a path under /tmp only as a file of our own
// (zelmsg::fopen_own: never through a link, never waiting on a FIFO, a directory
// refused). A failure other than a missing file is said with perror.
FILE *open_file(const char *path, const char *mode);
// Makes a path under /tmp an empty file of our own before a shell command writes it
// by name ("ls / > /tmp/share.list", "cp FILE /tmp/..."); -1 after perror.
int prepare_temp(const char *path);

// Runs a shell command whose status the caller has no use for.
void run_ignoring_status(const char *command);

// A configuration file and where its previous content is kept while a tool replaces it.
struct config_file {
    const char *path;
    const char *saved;
};

// A saved copy of ours found before an operation starts is the configuration as it
// was before a run whose put-back failed: it goes back in place first, so that no
// operation builds on the cut file or overwrites the copy. 0, or -1 (said) when it
// still cannot go back; the operation then changes nothing.
int recover_config(const config_file &conf);

// How a command puts the new configuration in place, and so what the configuration
// must hold after it: the temporary file moved there, the temporary file appended to
// it, or the tool's standard output. A tool may exit 0 over an output that a full
// file system cut (testparm does), so an output is never redirected onto the
// configuration: it is kept in a buffer file until the tool has exited, then copied
// in place by writes whose failure is seen.
enum class config_put {
    moves_temp,
    appends_temp,
    output
};
struct config_command {
    const char *line; // run by the shell; for output, said as "LINE > PATH"
    config_put put;
    const char *buffer; // for output
};

// Writes the temporary file (fill returns -1 when it cannot), saves the configuration,
// and runs the command that puts the new one in place. When the command fails, or
// exits 0 without writing the configuration whole (not all it was to write, or cut
// before the line feed that ended what it was given), the saved content is put back;
// when even that fails, the saved copy stays and its path is named on standard error.
// 0 when the command succeeded; the temporary file and the buffer are removed then and
// left for a look otherwise.
using fill_step = int (*)(FILE *out, const void *ctx);
int replace_config(const config_file &conf, const char *temp, const char *mode, fill_step fill, const void *ctx,
                   const config_command &command);

#endif // ZEL_SERVICES_CONFIG_FILE_H
