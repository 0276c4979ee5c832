/* Samba configuration. The configuration file is only ever written by testparm from
 * a master text, so the server always reads what the tool has checked. */
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "zel_services.h"

#define SMB_CONF_COPY "/tmp/smb.conf"
#define SMB_CONF_SAVED "/tmp/smb.conf.saved"
#define TESTPARM_COMMAND "/mnt/oak7210/bin/testparm -s " SMB_MASTER_PATH " > " SMB_CONF_PATH

int write_global_section(FILE *f, const char *workgroup)
{
    return fprintf(f,
                   "[global]\n"
                   "\tworkgroup = %s\n"
                   "\tserver string = SMP8634 Share\n"
                   "\tprintcap name = /etc/samba/lib/printcap\n"
                   "\tload printers = no\n"
                   "\tlog file = /etc/samba/var/%s.log\n"
                   "\tmax log size = 1\n"
                   "\tsecurity = user\n"
                   "\tencrypt passwords = yes\n"
                   "\tsmb passwd file = /etc/samba/lib/smbpasswd\n"
                   "\tsocket options = TCP_NODELAY SO_RCVBUF=8192 SO_SNDBUF=8192 SO_KEEPALIVE\n"
                   "\tinterfaces = lo eth0 wlan0\n"
                   "\tdns proxy = no\n"
                   "\tname resolve order = lmhosts bcast host\n"
                   "\tnull passwords = yes\n"
                   "\tfollow symlinks = yes\n"
                   "\tunix extensions = no\n"
                   "\tmax connections = 25\n"
                   "\tdisplay charset = UTF8\n"
                   "\tmax smbd processes = 10\n"
                   "\tprintable = no\n"
                   "\thide files = /.btpd/lost+found/\n"
                   "\tkernel oplocks = no\n"
                   "\toplocks = yes\n"
                   "\tlevel2 oplocks = yes\n",
                   workgroup, "%m") < 0
               ? -1
               : 0;
}

int write_share_section(FILE *f, const char *name)
{
    return fprintf(f,
                   "[%s]\n"
                   "\tpath = /%s\n"
                   "\twriteable = yes\n"
                   "\tvalid users = zel\n"
                   "\tforce create mode = 0644\n"
                   "\tforce directory mode = 0755\n",
                   name, name) < 0
               ? -1
               : 0;
}

void filter_smb_sections(FILE *in, FILE *out, const char *header)
{
    char line[LINE_SIZE];
    int ends_line = 1;
    int skip = 0;
    int drop = 0;

    for (;;) {
        int at_start = ends_line;
        if (!read_line_piece(in, line, &ends_line))
            break;
        if (at_start) {
            if (skip > 0) {
                drop = 1;
                skip--;
            } else if (strstr(line, header) != NULL) {
                drop = 1;
                skip = 5;
            } else {
                drop = 0;
            }
        }
        if (!drop)
            fputs(line, out);
    }
}

/* 0 when the whole file was copied. */
static int copy_file(const char *from, const char *to)
{
    static char chunk[4096];
    int result = -1;
    FILE *in = fopen(from, "rb");
    FILE *out = NULL;
    if (in == NULL)
        return -1;
    out = fopen(to, "wb");
    if (out == NULL)
        goto done;
    for (;;) {
        size_t n = fread(chunk, 1, sizeof chunk, in);
        if (n > 0 && fwrite(chunk, 1, n, out) != n)
            goto done;
        if (n < sizeof chunk)
            break;
    }
    if (!ferror(in))
        result = 0;
done:
    if (out != NULL && fclose(out) != 0)
        result = -1;
    fclose(in);
    return result;
}

/* The tool's output goes straight onto the configuration, so a failing tool would
 * leave the server an empty or half-written file: keep a copy and put it back. */
static int run_testparm(void)
{
    int existed = access(SMB_CONF_PATH, F_OK) == 0;
    if (existed && copy_file(SMB_CONF_PATH, SMB_CONF_SAVED) != 0) {
        remove(SMB_CONF_SAVED);
        return -1;
    }
    int status = system(TESTPARM_COMMAND);
    if (status != 0) {
        if (existed)
            copy_file(SMB_CONF_SAVED, SMB_CONF_PATH);
        else
            remove(SMB_CONF_PATH);
    }
    if (existed)
        remove(SMB_CONF_SAVED);
    return status;
}

static void add_section_step(const char *name, void *ctx)
{
    write_share_section(static_cast<FILE *>(ctx), name);
}

int chg_samba_workgrp(const char *workgroup)
{
    if (check_config_text(workgroup) != 0) {
        fputs(ZS_PREFIX "Invalid workgroup name!\n", stderr);
        return 0;
    }
    if (list_root_folders() != 0) {
        fputs(ZS_PREFIX "Change workgroup failed due to the failure on system call!", stderr);
        return 0;
    }
    FILE *list = fopen(SHARE_LIST_PATH, "r");
    FILE *master = fopen(SMB_MASTER_PATH, "wt");
    if (list == NULL || master == NULL) {
        if (list != NULL)
            fclose(list);
        if (master != NULL)
            fclose(master);
        return 0;
    }

    char line[LINE_SIZE];
    write_global_section(master, workgroup);
    write_share_section(master, "share");
    while (next_disk_share(list, line))
        write_share_section(master, line);

    fclose(list);
    if (close_written_file(master) != 0)
        return 0;
    if (run_testparm() == 0) {
        remove(SMB_MASTER_PATH);
        remove(SHARE_LIST_PATH);
    }
    return 0;
}

int add_smb_share(const char *list)
{
    if (system("cp " SMB_CONF_PATH " " SMB_MASTER_PATH) != 0)
        return 0;
    FILE *master = fopen(SMB_MASTER_PATH, "a+");
    if (master == NULL)
        return 0;
    for_each_share_name(list, add_section_step, master);
    if (close_written_file(master) != 0)
        return 0;
    if (run_testparm() == 0)
        remove(SMB_MASTER_PATH);
    return 0;
}

int remove_smb_share(const char *name)
{
    if (system("cp " SMB_CONF_PATH " " SMB_CONF_COPY) != 0)
        return 0;
    FILE *in = fopen(SMB_CONF_COPY, "r");
    FILE *master = fopen(SMB_MASTER_PATH, "w");
    if (in == NULL || master == NULL) {
        if (in != NULL)
            fclose(in);
        if (master != NULL)
            fclose(master);
        return 0;
    }

    char header[LINE_SIZE];
    snprintf(header, sizeof header - 1, "[%s]", name);
    filter_smb_sections(in, master, header);

    fclose(in);
    if (close_written_file(master) != 0)
        return 0;
    if (run_testparm() == 0) {
        remove(SMB_MASTER_PATH);
        remove(SMB_CONF_COPY);
    }
    return 0;
}
