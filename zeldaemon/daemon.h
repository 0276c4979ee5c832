// zeldaemon internals shared by the program, its loop and its tests.
#ifndef ZELDAEMON_DAEMON_H
#define ZELDAEMON_DAEMON_H

#include "service_table.h"

#include <sys/time.h>

// Seams to the OS, set once. Tests swap them for a fake clock, a fake sleep and a
// recording shell; the program uses the real calls.
extern int (*run_command)(const char *command);
extern void (*read_clock)(struct timeval *now);
extern void (*sleep_seconds)(unsigned seconds);
// The two sweep steps, so that tests of the loop can see when they run.
extern void (*run_watchdog)(void);
extern void (*refresh_markers)(int group);

#define RESET_ZEL_START ZEL_BIN "reset_zel &"

// Timed sweeps come at least this many whole seconds apart.
#define SWEEP_INTERVAL 31
// The watchdog runs on the sweep that finds this many sweeps since the last one.
#define SWEEPS_PER_WATCHDOG 5

struct loop_state {
    char msg[2];
    int refresh_pid;
    int no_reset;
    struct timeval start_time;
    struct timeval end_time;
    int count_check_starting;
};

void loop_start(struct loop_state *s);
void loop_pass(struct loop_state *s);

// Runs the command lines of a request letter; the service group it refreshes, 0 for
// none. The reset request also clears the sweep counter.
int handle_request(char letter, int *count_check_starting);
// The same for the start, stop and other requests of the service table.
int run_service_request(char letter);

// Watchdog pass over all eight services, and the status marker refresh of one group
// (1..8) or all of them (0).
void check_services(void);
void update_markers(int group);

#endif
