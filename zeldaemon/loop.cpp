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

// The reset marker this daemon made, while it is there: it counts also when somebody
// gave it a second name, which a file planted there does not.
bool marker_known = false;
dev_t marker_dev;
ino_t marker_ino;

void know_marker(int fd)
{
    struct stat st;
    marker_known = fstat(fd, &st) == 0;
    if (marker_known) {
        marker_dev = st.st_dev;
        marker_ino = st.st_ino;
    }
}

// Whether a reset runs: the marker is there and ours. A marker of ours with another
// name beside it is made anew as a file of our own (create_own copies a kept file),
// so that its other names hold nothing of the daemon's any more.
bool reset_marked()
{
    struct stat st;
    if (lstat(RESET_MARKER, &st) != 0) {
        marker_known = false;
        return false;
    }
    const bool made = marker_known && st.st_dev == marker_dev && st.st_ino == marker_ino && zelmsg::ours(st);
    if (!made && !zelmsg::own_file(st))
        return false;
    if (st.st_nlink > 1) {
        int fd = zelmsg::create_own(RESET_MARKER, O_WRONLY, 0666);
        if (fd >= 0) {
            know_marker(fd);
            close(fd);
        }
    } else if (!made) {
        // Made by this daemon before a restart, or by reset_zel's caller.
        marker_known = true;
        marker_dev = st.st_dev;
        marker_ino = st.st_ino;
    }
    return true;
}

void start_reset(int *count_check_starting)
{
    // The marker is an empty file of the daemon's own, as the markers of the services.
    int marker = zelmsg::create_own(RESET_MARKER, O_WRONLY | O_TRUNC, 0666);
    if (marker < 0) {
        perror("create " RESET_MARKER);
    } else {
        know_marker(marker);
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
    s->refresh_pid = 0;
    s->no_reset = 1;

    if (getmsg(s->msg, SETUP_2_ZELD, 0) == 0) {
        s->refresh_pid = handle_request(s->msg[0], &s->count_check_starting);
        s->msg[0] = '\0';
    }

    sleep_seconds(1);

    // Only a marker of our own counts: anything else planted there would keep the
    // sweeps and the watchdog idle for good.
    if (reset_marked())
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
