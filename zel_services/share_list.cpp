/* Share lists ("HARD_DISK|#USB_DRIVE_A-1"), the rules for names written into the
 * configuration files, and the scan of the root directory for disk shares. */
#include <stdlib.h>
#include <string.h>

#include "zel_services.h"

int count_share_names(const char *list)
{
    int n = 0;
    const char *p = list;
    while ((p = strstr(p, SHARE_SEPARATOR)) != NULL) {
        n++;
        p += 2;
    }
    return n + 1;
}

int for_each_share_name(const char *list, share_name_step step, void *ctx)
{
    int n = count_share_names(list);
    const char *pos = list;
    char name[SHARE_NAME_SIZE];

    for (int i = 0; i < n; i++) {
        const char *sep = strstr(pos, SHARE_SEPARATOR);
        size_t len = sep != NULL ? (size_t)(sep - pos) : strlen(pos);
        if (len > SHARE_NAME_SIZE - 1)
            return -1;
        memcpy(name, pos, len);
        name[len] = '\0';
        step(name, ctx);
        pos = sep != NULL ? sep + 2 : pos + len;
    }
    return n;
}

int check_config_text(const char *text)
{
    for (const unsigned char *p = (const unsigned char *)text; *p != '\0'; p++)
        if (*p < 0x20 || *p == 0x7f)
            return -1;
    return 0;
}

/* A blank would end the folder field of an export line, so "/My Disk" would export
 * "/My" to a host called "Disk". */
int check_share_name(const char *name)
{
    size_t len = strlen(name);
    if (len == 0 || len > SHARE_NAME_SIZE - 1)
        return -1;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return -1;
    for (const unsigned char *p = (const unsigned char *)name; *p != '\0'; p++)
        if (*p <= 0x20 || *p == 0x7f || *p == '/')
            return -1;
    return 0;
}

static void check_step(const char *name, void *ctx)
{
    if (check_share_name(name) != 0)
        *(int *)ctx = -1;
}

int check_share_list(const char *list)
{
    int result = 0;
    if (for_each_share_name(list, check_step, &result) < 0)
        return -1;
    return result;
}

int is_disk_share(const char *name)
{
    return strstr(name, "HARD_DISK") != NULL || strstr(name, "SATA_DISK") != NULL || strstr(name, "USB_DRIVE_") != NULL;
}

int list_root_folders(void)
{
    return system("ls / > " SHARE_LIST_PATH);
}

int read_line_piece(FILE *f, char *line, int *ends_line)
{
    if (fgets(line, LINE_SIZE - 1, f) == NULL)
        return 0;
    size_t len = strlen(line);
    *ends_line = (len > 0 && line[len - 1] == '\n') || feof(f);
    return 1;
}

/* An entry too long for the line buffer is skipped whole: its pieces are not names
 * of folders that exist. Names that cannot be written into a table line are skipped
 * too. */
int next_disk_share(FILE *list, char *line)
{
    int ends_line = 1;
    int whole;

    for (;;) {
        whole = ends_line;
        if (!read_line_piece(list, line, &ends_line))
            return 0;
        if (!whole || !ends_line)
            continue;
        size_t len = strlen(line);
        if (len > 0 && line[len - 1] == '\n')
            line[len - 1] = '\0';
        if (!is_disk_share(line))
            continue;
        const unsigned char *p = (const unsigned char *)line;
        while (*p > 0x20 && *p != 0x7f)
            p++;
        if (*p == '\0')
            return 1;
    }
}

/* A file that could not be written whole must not replace the one in place. */
int close_written_file(FILE *f)
{
    int bad = ferror(f);
    return (fclose(f) != 0 || bad) ? -1 : 0;
}

void run_ignoring_status(const char *command)
{
    int status = system(command);
    (void)status;
}
