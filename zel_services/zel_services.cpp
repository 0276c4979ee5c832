/* zel_services: one-shot share and account configurator.
 *
 *   zel_services cmd=NAME opt=TEXT
 *
 * Reloads the NFS exports, sets the FTP account's password, changes the Samba
 * workgroup, or adds or removes shared folders. The exit status is always 0. */
#include <stdio.h>
#include <string.h>

#include "zel_services.h"

const char *const apps_type[APPS_COUNT] = {
    "nfs_share", "ftp_passwd", "smb_workgrp", "add_share", "remove_share",
};

/* Copies what follows the key in the argument, at most size - 1 characters.
 * -1 when the key is there but nothing follows it. */
static int take_argument(const char *arg, const char *key, char *out, size_t size)
{
    const char *p = strstr(arg, key);
    if (p == NULL)
        return 0;
    p += strlen(key);
    if (*p == '\0')
        return -1;
    snprintf(out, size, "%s", p);
    return 0;
}

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
        if (strcmp(cmd, apps_type[i]) == 0)
            return i;
    return -1;
}

int execute_target(int code, const char *opt)
{
    switch (code) {
    case 0:
        update_nfs_share(opt);
        break;
    case 1:
        update_ftp_passwd(opt);
        break;
    case 2:
        update_smb_workgrp(opt);
        break;
    case 3:
        add_share(opt);
        break;
    case 4:
        remove_share(opt);
        break;
    default:
        break;
    }
    return 0;
}

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

/* Names are checked before either table is touched: a refused list changes nothing,
 * and an empty name would otherwise export the root itself. */
int add_share(const char *opt)
{
    if (check_share_list(opt) != 0) {
        fputs(ZS_PREFIX "Invalid share name!\n", stderr);
        return 0;
    }
    add_nfs_share(opt);
    add_smb_share(opt);
    return 0;
}

/* The whole option text is one name, separator included. */
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

#ifndef ZEL_SERVICES_NO_MAIN
int main(int argc, char *argv[])
{
    static char cmd[CMD_TEXT_SIZE];
    static char opt[OPT_TEXT_SIZE];

    if (read_command_line(argc, argv, cmd, opt) == 0) {
        int code = parse_cmd(cmd);
        if (code != -1)
            execute_target(code, opt);
    }
    return 0;
}
#endif
