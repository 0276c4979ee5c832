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

// The next character of UTF-8 text, moving *p past it; -1 for bytes that are not
// UTF-8 (a Latin-1 byte, an overlong form, a surrogate). Samba converts names and
// the workgroup from UTF-8: it served no share listing at all once one name was
// Latin-1, and announced an empty workgroup.
long next_char(const unsigned char **p)
{
    const unsigned char *s = *p;
    long c = s[0];
    int more = c < 0x80 ? 0 : (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : -1;
    static const long least[] = {0, 0x80, 0x800, 0x10000};
    if (more < 0) {
        *p = s + 1;
        return -1;
    }
    if (more > 0)
        c &= 0x3f >> more;
    for (int i = 1; i <= more; i++) {
        if ((s[i] & 0xc0) != 0x80) {
            *p = s + i;
            return -1;
        }
        c = (c << 6) | (s[i] & 0x3f);
    }
    *p = s + more + 1;
    if (c < least[more] || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
        return -1;
    return c;
}

// Samba keys sections by their name in upper case, Unicode letters included ("[Ü]"
// merged into "[ü]", which then served /Ü). The characters whose case is folded here
// are the ones a name may hold beyond ASCII (case_known); others are refused rather
// than risk a fold not known here.
long fold_case(long c)
{
    if (c < 0x80)
        return toupper(static_cast<int>(c));
    if ((c >= 0xe0 && c <= 0xfe && c != 0xf7))
        return c - 0x20;
    if (c == 0xff)
        return 0x178;
    if (c == 0xb5)
        return 0x39c;
    if (c == 0x131)
        return 'I';
    if (c == 0x17f)
        return 'S';
    // Latin Extended-A: pairs, the upper case first, in two runs of each parity.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14a && c <= 0x177))
        return c & ~1L;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17e))
        return (c & 1) != 0 ? c : c - 1;
    // Greek and Cyrillic letters.
    if (c == 0x3ac)
        return 0x386;
    if (c >= 0x3ad && c <= 0x3af)
        return c - 0x25;
    if ((c >= 0x3b1 && c <= 0x3c1) || (c >= 0x3c3 && c <= 0x3cb))
        return c - 0x20;
    if (c == 0x3c2)
        return 0x3a3;
    if (c == 0x3cc)
        return 0x38c;
    if (c == 0x3cd || c == 0x3ce)
        return c - 0x3f;
    if (c >= 0x430 && c <= 0x44f)
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45f)
        return c - 0x50;
    return c;
}

bool case_known(long c)
{
    return (c >= 0xa0 && c <= 0x17f) || (c >= 0x386 && c <= 0x3ce) || (c >= 0x400 && c <= 0x45f) ||
           // Scripts without case: Hebrew, Arabic, Thai, kana, CJK, Hangul.
           (c >= 0x590 && c <= 0x6ff) || (c >= 0xe00 && c <= 0xe7f) || (c >= 0x3040 && c <= 0x30ff) ||
           (c >= 0x4e00 && c <= 0x9fff) || (c >= 0xac00 && c <= 0xd7a3);
}

// 0 when the text is UTF-8 and, with known_case, holds beyond ASCII only characters
// whose case fold_case knows.
int check_utf8(const char *text, bool known_case)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (*p != '\0') {
        long c = next_char(&p);
        if (c < 0 || (known_case && c >= 0x80 && !case_known(c)))
            return -1;
    }
    return 0;
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

// A workgroup beginning with "*" is NetBIOS's name of every host: nmbd announced none.
int check_workgroup(const char *text)
{
    return check_config_text(text) != 0 || strchr(text, '\\') != nullptr || text[0] == '*' ||
                   check_utf8(text, false) != 0
               ? -1
               : 0;
}

namespace {

// Samba's form of a section name: no blanks at the ends, a run of them one blank,
// letters in one case (fold_case); as characters, one per element. Bytes that are
// not UTF-8 (an old configuration's) stand for themselves, negated.
void section_key(const char *name, long *key)
{
    size_t n = 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(name);
    p += strspn(name, " \t");
    while (*p != '\0' && n + 1 < LINE_SIZE) {
        if (*p == ' ' || *p == '\t') {
            p += strspn(reinterpret_cast<const char *>(p), " \t");
            if (*p != '\0')
                key[n++] = ' ';
            continue;
        }
        const unsigned char *at = p;
        long c = next_char(&p);
        key[n++] = c < 0 ? -static_cast<long>(*at) : fold_case(c);
        if (c < 0)
            p = at + 1;
    }
    key[n] = 0;
}

} // namespace

bool same_section(const char *a, const char *b)
{
    long ka[LINE_SIZE];
    long kb[LINE_SIZE];
    section_key(a, ka);
    section_key(b, kb);
    for (size_t i = 0; ka[i] == kb[i]; i++)
        if (ka[i] == 0)
            return true;
    return false;
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
    return check_utf8(name, true);
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
