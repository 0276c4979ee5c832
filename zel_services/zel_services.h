// zel_services internals shared by the program, its operations and its tests: the
// command table, the share-name rules, the replacement of a configuration file, and
// the NFS, Samba and FTP operations. Not installed.
#ifndef ZEL_SERVICES_H
#define ZEL_SERVICES_H

#include <stddef.h>
#include <stdio.h>

#define ZS_PREFIX "[zel_services] "

enum {
    CMD_TEXT_SIZE = 20,    // command name: at most 19 characters
    OPT_TEXT_SIZE = 256,   // option text: at most 255 characters
    SHARE_NAME_SIZE = 50,  // one share name: at most 49 characters
    LINE_SIZE = 256,       // lines of the listing and the tables: read 254 at a time
    COMMAND_SIZE = 256,    // shell command lines
    CLIENT_SPEC_SIZE = 50, // the clients of an export ("net/mask"), composed within 34
    IF_TEXT_SIZE = 16      // dotted address or netmask
};

// ---- command line and dispatch (zel_services.cpp) ----

struct app {
    const char *name;
    int (*handler)(const char *opt);
};

enum {
    APPS_COUNT = 5
};
// A command's code is its row in the table.
extern const app apps_type[APPS_COUNT];

// Fills the command and option texts from the arguments. 0 when a command should be
// looked up, -1 when the run ends here (too few arguments, "cmd=" or "opt=" alone).
int read_command_line(int argc, char *const argv[], char cmd[CMD_TEXT_SIZE], char opt[OPT_TEXT_SIZE]);
int parse_cmd(const char *cmd);
int execute_target(int code, const char *opt);

int update_nfs_share(const char *opt);
int update_ftp_passwd(const char *opt);
int update_smb_workgrp(const char *opt);
int add_share(const char *opt);
int remove_share(const char *opt);

// ---- share lists, names and the disk-share scan (share_list.cpp) ----

#define SHARE_SEPARATOR "|#"
#define SHARE_LIST_PATH "/tmp/share.list"

int count_share_names(const char *list);

// Cuts the list into names and hands each to step as soon as it is cut. Returns the
// number of names, or -1 (before handing on the offending name) at a name longer
// than a name buffer holds.
using share_name_step = void (*)(const char *name, void *ctx);
int for_each_share_name(const char *list, share_name_step step, void *ctx);

// 0 when the text can be written into a configuration file line: no control
// characters. -1 otherwise.
int check_config_text(const char *text);
// 0 when Samba reads the workgroup as the text it is: a configuration text without
// "\\", which at a line's end joins the next line to it. -1 otherwise.
int check_workgroup(const char *text);
// The one rule for a share name, whether it comes from a caller or from the scan of
// the root: 0 when exportfs and testparm both take it for the folder it names, -1
// otherwise.
int check_share_name(const char *name);
// check_share_name for every name of a share list.
int check_share_list(const char *list);
// Samba takes section names without regard to case: 0 when no name of the list is
// another section's name in another case, whether a section of the configuration
// ("share" counted always), Samba's own, or an earlier name of the list. -1 otherwise.
int check_new_sections(const char *list, FILE *conf);
// true when Samba takes the two names for one section: equal but for case and runs
// of blanks.
bool same_section(const char *a, const char *b);

// Root entries that are disks: "HARD_DISK", "SATA_DISK" or "USB_DRIVE_" anywhere.
bool is_disk_share(const char *name);
// Runs "ls / > /tmp/share.list"; returns the shell's status.
int list_root_folders();
// Reads the listing up to the next disk share with a valid name and leaves its name
// in line (a buffer of LINE_SIZE). true when one was found, false at the end. A disk
// that Samba would take for an earlier one (the same name in another case) is left
// out with a message.
bool next_disk_share(FILE *list, char *line);

// ---- files, lines and the replacement of a configuration (config_file.cpp) ----

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

// 0 when the whole file was copied.
int copy_file(const char *from, const char *to);
// Closes a file that was written; -1 when any write or the close failed.
int close_written_file(FILE *f);
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

// Writes the temporary file (fill returns -1 when it cannot), saves the configuration,
// and runs the command that puts the new one in place. When the command fails, or
// exits 0 without writing the configuration whole, the saved content is put back;
// when even that fails, the saved copy stays and its path is named on standard error.
// 0 when the command succeeded; the temporary file is removed then and left for a
// look otherwise.
using fill_step = int (*)(FILE *out, const void *ctx);
int replace_config(const config_file &conf, const char *temp, const char *mode, fill_step fill, const void *ctx,
                   const char *command);

// ---- NFS exports (nfs.cpp) ----

#define EXPORTS_PATH "/etc/exports"
#define EXPORT_OPTIONS "(rw,sync,root_squash,anonuid=1001,anongid=1001)"

int reload_nfs_share(const char *ifname);
int add_nfs_share(const char *list);
int remove_nfs_share(const char *name);
const char *get_interface();
int get_interface_addr(char *out, const char *ifname);
int get_interface_netmask(char *out, const char *ifname);
int get_export_network(char *out, const char *ifname);
// The clients of an export ("net/mask") for an address and a netmask in dotted form.
void compose_export_network(char *out, const char *addr, const char *netmask);
int write_export_entry(FILE *f, const char *name, const char *client);
// true when the first field of the table line names the folder, or a folder inside it.
bool export_entry_is(const char *line, const char *name);
// Copies the table, leaving out the entries of the folder.
void filter_exports(FILE *in, FILE *out, const char *name);

// ---- Samba configuration (samba.cpp) ----

#define SMB_CONF_PATH "/etc/samba/lib/smb.conf"
#define SMB_MASTER_PATH "/tmp/smb.conf.master"

int chg_samba_workgrp(const char *workgroup);
int add_smb_share(const char *list);
// check_new_sections against the Samba configuration; -2 (said) when a saved copy of
// it could not be put back.
int check_smb_sections(const char *list);
int remove_smb_share(const char *name);
int write_global_section(FILE *f, const char *workgroup);
int write_share_section(FILE *f, const char *name);
// Copies the configuration, leaving out every section whose header line holds the
// header text, with the five lines after it.
void filter_smb_sections(FILE *in, FILE *out, const char *header);

// ---- FTP account (ftp.cpp) ----

int chg_ftp_passwd(const char *login);
int create_passwd_file();
int create_input_script(const char *path);
int check_file_existence(const char *path);
// Quotes a word for /bin/sh where it needs it: words of letters, digits and
// "@%+=:,./-_" stay as they are. -1 when the result does not fit.
int quote_shell_word(char *out, size_t size, const char *word);
// The pure-pw password command for the login; -1 when it would not fit a command
// line.
int compose_passwd_command(char *cmd, size_t size, const char *login);

#endif // ZEL_SERVICES_H
