// zelctl: shell access to the library for integrators and tests. Every command goes
// through the library's own operations, as the player's programs use them.
#include "zelmsg.h"

#include <stdio.h>
#include <string.h>
#include <sys/ipc.h>

namespace {
constexpr int kUsage = 2;

int cmd_send(int argc, char **argv)
{
    if (argc != 1 || argv[0][0] == '\0')
        return kUsage;
    return addmsg(argv[0], SETUP_2_ZELD, IPC_NOWAIT) == 0 ? 0 : 1;
}

struct command {
    const char *name;
    int (*run)(int argc, char **argv);
    const char *args;
};

const command commands[] = {
    {"send", cmd_send, "LETTER        queue one service request"},
};

void usage()
{
    fputs("usage: zelctl COMMAND [ARGS]\n", stderr);
    for (const command &c : commands)
        fprintf(stderr, "  zelctl %s %s\n", c.name, c.args);
}
} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2) {
        for (const command &c : commands) {
            if (strcmp(argv[1], c.name) != 0)
                continue;
            int rc = c.run(argc - 2, argv + 2);
            if (rc == kUsage)
                usage();
            return rc;
        }
    }
    usage();
    return kUsage;
}
