/* date for the virtual board: "date +FORMAT" with the player's clock, which the
 * preloaded clock of --speed runs faster (BusyBox's date is linked statically and
 * keeps the kernel's), and with %N (nanoseconds), which the stand-ins' journal lines
 * use and BusyBox's date lacks. Anything else is BusyBox's date. */
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2 || argv[1][0] != '+') {
        argv[0] = "date";
        execv("/bin/busybox", argv);
        perror("date: /bin/busybox");
        return 127;
    }
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    char format[256], nanos[16], out[512];
    snprintf(nanos, sizeof nanos, "%09ld", now.tv_nsec);
    /* %N first, in a copy of the format; strftime does the rest. */
    size_t o = 0;
    for (const char *f = argv[1] + 1; *f && o + 10 < sizeof format; ++f) {
        if (f[0] == '%' && f[1] == 'N') {
            memcpy(format + o, nanos, 9);
            o += 9;
            ++f;
        } else if (f[0] == '%' && f[1] == '%') {
            format[o++] = *f++;
            format[o++] = *f;
        } else {
            format[o++] = *f;
        }
    }
    format[o] = '\0';
    time_t t = now.tv_sec;
    struct tm tm;
    localtime_r(&t, &tm);
    size_t n = strftime(out, sizeof out, format, &tm);
    if (n == 0 && format[0] != '\0')
        return 1;
    printf("%.*s\n", (int)n, out);
    return 0;
}
