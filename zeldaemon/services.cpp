// Service requests, watchdog and status markers, all from the service table. A
// service is judged only by pidof, never by what a script returned.
#include "daemon.h"

#include "own_file.h"
#include "zelmsg.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {
template <int N>
void run_lines(const char *const (&lines)[N])
{
    for (const char *line : lines) {
        if (line != nullptr)
            run_command(line);
    }
}

bool process_running(const char *name)
{
    return run_process_check(run_command, name) == 0;
}

bool service_running(const zel_service &s)
{
    for (const char *name : s.processes) {
        if (name != nullptr && !process_running(name))
            return false;
    }
    return true;
}

// Other programs of the player write these settings too, so any text that reads as 1
// the way atoi reads it ("01", " 1", "1x") asks for supervision.
bool service_wanted(const zel_service &s)
{
    int value = 0;
    char *val = get_var_mem(s.setting_key);
    if (val != nullptr) {
        value = atoi(val);
        free(val);
    }
    return value == 1;
}

void restart_service(const zel_service &s)
{
    if (s.restart_lines[0] != nullptr) {
        run_lines(s.restart_lines);
        return;
    }
    run_lines(s.stop_lines);
    run_lines(s.start_lines);
}

void refresh_marker(const zel_service &s)
{
    if (!service_running(s)) {
        remove(s.marker);
        return;
    }
    // An empty file of the daemon's own: a link, FIFO or another user's file planted
    // in its place goes first, so nothing is written through it; a directory is
    // reported.
    int fd = zelmsg::create_own(s.marker, O_WRONLY | O_TRUNC, 0666);
    if (fd < 0) {
        perror(s.marker);
        return;
    }
    close(fd);
}
} // namespace

int run_service_request(char letter)
{
    if (letter == zel_smb_passwd.letter) {
        run_command(zel_smb_passwd.line);
        return zel_smb_passwd.group;
    }
    for (const zel_service &s : zel_services) {
        if (letter == s.start_letter) {
            run_lines(s.start_lines);
            return s.group;
        }
        if (letter == s.stop_letter) {
            run_lines(s.stop_lines);
            return s.group;
        }
    }
    return 0;
}

void check_services(void)
{
    for (const zel_service &s : zel_services) {
        if (service_wanted(s) && !service_running(s))
            restart_service(s);
    }
}

void update_markers(int group)
{
    for (const zel_service &s : zel_services) {
        if (group == 0 || group == s.group)
            refresh_marker(s);
    }
}
