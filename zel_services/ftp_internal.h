// The pure rules of the FTP account that its tests and the fuzz target reach
// (ftp.cpp); the command table uses ftp.h.
#ifndef ZEL_SERVICES_FTP_INTERNAL_H
#define ZEL_SERVICES_FTP_INTERNAL_H

#include <stddef.h>

#include "ftp.h"
#include "text_sizes.h"

int create_input_script(const char *path);
// Quotes a word for /bin/sh where it needs it: words of letters, digits and
// "@%+=:,./-_" stay as they are. -1 when the result does not fit.
int quote_shell_word(char *out, size_t size, const char *word);
// The pure-pw password command for the login; -1 when it would not fit a command
// line.
int compose_passwd_command(char *cmd, size_t size, const char *login);

#endif // ZEL_SERVICES_FTP_INTERNAL_H
