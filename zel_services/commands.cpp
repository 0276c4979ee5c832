// The command line and the command table of zel_services. One run carries out at most
// one command; failures are said on standard error and never change the exit status.
#include "commands.h"

#include <stdio.h>
#include <string.h>

#include "ftp.h"
#include "nfs.h"
#include "samba.h"
#include "share_list.h"

namespace {

int update_nfs_share(const char *opt)
{
    reload_nfs_share(opt);
    return 0;
}

int update_ftp_passwd(const char *opt)
{
    chg_ftp_passwd(opt);
    return 0;
}

int update_smb_workgrp(const char *opt)
{
    chg_samba_workgrp(opt);
    return 0;
}

// The whole list is checked before either table is touched: a refused list changes
// nothing, and an empty name would otherwise export the root itself. A name that
// Samba would take for another section (in another case) is refused too.
int add_share(const char *opt)
{
    int taken = check_share_list(opt) != 0 ? -1 : check_smb_sections(opt);
    if (taken == -1)
        fputs(ZS_PREFIX "Invalid share name!\n", stderr);
    if (taken != 0)
        return 0;
    add_nfs_share(opt);
    add_smb_share(opt);
    return 0;
}

// The whole option text is one name, separator included.
int remove_share(const char *opt)
{
    if (check_share_name(opt) != 0) {
        fputs(ZS_PREFIX "Invalid share name!\n", stderr);
        return 0;
    }
    remove_nfs_share(opt);
    remove_smb_share(opt);
    return 0;
}

} // namespace

constexpr app apps_type[] = {
    {"nfs_share", update_nfs_share}, {"ftp_passwd", update_ftp_passwd}, {"smb_workgrp", update_smb_workgrp},
    {"add_share", add_share},        {"remove_share", remove_share},
};
constexpr int APPS_COUNT = sizeof apps_type / sizeof apps_type[0];

namespace {

constexpr bool same_name(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

// A row the command line cannot reach would compile and never run: a name longer than
// the command text holds, an empty one (the text a missing "cmd=" leaves, which must
// run nothing), or an earlier row's name.
constexpr bool rows_reachable()
{
    for (int i = 0; i < APPS_COUNT; i++) {
        const char *name = apps_type[i].name;
        if (name == nullptr)
            return false;
        int length = 0;
        while (name[length] != '\0')
            length++;
        if (length == 0 || length > CMD_TEXT_SIZE - 1)
            return false;
        for (int j = 0; j < i; j++)
            if (same_name(apps_type[j].name, name))
                return false;
    }
    return true;
}
static_assert(rows_reachable(), "every command needs a name of 1 to 19 characters of its own");

// Copies what follows the key in the argument, at most size - 1 characters.
// -1 when the key is there but nothing follows it.
int take_argument(const char *arg, const char *key, char *out, size_t size)
{
    const char *p = strstr(arg, key);
    if (p == nullptr)
        return 0;
    p += strlen(key);
    if (*p == '\0')
        return -1;
    snprintf(out, size, "%s", p);
    return 0;
}

} // namespace

int read_command_line(int argc, char *const argv[], char cmd[CMD_TEXT_SIZE], char opt[OPT_TEXT_SIZE])
{
    cmd[0] = '\0';
    opt[0] = '\0';
    if (argc < 3)
        return -1;
    if (take_argument(argv[1], "cmd=", cmd, CMD_TEXT_SIZE) != 0) {
        fputs(ZS_PREFIX "cmd = NULL!\n", stderr);
        return -1;
    }
    if (take_argument(argv[2], "opt=", opt, OPT_TEXT_SIZE) != 0) {
        fputs(ZS_PREFIX "opt = NULL!\n", stderr);
        return -1;
    }
    return 0;
}

int parse_cmd(const char *cmd)
{
    for (int i = 0; i < APPS_COUNT; i++)
        if (strcmp(cmd, apps_type[i].name) == 0)
            return i;
    return -1;
}

int execute_target(int code, const char *opt)
{
    if (code >= 0 && code < APPS_COUNT)
        apps_type[code].handler(opt);
    return 0;
}
