// Prints the service table as a shell file for the simulated player: its stand-ins,
// its demo and the end-to-end scripts source it, so that they name the services,
// processes, markers and lines the programs use. Run at build time:
//   zel_service_table_sh OUTPUT
#include "service_table.h"

#include <stdio.h>
#include <string.h>

namespace {
FILE *out;
bool unquotable;

// Every text goes into single quotes or a plain word: none may hold a quote, a
// backslash or a dollar sign.
const char *sh(const char *text)
{
    if (strpbrk(text, "'\"\\$`") != nullptr) {
        fprintf(stderr, "zel_service_table_sh: cannot quote [%s]\n", text);
        unquotable = true;
    }
    return text;
}

// The line as the called program sees it ($0 and its arguments): without the blanks
// in front and the "&" that sends it to the background.
void print_called_line(const char *line)
{
    while (*line == ' ')
        ++line;
    size_t n = strlen(line);
    if (n >= 2 && strcmp(line + n - 2, " &") == 0)
        n -= 2;
    fprintf(out, "%.*s", static_cast<int>(n), sh(line));
}

template <int N>
void print_lines(const char *const (&lines)[N])
{
    for (const char *line : lines) {
        if (line != nullptr)
            fprintf(out, " '%s'", sh(line));
    }
}

// The names of a service's processes, each after a blank.
void print_processes(const zel_service &s)
{
    for (const char *p : s.processes) {
        if (p != nullptr)
            fprintf(out, " %s", sh(p));
    }
}

// The programs the lines run (their first words), each once.
void print_programs()
{
    const char *seen[4 * zel_service_count + 1];
    int count = 0;
    auto add = [&](const char *line) {
        if (line == nullptr)
            return;
        while (*line == ' ')
            ++line;
        size_t n = strcspn(line, " ");
        for (int i = 0; i < count; ++i) {
            if (strncmp(seen[i], line, n) == 0 && strcspn(seen[i], " ") == n)
                return;
        }
        seen[count++] = line;
        fprintf(out, count > 1 ? " %.*s" : "%.*s", static_cast<int>(n), sh(line));
    };
    for (const zel_service &s : zel_services) {
        for (const char *line : s.start_lines)
            add(line);
        for (const char *line : s.stop_lines)
            add(line);
    }
    add(zel_smb_passwd.line);
}

void print_role(const char *line, const char *role, const zel_service &s)
{
    fprintf(out, "  '");
    print_called_line(line);
    fprintf(out, "') echo %s", role);
    print_processes(s);
    fprintf(out, " ;;\n");
}

void print_table()
{
    fprintf(out, "# The player's services for the shell, printed from service_table/service_table.h at\n"
                 "# build time: edit the header, not this file.\n");

    fprintf(out, "# One line per service in group order: group, setting key, start and stop\n"
                 "# letter, marker, processes.\nservice_rows=\"");
    for (const zel_service &s : zel_services) {
        fprintf(out, "%s%d %s %c %c %s", s.group > 1 ? "\n" : "", s.group, sh(s.setting_key), s.start_letter,
                s.stop_letter, sh(s.marker));
        print_processes(s);
    }
    fprintf(out, "\"\n");

    fprintf(out, "services=\"");
    for (const zel_service &s : zel_services)
        fprintf(out, s.group > 1 ? " %s" : "%s", sh(s.setting_key));
    fprintf(out, "\"\nstart_letters=\"");
    for (const zel_service &s : zel_services)
        fprintf(out, s.group > 1 ? " %c" : "%c", s.start_letter);
    fprintf(out, "\"\nstop_letters=\"");
    for (const zel_service &s : zel_services)
        fprintf(out, s.group > 1 ? " %c" : "%c", s.stop_letter);
    fprintf(out, "\"\nmarkers=\"");
    for (const zel_service &s : zel_services)
        fprintf(out, s.group > 1 ? " %s" : "%s", sh(s.marker));
    fprintf(out, "\"\nprocesses=\"");
    for (const zel_service &s : zel_services) {
        for (const char *p : s.processes) {
            if (p != nullptr)
                fprintf(out, p == zel_services[0].processes[0] ? "%s" : " %s", sh(p));
        }
    }
    fprintf(out, "\"\n");
    fprintf(out, "# Every program the command lines run.\nprograms=\"");
    print_programs();
    fprintf(out, "\"\n");
    fprintf(out, "RESET_MARKER=%s\nSETUP_CGI=%s\nRESET_LETTER=%c\n", sh(RESET_MARKER), sh(ZEL_SETUP_CGI),
            zel_reset_letter);

    fprintf(out, "\n# request_lines LETTER: the command lines of a request, one a line, exactly as\n"
                 "# the daemon hands them to the shell.\nrequest_lines() {\n  case $1 in\n");
    for (const zel_service &s : zel_services) {
        fprintf(out, "  %c) printf '%%s\\n'", s.start_letter);
        print_lines(s.start_lines);
        fprintf(out, " ;;\n  %c) printf '%%s\\n'", s.stop_letter);
        print_lines(s.stop_lines);
        fprintf(out, " ;;\n");
    }
    fprintf(out, "  %c) printf '%%s\\n' '%s' ;;\n  esac\n}\n", zel_smb_passwd.letter, sh(zel_smb_passwd.line));

    // The first start and the first stop line of a service bring its processes up
    // or end them (restart lines of their own are the same calls once the shell has
    // dropped their blank); the other lines, the BitTorrent companion's, and the
    // password request play no process.
    fprintf(out, "\n# standin_role PROGRAM ARGS...: what a stand-in called so does (start, restart or\n"
                 "# stop) and to which processes; nothing for a call that plays no process.\n"
                 "standin_role() {\n  case \"$*\" in\n");
    for (const zel_service &s : zel_services) {
        const char *start = s.start_lines[0];
        size_t n = strlen(start);
        print_role(start, n > 8 && strcmp(start + n - 8, " restart") == 0 ? "restart" : "start", s);
        print_role(s.stop_lines[0], "stop", s);
    }
    fprintf(out, "  esac\n}\n");
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: zel_service_table_sh OUTPUT\n");
        return 2;
    }
    out = fopen(argv[1], "w");
    if (out == nullptr) {
        perror(argv[1]);
        return 1;
    }
    print_table();
    if (fclose(out) != 0) {
        perror(argv[1]);
        unquotable = true;
    }
    if (unquotable) {
        remove(argv[1]);
        return 1;
    }
    return 0;
}
