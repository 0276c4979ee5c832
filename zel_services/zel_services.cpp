// zel_services: one-shot share and account configurator.
//
//   zel_services cmd=NAME opt=TEXT
//
// Reloads the NFS exports, sets the FTP account's password, changes the Samba
// workgroup, or adds or removes shared folders. The exit status is always 0.
#include "commands.h"

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
