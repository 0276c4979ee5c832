// The daemon's request loop: one request per pass, a one-second pace, and a
// 31-second gate for the status sweeps and the watchdog.
#include "daemon.h"

#include "own_file.h"
#include "zelmsg.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int real_system(const char *command)
{
    return system(command);
}

void real_clock(struct timeval *now)
{
    gettimeofday(now, nullptr);
}

void real_sleep(unsigned seconds)
{
    sleep(seconds);
}

void start_reset(int *count_check_starting)
{
    // The marker is an empty file of the daemon's own, as the markers of the services.
    int marker = zelmsg::create_own(RESET_MARKER, O_WRONLY | O_TRUNC, 0666);
    if (marker < 0) {
        perror("create " RESET_MARKER);
    } else {
        close(marker);
        run_command(ZEL_SETUP_CGI);
        run_command(RESET_ZEL_START);
    }
    *count_check_starting = 0;
}
} // namespace

int (*run_command)(const char *command) = real_system;
void (*read_clock)(struct timeval *now) = real_clock;
void (*sleep_seconds)(unsigned seconds) = real_sleep;
void (*run_watchdog)(void) = check_services;
void (*refresh_markers)(int group) = update_markers;

int handle_request(char letter, int *count_check_starting)
{
    if (letter == zel_reset_letter) {
        start_reset(count_check_starting);
        return 0;
    }
    return run_service_request(letter);
}

void loop_start(struct loop_state *s)
{
    s->count_check_starting = 0;
    read_clock(&s->start_time);
    s->msg[0] = '\0';
    s->refresh_pid = 0;
    s->no_reset = 1;
}

void loop_pass(struct loop_state *s)
{
    struct stat istat;

    s->refresh_pid = 0;
    s->no_reset = 1;

    if (getmsg(s->msg, SETUP_2_ZELD, 0) == 0) {
        s->refresh_pid = handle_request(s->msg[0], &s->count_check_starting);
        s->msg[0] = '\0';
    }

    sleep_seconds(1);

    // Only a marker of our own counts: anything else planted there would keep the
    // sweeps and the watchdog idle for good.
    if (lstat(RESET_MARKER, &istat) == 0 && zelmsg::own_file(istat))
        s->no_reset = 0;
    read_clock(&s->end_time);

    // While reset_zel restarts the services, requests are served but nothing else.
    if (s->no_reset == 0)
        return;
    if (s->end_time.tv_sec - s->start_time.tv_sec < SWEEP_INTERVAL && s->refresh_pid <= 0)
        return;

    if (s->count_check_starting == SWEEPS_PER_WATCHDOG) {
        run_watchdog();
        s->count_check_starting = 0;
    }
    refresh_markers(s->refresh_pid);
    if (s->refresh_pid == 0) {
        s->count_check_starting++;
        read_clock(&s->start_time);
    }
    s->refresh_pid = 0;
}
