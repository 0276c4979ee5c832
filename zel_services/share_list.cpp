// Share lists ("HARD_DISK|#USB_DRIVE_A-1") and the rule for the names written into
// the configuration files.
#include "share_list.h"

#include <ctype.h>
#include <string.h>

#include "config_file.h"
#include "test_entry.h"

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
//   '['      a header "[x[share]" holds the text "[share]" of another section;
//   '%'      Samba expands "%m", "%u"... in the path to per-client text.
bool refused_char(unsigned char c)
{
    return control_char(c) || strchr("/\"\\[]%", c) != nullptr;
}

// Section names Samba gives a meaning of its own, compared as Samba does; IPC$ is
// its own service.
bool reserved_section(const char *name)
{
    static const char *const reserved[] = {"global", "homes", "printers", "ipc$"};
    for (const char *r : reserved)
        if (same_section(name, r))
            return true;
    return false;
}

} // namespace

int check_config_text(const char *text)
{
    for (const char *p = text; *p != '\0'; p++)
        if (control_char(static_cast<unsigned char>(*p)))
            return -1;
    return 0;
}

int check_workgroup(const char *text)
{
    return check_config_text(text) != 0 || strchr(text, '\\') != nullptr ? -1 : 0;
}

namespace {

// Samba's form of a section name: no blanks at the ends, a run of them one blank,
// letters in one case.
void section_key(const char *name, char *key)
{
    size_t n = 0;
    name += strspn(name, " \t");
    while (*name != '\0' && n + 1 < LINE_SIZE) {
        if (*name == ' ' || *name == '\t') {
            name += strspn(name, " \t");
            if (*name != '\0')
                key[n++] = ' ';
            continue;
        }
        key[n++] = static_cast<char>(tolower(static_cast<unsigned char>(*name++)));
    }
    key[n] = '\0';
}

} // namespace

bool same_section(const char *a, const char *b)
{
    char ka[LINE_SIZE];
    char kb[LINE_SIZE];
    section_key(a, ka);
    section_key(b, kb);
    return strcmp(ka, kb) == 0;
}

namespace {

// Another section in Samba's eyes that is not the name itself: adding a folder twice
// is no conflict.
bool other_case(const char *name, const char *taken)
{
    return same_section(name, taken) && strcmp(name, taken) != 0;
}

// The name of the section whose header the line holds, into name (LINE_SIZE bytes);
// false for other lines.
bool section_header(const char *line, char *name)
{
    line += strspn(line, " \t");
    const char *end = strchr(line, ']');
    if (*line != '[' || end == nullptr)
        return false;
    size_t len = static_cast<size_t>(end - line - 1);
    memcpy(name, line + 1, len);
    name[len] = '\0';
    return true;
}

bool section_taken(FILE *conf, const char *name)
{
    char line[LINE_SIZE];
    char taken[LINE_SIZE];
    bool ends_line = true;
    rewind(conf);
    for (;;) {
        bool at_start = ends_line;
        if (!read_line_piece(conf, line, &ends_line))
            return false;
        if (at_start && section_header(line, taken) && other_case(name, taken))
            return true;
    }
}

struct section_check {
    FILE *conf;
    const char *list;
    int index;
    int result;
};

struct earlier_check {
    const char *name;
    int before;
    bool clash;
};

void earlier_step(const char *earlier, void *ctx)
{
    earlier_check *e = static_cast<earlier_check *>(ctx);
    if (e->before-- > 0 && other_case(e->name, earlier))
        e->clash = true;
}

void new_section_step(const char *name, void *ctx)
{
    section_check *c = static_cast<section_check *>(ctx);
    earlier_check e = {name, c->index++, false};
    for_each_share_name(c->list, earlier_step, &e);
    if (e.clash || other_case(name, "share") || (c->conf != nullptr && section_taken(c->conf, name)))
        c->result = -1;
}

} // namespace

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

int check_new_sections(const char *list, FILE *conf)
{
    section_check c = {conf, list, 0, 0};
    for_each_share_name(list, new_section_step, &c);
    return c.result;
}
