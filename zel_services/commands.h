// The command line and the command table of zel_services (commands.cpp). Each module
// has its own header (share_list.h, root_scan.h, config_file.h, nfs.h, samba.h,
// ftp.h) and, where its tests reach inside it, an internal one (nfs_internal.h, ...).
// Not installed.
#ifndef ZEL_SERVICES_COMMANDS_H
#define ZEL_SERVICES_COMMANDS_H

#include "text_sizes.h"

struct app {
    const char *name;
    // A reference, so that a row cannot leave its handler out.
    int (&handler)(const char *opt);
};

// A command's code is its row in the table.
extern const app apps_type[];
// The table's rows, counted from the table itself.
extern const int APPS_COUNT;

// Fills the command and option texts from the arguments. 0 when a command should be
// looked up, -1 when the run ends here (too few arguments, "cmd=" or "opt=" alone).
int read_command_line(int argc, char *const argv[], char cmd[CMD_TEXT_SIZE], char opt[OPT_TEXT_SIZE]);
int parse_cmd(const char *cmd);
int execute_target(int code, const char *opt);

#endif // ZEL_SERVICES_COMMANDS_H
