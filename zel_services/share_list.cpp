// Share lists ("HARD_DISK|#USB_DRIVE_A-1"), the rule for the names written into the
// configuration files, and the scan of the root directory for disk shares.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "zel_services.h"

int count_share_names(const char *list)
{
    int n = 0;
    const char *p = list;
    while ((p = strstr(p, SHARE_SEPARATOR)) != nullptr) {
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
        size_t len = sep != nullptr ? static_cast<size_t>(sep - pos) : strlen(pos);
        if (len > SHARE_NAME_SIZE - 1)
            return -1;
        memcpy(name, pos, len);
        name[len] = '\0';
        step(name, ctx);
        pos = sep != nullptr ? sep + 2 : pos + len;
    }
    return n;
}

namespace {

bool control_char(unsigned char c)
{
    return c < 0x20 || c == 0x7f;
}

// What each character would do to the files:
//   '/'      the name would leave the root ("../etc") or name a deeper folder;
//   '"'      exportfs reads a quoted path up to the next quote, over the rest of the table;
//   '\\'     exportfs reads "\040" and its like as one character: another folder;
//   ']'      testparm ends the section name there, and the removal never finds it;
//   '%'      Samba expands "%m", "%u"... in the path to per-client text.
bool refused_char(unsigned char c)
{
    return control_char(c) || strchr("/\"\\]%", c) != nullptr;
}

// Section names Samba gives a meaning of its own, compared as Samba does.
bool reserved_section(const char *name)
{
    return strcasecmp(name, "global") == 0 || strcasecmp(name, "homes") == 0 || strcasecmp(name, "printers") == 0;
}

} // namespace

int check_config_text(const char *text)
{
    for (const char *p = text; *p != '\0'; p++)
        if (control_char(static_cast<unsigned char>(*p)))
            return -1;
    return 0;
}

// Blanks: Samba trims them at both ends of a section name and a path and folds a run
// of them into one, so only single blanks between other characters name the folder.
// The export table quotes such a path (nfs.cpp).
int check_share_name(const char *name)
{
    size_t len = strlen(name);
    if (len == 0 || len > SHARE_NAME_SIZE - 1)
        return -1;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0 || reserved_section(name))
        return -1;
    if (name[0] == ' ' || name[len - 1] == ' ' || strstr(name, "  ") != nullptr)
        return -1;
    for (const char *p = name; *p != '\0'; p++)
        if (refused_char(static_cast<unsigned char>(*p)))
            return -1;
    return 0;
}

namespace {

void check_step(const char *name, void *ctx)
{
    if (check_share_name(name) != 0)
        *static_cast<int *>(ctx) = -1;
}

} // namespace

int check_share_list(const char *list)
{
    int result = 0;
    if (for_each_share_name(list, check_step, &result) < 0)
        return -1;
    return result;
}

bool is_disk_share(const char *name)
{
    return strstr(name, "HARD_DISK") != nullptr || strstr(name, "SATA_DISK") != nullptr ||
           strstr(name, "USB_DRIVE_") != nullptr;
}

int list_root_folders()
{
    return system("ls / > " SHARE_LIST_PATH);
}

// A disk whose name the rule refuses is left out of both tables, so that every share
// the scan writes can be removed again. An entry too long for the line buffer is
// skipped whole: its pieces are not names of folders that exist.
bool next_disk_share(FILE *list, char *line)
{
    bool ends_line = true;

    for (;;) {
        bool whole = ends_line;
        if (!read_line_piece(list, line, &ends_line))
            return false;
        if (!whole || !ends_line)
            continue;
        size_t len = strlen(line);
        if (len > 0 && line[len - 1] == '\n')
            line[len - 1] = '\0';
        if (is_disk_share(line) && check_share_name(line) == 0)
            return true;
    }
}
