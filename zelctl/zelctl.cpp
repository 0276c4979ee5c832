// zelctl: shell access to the library for integrators and tests. Every command goes
// through the library's own operations, as the player's programs use them.
#include "zelmsg.h"
#include "zelmsg_tool.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/stat.h>

namespace {
constexpr int kUsage = 2;
// Settings that the player's boot applies to a partition that holds none.
constexpr const char *kDefaultsHint = ZEL_DEFAULTS_FILE;

// Sets one setting; false (with a message) when it was refused or not written.
bool set_one(const char *key, const char *value)
{
    // get_var_mem would not read a longer value back.
    if (strlen(value) > SETTING_VALUE_MAX) {
        fprintf(stderr, "zelctl: cannot set %s: value longer than %d characters\n", key, SETTING_VALUE_MAX);
        return false;
    }
    // A stored record is at least "\nk=" and its NUL: 1 and 2 are write_file's failures.
    if (write_str(key, value) <= 2) {
        fprintf(stderr, "zelctl: cannot set %s\n", key);
        return false;
    }
    return true;
}

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
        if (!set_one(argv[i], eq + 1))
            rc = 1;
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
    // Zeroed first: the text then ends within the file's bytes even without its NUL.
    memset(buffer_setting, 0, SETTING_BUF_SIZE);
    int size = zelmsg_load_file(SETTING_FILE, buffer_setting, SETTING_BUF_SIZE);
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

// Sets every key=value line of a defaults file (blank lines and "#" comments aside)
// and commits them; false when a line or the commit failed.
bool apply_defaults(const char *path)
{
    FILE *f = fopen(path, "r");
    if (f == nullptr) {
        fprintf(stderr, "zelctl: cannot read defaults %s\n", path);
        return false;
    }
    static char line[4096];
    int number = 0, applied = 0;
    bool ok = true;
    while (fgets(line, sizeof line, f) != nullptr) {
        ++number;
        size_t len = strlen(line);
        if (len > 0 && line[len - 1] != '\n' && !feof(f)) {
            fprintf(stderr, "zelctl: %s:%d: line too long\n", path, number);
            ok = false;
            int c;
            while ((c = fgetc(f)) != EOF && c != '\n') {
            }
            continue;
        }
        line[strcspn(line, "\r\n")] = '\0';
        const char *start = line + strspn(line, " \t");
        if (*start == '\0' || *start == '#')
            continue;
        char *eq = strchr(line, '=');
        if (eq == nullptr) {
            fprintf(stderr, "zelctl: %s:%d: no key=value\n", path, number);
            ok = false;
            continue;
        }
        *eq = '\0';
        if (set_one(line, eq + 1))
            ++applied;
        else
            ok = false;
    }
    fclose(f);
    if (save_commit() != SETTING_IMAGE_SIZE) {
        fprintf(stderr, "zelctl: no settings on flash: %d defaults from %s set, but the commit failed\n", applied,
                path);
        return false;
    }
    fprintf(stderr, "zelctl: no settings on flash: %d defaults from %s written to flash\n", applied, path);
    return ok;
}

int cmd_init(int argc, char **argv)
{
    const char *defaults = nullptr;
    if (argc == 2 && strcmp(argv[0], "--defaults") == 0)
        defaults = argv[1];
    else if (argc != 0)
        return kUsage;
    int file_written = 0, restore_failed = 0;
    if (zelmsg_init_flash(&file_written, &restore_failed) != 1)
        return 1;
    if (!file_written) {
        fprintf(stderr, "zelctl: cannot write %s\n", SETTING_FILE);
        return 1;
    }
    // The settings are read; only the copy at offset 0 is not whole again.
    if (restore_failed)
        fprintf(stderr, "zelctl: cannot put the spare copy back at offset 0 of %s; it stays the only whole copy\n",
                SETTING_DEVICE);
    struct stat st;
    // A settings file of one NUL: the flash held no settings at all.
    if (defaults != nullptr && lstat(SETTING_FILE, &st) == 0 && st.st_size == 1)
        return apply_defaults(defaults) && !restore_failed ? 0 : 1;
    return restore_failed ? 1 : 0;
}

const char *spare_text(const zelmsg_flash_report &r)
{
    switch (r.spare) {
    case ZELMSG_SPARE_NO_ROOM:
        return "no room";
    case ZELMSG_SPARE_MISSING:
        return "missing";
    case ZELMSG_SPARE_VALID:
        return "valid";
    default:
        return "invalid";
    }
}

int cmd_info(int argc, char **)
{
    if (argc != 0)
        return kUsage;
    int file_size = load_settings_bytes();
    zelmsg_flash_report r;
    if (zelmsg_read_flash_report(&r) != 0) {
        fprintf(stderr, "zelctl: cannot read %s\n", SETTING_DEVICE);
        return 1;
    }
    if (r.size == 0)
        printf("partition: geometry unreadable\n");
    else
        printf("partition: %u bytes, erase blocks of %u bytes\n", r.size, r.erasesize);
    static const char *const image[] = {"whole", "erased", "cut (erased bytes inside the text)"};
    printf("image at offset 0: %s%s\n", image[r.image],
           r.spare == ZELMSG_SPARE_VALID && !r.image_is_spare ? "; the next boot restores the spare copy" : "");
    if (r.spare == ZELMSG_SPARE_VALID)
        printf("spare copy: valid, sequence %u, text %d bytes\n", r.sequence, r.spare_text_len);
    else if (r.spare == ZELMSG_SPARE_NO_ROOM && r.size != 0)
        printf("spare copy: no room (a partition of %u bytes holds one)\n", r.room_need);
    else
        printf("spare copy: %s\n", spare_text(r));
    int len = static_cast<int>(strlen(r.text));
    // Beyond the spare copy's room a commit has a single copy again.
    int limit = r.spare == ZELMSG_SPARE_NO_ROOM ? SETTING_TEXT_MAX : ZELMSG_SPARE_TEXT_MAX;
    printf("text: %d bytes, room for %d more\n", len, len < limit ? limit - len : 0);
    if (file_size < 0)
        printf("file and flash: no settings file\n");
    else
        printf("file and flash: %s\n", strcmp(buffer_setting, r.text) == 0 ? "same settings" : "different settings");
    return 0;
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
    {"init", cmd_init, "[--defaults FILE]",
     "recreate the settings file from flash; FILE's key=value lines when it holds none"},
    {"info", cmd_info, "", "the partition, its copies and the text's room"},
    {"dump", cmd_dump, "settings|flash", "hexadecimal dump of the file or the flash image"},
};

void usage()
{
    fputs("usage: zelctl COMMAND [ARGS]\n", stderr);
    for (const command &c : commands)
        fprintf(stderr, "  zelctl %-6s %-17s %s\n", c.name, c.args, c.help);
    fprintf(stderr, "The player's boot runs init --defaults %s when that file exists.\n", kDefaultsHint);
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
