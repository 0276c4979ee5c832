// What only the unit tests and the fuzz target call besides the modules' own
// headers: the pure rules inside each module, and the two share commands. A module
// includes it only so that its definitions are checked against these declarations;
// none calls another module's function from here.
#ifndef ZEL_SERVICES_TEST_ENTRY_H
#define ZEL_SERVICES_TEST_ENTRY_H

#include <stddef.h>
#include <stdio.h>

#include "config_file.h"
#include "ftp.h"
#include "nfs.h"
#include "root_scan.h"
#include "samba.h"
#include "share_list.h"
#include "commands.h"

// ---- the command table (zel_services.cpp) ----

int add_share(const char *opt);
int remove_share(const char *opt);

// ---- share lists (share_list.cpp) ----

int count_share_names(const char *list);
// 0 when the text can be written into a configuration file line: no control
// characters. -1 otherwise.
int check_config_text(const char *text);

// ---- the root scan (root_scan.cpp) ----

// Root entries that are disks: "HARD_DISK", "SATA_DISK" or "USB_DRIVE_" anywhere.
bool is_disk_share(const char *name);
// Reads the listing up to the next disk share with a valid name and leaves its name
// in line (a buffer of LINE_SIZE). true when one was found, false at the end. A disk
// that Samba would take for an earlier one (the same name in another case) is left
// out with a message.
bool next_disk_share(FILE *list, char *line);

// ---- NFS exports (nfs.cpp) ----

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

int write_global_section(FILE *f, const char *workgroup);
int write_share_section(FILE *f, const char *name);
// Copies the configuration, leaving out every section whose header line holds the
// header text, with the five lines after it.
void filter_smb_sections(FILE *in, FILE *out, const char *header);

// ---- FTP account (ftp.cpp) ----

int create_input_script(const char *path);
// Quotes a word for /bin/sh where it needs it: words of letters, digits and
// "@%+=:,./-_" stay as they are. -1 when the result does not fit.
int quote_shell_word(char *out, size_t size, const char *word);
// The pure-pw password command for the login; -1 when it would not fit a command
// line.
int compose_passwd_command(char *cmd, size_t size, const char *login);

#endif // ZEL_SERVICES_TEST_ENTRY_H
