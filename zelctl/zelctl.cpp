// zelctl: shell access to the library for integrators and tests. Every command goes
// through the library's own operations, as the player's programs use them.
#include "zelmsg.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/stat.h>

namespace {
constexpr int kUsage = 2;

int cmd_send(int argc, char **argv)
{
    if (argc != 1 || argv[0][0] == '\0')
        return kUsage;
    return addmsg(argv[0], SETUP_2_ZELD, IPC_NOWAIT) == 0 ? 0 : 1;
}

int cmd_get(int argc, char **argv)
{
    if (argc != 1)
        return kUsage;
    char *value = get_var_mem(argv[0]);
    if (value == nullptr)
        return 1;
    printf("%s\n", value);
    free(value);
    return 0;
}

int cmd_set(int argc, char **argv)
{
    if (argc < 1)
        return kUsage;
    for (int i = 0; i < argc; ++i)
        if (strchr(argv[i], '=') == nullptr)
            return kUsage;
    int rc = 0;
    for (int i = 0; i < argc; ++i) {
        char *eq = strchr(argv[i], '=');
        *eq = '\0';
        // A stored record is at least "\nk=" and its NUL: 1 and 2 are write_file's failures.
        if (write_str(argv[i], eq + 1) <= 2) {
            fprintf(stderr, "zelctl: cannot set %s\n", argv[i]);
            rc = 1;
        }
    }
    return rc;
}

int cmd_unset(int argc, char **argv)
{
    if (argc < 1)
        return kUsage;
    int rc = 0;
    for (int i = 0; i < argc; ++i)
        if (remove_var(argv[i]) < 0)
            rc = 1;
    return rc;
}

// The settings file's bytes under the lock; -1 when it cannot be read.
int load_settings_bytes()
{
    if (get_lock() != 0)
        return -1;
    struct stat st;
    int size = -1;
    // Zeroed first: the text then ends within the file's bytes even without its NUL.
    memset(buffer_setting, 0, SETTING_BUF_SIZE);
    if (stat(SETTING_FILE, &st) == 0 && read_file(SETTING_FILE, buffer_setting, SETTING_BUF_SIZE) == 0)
        size = st.st_size < SETTING_BUF_SIZE ? static_cast<int>(st.st_size) : SETTING_BUF_SIZE;
    if (release_lock() != 0)
        return -1;
    return size;
}

int cmd_show(int argc, char **)
{
    if (argc != 0)
        return kUsage;
    if (load_settings_bytes() < 0)
        return 1;
    // Each record starts at a line feed; text before the first one is no record.
    const char *p = strchr(buffer_setting, '\n');
    while (p != nullptr) {
        const char *next = strchr(p + 1, '\n');
        size_t len = next ? static_cast<size_t>(next - p - 1) : strlen(p + 1);
        if (len > 0)
            printf("%.*s\n", static_cast<int>(len), p + 1);
        p = next;
    }
    return 0;
}

int cmd_commit(int argc, char **)
{
    if (argc != 0)
        return kUsage;
    return save_commit() == SETTING_IMAGE_SIZE ? 0 : 1;
}

int cmd_init(int argc, char **)
{
    if (argc != 0)
        return kUsage;
    return init_flash_var() == 1 ? 0 : 1;
}

int cmd_dump(int argc, char **argv)
{
    if (argc != 1)
        return kUsage;
    int size;
    if (strcmp(argv[0], "settings") == 0)
        size = load_settings_bytes();
    else if (strcmp(argv[0], "flash") == 0)
        size = flash_read_setting_device(buffer_setting);
    else
        return kUsage;
    if (size < 0)
        return 1;
    dump(0, buffer_setting, size);
    return 0;
}

struct command {
    const char *name;
    int (*run)(int argc, char **argv);
    const char *args;
    const char *help;
};

const command commands[] = {
    {"send", cmd_send, "LETTER", "queue one service request"},
    {"get", cmd_get, "KEY", "print a setting's value"},
    {"set", cmd_set, "KEY=VALUE...", "write settings"},
    {"unset", cmd_unset, "KEY...", "remove settings"},
    {"show", cmd_show, "", "print every record as key=value"},
    {"commit", cmd_commit, "", "copy the settings to the flash partition"},
    {"init", cmd_init, "", "recreate the settings file from flash"},
    {"dump", cmd_dump, "settings|flash", "hexadecimal dump of the file or the flash image"},
};

void usage()
{
    fputs("usage: zelctl COMMAND [ARGS]\n", stderr);
    for (const command &c : commands)
        fprintf(stderr, "  zelctl %-6s %-15s %s\n", c.name, c.args, c.help);
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
