/* zel-speed: the clock of --speed for the MIPS programs of the simulated player.
 *
 * libfaketime, which speeds up the host's programs, is a host library and cannot be
 * loaded into a MIPS program. This preload does the part of it that the system's
 * programs use: with FAKETIME "+0 xN" (the player's setting) time runs N times
 * faster from the process's start (or from ZP_SPEED_BASE, below), for time,
 * gettimeofday and clock_gettime, and
 * sleep, usleep and nanosleep last 1/N of the time asked. Inert without FAKETIME.
 *
 * The player hands MIPS programs an LD_PRELOAD of their own (qemu's QEMU_SET_ENV):
 * their loader cannot load the host's libfaketime, nor the host's loader these.
 * Here the host's (ZP_HOST_PRELOAD, or none) is put back, so that host programs
 * started from a MIPS program run as they do elsewhere in the player. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#define SPEED_EXPORT __attribute__((visibility("default")))

static double speed = 1.0;
static struct timespec start_real, start_mono;

typedef int (*clock_gettime_fn)(clockid_t, struct timespec *);
typedef int (*nanosleep_fn)(const struct timespec *, struct timespec *);
static clock_gettime_fn real_clock_gettime;
static nanosleep_fn real_nanosleep;

__attribute__((constructor)) static void speed_init(void)
{
    real_clock_gettime = (clock_gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
    real_nanosleep = (nanosleep_fn)dlsym(RTLD_NEXT, "nanosleep");
    const char *host = getenv("ZP_HOST_PRELOAD");
    if (host && *host)
        setenv("LD_PRELOAD", host, 1);
    else
        unsetenv("LD_PRELOAD");
    const char *ft = getenv("FAKETIME");
    const char *x = ft ? strchr(ft, 'x') : NULL;
    if (x && atof(x + 1) > 0)
        speed = atof(x + 1);
    real_clock_gettime(CLOCK_REALTIME, &start_real);
    real_clock_gettime(CLOCK_MONOTONIC, &start_mono);
    /* ZP_SPEED_BASE "REALTIME MONOTONIC" (seconds; the virtual board sets it): one
     * clock from that instant for every process, so that their times agree. */
    const char *base = getenv("ZP_SPEED_BASE");
    double r, m;
    if (base && sscanf(base, "%lf %lf", &r, &m) == 2) {
        start_real.tv_sec = (time_t)r;
        start_real.tv_nsec = (long)((r - (double)(time_t)r) * 1e9);
        start_mono.tv_sec = (time_t)m;
        start_mono.tv_nsec = (long)((m - (double)(time_t)m) * 1e9);
    }
}

static double seconds(const struct timespec *t)
{
    return (double)t->tv_sec + (double)t->tv_nsec / 1e9;
}

static void from_seconds(double s, struct timespec *t)
{
    t->tv_sec = (time_t)s;
    t->tv_nsec = (long)((s - (double)t->tv_sec) * 1e9);
}

SPEED_EXPORT int clock_gettime(clockid_t id, struct timespec *t)
{
    int rc = real_clock_gettime(id, t);
    if (rc != 0 || speed == 1.0)
        return rc;
    const struct timespec *base = NULL;
    if (id == CLOCK_REALTIME)
        base = &start_real;
    else if (id == CLOCK_MONOTONIC)
        base = &start_mono;
    if (base)
        from_seconds(seconds(base) + (seconds(t) - seconds(base)) * speed, t);
    return 0;
}

/* uClibc's declaration: the time zone argument is obsolete and left alone. */
SPEED_EXPORT int gettimeofday(struct timeval *restrict tv, __timezone_ptr_t tz)
{
    (void)tz;
    struct timespec t;
    if (clock_gettime(CLOCK_REALTIME, &t) != 0)
        return -1;
    tv->tv_sec = t.tv_sec;
    tv->tv_usec = t.tv_nsec / 1000;
    return 0;
}

SPEED_EXPORT time_t time(time_t *out)
{
    struct timespec t;
    if (clock_gettime(CLOCK_REALTIME, &t) != 0)
        return (time_t)-1;
    if (out)
        *out = t.tv_sec;
    return t.tv_sec;
}

SPEED_EXPORT int nanosleep(const struct timespec *want, struct timespec *left)
{
    struct timespec scaled;
    if (!want || speed == 1.0)
        return real_nanosleep(want, left);
    from_seconds(seconds(want) / speed, &scaled);
    int rc = real_nanosleep(&scaled, left);
    if (rc != 0 && left)
        from_seconds(seconds(left) * speed, left);
    return rc;
}

SPEED_EXPORT unsigned int sleep(unsigned int s)
{
    struct timespec t = {(time_t)s, 0}, left = {0, 0};
    if (nanosleep(&t, &left) != 0)
        return (unsigned int)left.tv_sec;
    return 0;
}

SPEED_EXPORT int usleep(useconds_t us)
{
    struct timespec t = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
    return nanosleep(&t, NULL);
}
