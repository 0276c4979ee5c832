// Fuzzes the command line, the share-list splitting, the name rules and the quoting
// of the FTP login. Input: the first argument, a NUL, the second argument.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "commands.h"
#include "ftp_internal.h"
#include "share_list_internal.h"

namespace {

struct Cut {
    std::string joined;
    int names = 0;
    bool all_valid = true;
};

void collect(const char *name, void *ctx)
{
    Cut *cut = static_cast<Cut *>(ctx);
    if (strlen(name) > SHARE_NAME_SIZE - 1)
        abort();
    if (cut->names++ > 0)
        cut->joined += SHARE_SEPARATOR;
    cut->joined += name;
    if (check_share_name(name) != 0)
        cut->all_valid = false;
}

// Reads back a word the way /bin/sh does for the two forms the quoting produces.
std::string unquote(const char *word)
{
    std::string out;
    if (word[0] != '\'')
        return word;
    for (const char *p = word; *p != '\0';) {
        if (p[0] == '\\' && p[1] == '\'') {
            out += '\'';
            p += 2;
        } else if (*p == '\'') {
            const char *end = strchr(p + 1, '\'');
            if (end == nullptr)
                abort();
            out.append(p + 1, end);
            p = end + 1;
        } else {
            abort();
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    size_t nul = input.find('\0');
    std::string first = input.substr(0, nul);
    std::string second = nul == std::string::npos ? "" : input.substr(nul + 1);
    second.resize(strlen(second.c_str()));

    char *argv[] = {const_cast<char *>("zel_services"), &first[0], &second[0], nullptr};
    char cmd[CMD_TEXT_SIZE];
    char opt[OPT_TEXT_SIZE];
    if (read_command_line(3, argv, cmd, opt) != 0)
        return 0;
    if (strlen(cmd) > CMD_TEXT_SIZE - 1 || strlen(opt) > OPT_TEXT_SIZE - 1)
        abort();
    int code = parse_cmd(cmd);
    if (code < -1 || code >= APPS_COUNT || (code >= 0 && strcmp(cmd, apps_type[code].name) != 0))
        abort();

    // Splitting hands on every name, in order, and nothing else; a list it accepts
    // holds no name that could leave the root or add a line.
    Cut cut;
    int n = for_each_share_name(opt, collect, &cut);
    if (n >= 0) {
        if (n != count_share_names(opt) || n != cut.names || cut.joined != opt)
            abort();
        if ((check_share_list(opt) == 0) != cut.all_valid)
            abort();
    } else if (check_share_list(opt) == 0) {
        abort();
    }
    // An accepted name cannot leave the root, add a line, end a section header early,
    // open a quoted export path or be expanded by Samba.
    if (check_share_name(opt) == 0 && (strpbrk(opt, "/\n\"\\]%") != nullptr || opt[0] == '\0'))
        abort();

    // The login comes back from the shell exactly as given.
    char quoted[4 * OPT_TEXT_SIZE + 3];
    if (quote_shell_word(quoted, sizeof quoted, opt) != 0 || unquote(quoted) != opt)
        abort();
    char line[COMMAND_SIZE];
    if (compose_passwd_command(line, sizeof line, opt) == 0 && strlen(line) > COMMAND_SIZE - 2)
        abort();
    return 0;
}
