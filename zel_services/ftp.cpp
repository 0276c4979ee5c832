// The FTP server's one virtual account, "ftpuser", kept with the server's pure-pw.
// The new password comes from the caller on standard input, which pure-pw inherits.
#include "ftp_internal.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "config_file.h"
#include "zel_paths.h"

#define PURE_PW ZEL_BIN_DIR "/pure-pw"
#define FTP_PASSWD_FILE ZEL_FTP_PASSWD_FILE
#define FTP_PASSWD_DB ZEL_FTP_PASSWD_DB
#define INPUT_SCRIPT ZEL_FTP_ANSWERS

namespace {

int check_file_existence(const char *path)
{
    return access(path, F_OK) == 0 ? 0 : -1;
}

} // namespace

int create_input_script(const char *path)
{
    FILE *f = open_file(path, "w");
    if (f == nullptr)
        return -1;
    // A cut answer file (a full /tmp) would give pure-pw no password to read.
    int written = fputs("\n\n", f) >= 0;
    if (fclose(f) != 0 || !written)
        return -1;
    return 0;
}

namespace {

int create_passwd_file()
{
    char cmd[COMMAND_SIZE];

    if (create_input_script(INPUT_SCRIPT) != 0)
        return 0;
    memset(cmd, 0, sizeof cmd);
    snprintf(cmd, sizeof cmd - 1, "%s %s %s -f %s -u %s -g %s -d %s < " INPUT_SCRIPT " >/dev/null 2>/dev/null", PURE_PW,
             "useradd", "ftpuser", FTP_PASSWD_FILE, "1001", "1001", "/share");
    if (system(cmd) == 0)
        remove(INPUT_SCRIPT);
    return 0;
}

bool plain_shell_char(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           strchr("@%+=:,./-_", c) != nullptr;
}

} // namespace

// Single quotes keep every character literal; a quote itself is closed, escaped and
// reopened: it's -> 'it'\''s'.
int quote_shell_word(char *out, size_t size, const char *word)
{
    bool plain = *word != '\0';
    size_t quoted_len = 2;
    for (const char *p = word; *p != '\0'; p++) {
        if (!plain_shell_char(static_cast<unsigned char>(*p)))
            plain = false;
        quoted_len += *p == '\'' ? 4 : 1;
    }
    size_t len = plain ? strlen(word) : quoted_len;
    if (len + 1 > size)
        return -1;

    if (plain) {
        memcpy(out, word, len + 1);
        return 0;
    }
    char *q = out;
    *q++ = '\'';
    for (const char *p = word; *p != '\0'; p++) {
        if (*p == '\'') {
            memcpy(q, "'\\''", 4);
            q += 4;
        } else {
            *q++ = *p;
        }
    }
    *q++ = '\'';
    *q = '\0';
    return 0;
}

// A command cut at the end of the buffer would lose "-f" and run pure-pw on its own
// default files; such a login is refused instead.
int compose_passwd_command(char *cmd, size_t size, const char *login)
{
    static char quoted[4 * OPT_TEXT_SIZE + 3];

    memset(cmd, 0, size);
    if (quote_shell_word(quoted, sizeof quoted, login) != 0)
        return -1;
    int len = snprintf(cmd, size, PURE_PW " passwd %s -f " FTP_PASSWD_FILE " -m ", quoted);
    if (len < 0 || static_cast<size_t>(len) > size - 2) {
        memset(cmd, 0, size);
        return -1;
    }
    return 0;
}

int chg_ftp_passwd(const char *login)
{
    char cmd[COMMAND_SIZE];

    if (compose_passwd_command(cmd, sizeof cmd, login) != 0) {
        fputs(ZS_PREFIX "FTP login too long!\n", stderr);
        return 0;
    }
    if (check_file_existence(FTP_PASSWD_FILE) != 0 && check_file_existence(FTP_PASSWD_DB) != 0)
        create_passwd_file();
    run_ignoring_status(cmd);
    return 0;
}
