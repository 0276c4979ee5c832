// Samba configuration. The configuration file is only ever written by testparm from
// a master text, so the server always reads what the tool has checked.
#include "samba_internal.h"

#include <stdlib.h>
#include <string.h>

#include "root_scan.h"
#include "share_list.h"
#include "zel_paths.h"

#define SMB_CONF_COPY ZEL_SMB_CONF_COPY

namespace {

// The configuration is testparm's output; its previous content is kept in the saved
// copy until the output is in place whole.
const config_file smb_conf = {SMB_CONF_PATH, ZEL_SMB_CONF_SAVED};
const config_command testparm = {ZEL_BIN_DIR "/testparm -s " SMB_MASTER_PATH, config_put::output, SMB_CONF_COPY};

} // namespace

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

namespace {

struct section_filter {
    const char *header;
    int skip;
};

// The whole line is the header text, blanks and the line's end aside: "[share]" is
// not found inside "[x[share]".
bool is_header_line(const char *line, const char *header)
{
    line += strspn(line, " \t");
    size_t len = strlen(header);
    return strncmp(line, header, len) == 0 && line[len + strspn(line + len, " \t\r\n")] == '\0';
}

// A section is its header line and the five parameter lines after it, whatever they hold.
bool drop_section_line(const char *line, void *ctx)
{
    section_filter *f = static_cast<section_filter *>(ctx);
    if (f->skip > 0) {
        f->skip--;
        return true;
    }
    if (is_header_line(line, f->header)) {
        f->skip = 5;
        return true;
    }
    return false;
}

} // namespace

void filter_smb_sections(FILE *in, FILE *out, const char *header)
{
    section_filter f = {header, 0};
    filter_lines(in, out, drop_section_line, &f);
}

namespace {

int write_master_head(FILE *out, const void *workgroup)
{
    return write_global_section(out, static_cast<const char *>(workgroup));
}

int write_master_entry(FILE *out, const char *name, const void *)
{
    return write_share_section(out, name);
}

const root_config master = {&smb_conf,
                            SMB_MASTER_PATH,
                            "wt",
                            &testparm,
                            ZS_PREFIX "Change workgroup failed due to the failure on system call!",
                            write_master_head,
                            write_master_entry};

void add_section_step(const char *name, void *ctx)
{
    write_share_section(static_cast<FILE *>(ctx), name);
}

int fill_sections(FILE *out, const void *ctx)
{
    return for_each_share_name(static_cast<const char *>(ctx), add_section_step, out) < 0 ? -1 : 0;
}

int fill_without(FILE *out, const void *ctx)
{
    FILE *in = open_file(SMB_CONF_COPY, "r");
    if (in == nullptr)
        return -1;
    char header[LINE_SIZE];
    snprintf(header, sizeof header - 1, "[%s]", static_cast<const char *>(ctx));
    filter_smb_sections(in, out, header);
    fclose(in);
    return 0;
}

} // namespace

int chg_samba_workgrp(const char *workgroup)
{
    if (check_workgroup(workgroup) != 0) {
        fputs(ZS_PREFIX "Invalid workgroup name!\n", stderr);
        return 0;
    }
    replace_from_root(master, workgroup);
    return 0;
}

int check_smb_sections(const char *list)
{
    // Against the configuration as it was before a failed put-back, when one is kept.
    if (recover_config(smb_conf) != 0)
        return -2;
    FILE *conf = fopen(SMB_CONF_PATH, "r");
    int result = check_new_sections(list, conf);
    if (conf != nullptr)
        fclose(conf);
    return result;
}

int add_smb_share(const char *list)
{
    if (recover_config(smb_conf) != 0 || prepare_temp(SMB_MASTER_PATH) != 0)
        return 0;
    if (system("cp " SMB_CONF_PATH " " SMB_MASTER_PATH) != 0)
        return 0;
    replace_config(smb_conf, SMB_MASTER_PATH, "a+", fill_sections, list, testparm);
    return 0;
}

int remove_smb_share(const char *name)
{
    if (recover_config(smb_conf) != 0 || prepare_temp(SMB_CONF_COPY) != 0)
        return 0;
    if (system("cp " SMB_CONF_PATH " " SMB_CONF_COPY) != 0)
        return 0;
    // The copy becomes testparm's buffer, removed once the new configuration is in place.
    replace_config(smb_conf, SMB_MASTER_PATH, "w", fill_without, name, testparm);
    return 0;
}
