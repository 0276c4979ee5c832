/* mtdemu: stands in for the kernel's MTD driver on a host without one.
 *
 * Preloaded (LD_PRELOAD, /etc/ld.so.preload) or linked into a test, it makes the
 * regular files at /dev/mtd0 and /dev/mtd1 behave as MTD partitions towards the
 * flash code, which stays the code that ships. It answers as the virtual board's
 * real drivers do for the chip that DEV.chip names (see zel-mtd answers, and the
 * check that compares both):
 *   nor      block2mtd over a disk (the default): MEMGETINFO says RAM (type 1,
 *            flags 0x1c00), write size 1, 64 KiB blocks; MEMUNLOCK fails with
 *            EOPNOTSUPP; writes go anywhere and overwrite; an erase need not be
 *            block-aligned (whole 4 KiB pages from its start are erased)
 *   ram      mtdram: the same, but an erase off the block boundaries is EINVAL
 *   nand     nandsim, 512-byte pages (16 of OOB), 16 KiB blocks: NAND (type 4,
 *            flags 0x400); MEMUNLOCK fails with the kernel's ENOTSUPP (524); a
 *            write must start and end on 512-byte subpages (EINVAL) and programs
 *            bits from 1 to 0 only; erases are block-aligned
 *   nand-2k  the same with 2 KiB pages (64 of OOB) and 128 KiB blocks
 *   MEMGETINFO  size = the file's size
 *   MEMERASE    fills the range with 0xFF (it must lie inside the partition)
 *   write       at or past the partition's end ENOSPC; one that crosses it is cut
 * Any other descriptor or request goes to the real ioctl.
 *
 * Knobs are small files beside the device (DEV is /dev/mtd0 or /dev/mtd1), read on
 * every call so that a test or a shell can change them between operations:
 *   DEV.chip           nor, ram, nand or nand-2k (above); nor when missing
 *   DEV.erasesize      decimal erase-block size instead of the chip's
 *   DEV.getinfo_fail   exists: MEMGETINFO fails with EIO
 *   DEV.erase_fail     N: the next N erase requests fail with EIO (the file counts
 *                      down); -1: every erase fails
 *   DEV.open_fail      N or -1, the same for open() of the path: ENXIO
 *   DEV.nor            exists: a write() may only clear bits, as on NOR flash
 *                      (programming over unerased bytes fails with EIO, nothing
 *                      is written); writes past the partition's end fail (ENOSPC)
 *   DEV.cut            power cut, the process killed with SIGKILL:
 *                      "erase"         right after the erase of the partition's
 *                                      last block
 *                      "erase K"       right after the process's K-th erase request
 *                                      to DEV (1 is the first)
 *                      "erase K torn"  inside the K-th erase request: the range
 *                                      holds random bytes, neither the old ones nor
 *                                      erased ones, as a cut erase leaves real flash
 *                      "write N"       the first write() of more than N bytes
 *                                      programs N of them
 *                      "write K N"     the process's K-th write() to DEV programs N
 *                                      of its bytes (all when N is not below its
 *                                      length), then the process is killed
 *                      Requests are counted per process from its start; a forked
 *                      child counts from 0.
 *   DEV.log            exists: one line per answered request is appended to it
 *                      ("getinfo", "erase START LENGTH ok|fail|torn", "unlock START
 *                      LENGTH", "open fail")
 * Making the device unopenable for good: remove the file, or open_fail -1.
 */
#define _GNU_SOURCE
// open and open64 are defined side by side below: with 64-bit offsets a C library
// (uClibc) maps the one onto the other.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <mtd/mtd-user.h>

// Older C libraries (uClibc 1.0) lack the flag; open() only tests it to know whether
// a mode was given. The kernel's value on every architecture this runs on.
#ifndef O_TMPFILE
#define O_TMPFILE (020000000 | O_DIRECTORY)
#endif

#define EMU_EXPORT __attribute__((visibility("default")))

static const char *const devices[] = {"/dev/mtd0", "/dev/mtd1"};
#define NDEV (sizeof devices / sizeof devices[0])

typedef int (*ioctl_fn)(int, unsigned long, void *);
typedef int (*open_fn)(const char *, int, ...);
typedef ssize_t (*write_fn)(int, const void *, size_t);

/* Set once this process has opened an emulated device: only then are writes checked. */
static volatile int mtd_opened;

static void *next_symbol(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

/* Index of the emulated device behind fd, or -1. */
static int device_of(int fd, struct stat *st)
{
    struct stat dev;
    if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode))
        return -1;
    for (unsigned i = 0; i < NDEV; ++i)
        if (stat(devices[i], &dev) == 0 && dev.st_dev == st->st_dev && dev.st_ino == st->st_ino)
            return (int)i;
    return -1;
}

static int device_by_path(const char *path)
{
    for (unsigned i = 0; i < NDEV; ++i)
        if (path && strcmp(path, devices[i]) == 0)
            return (int)i;
    return -1;
}

static void knob_path(char *out, size_t n, int dev, const char *knob)
{
    snprintf(out, n, "%s.%s", devices[dev], knob);
}

static int knob_exists(int dev, const char *knob)
{
    char p[64];
    knob_path(p, sizeof p, dev, knob);
    return access(p, F_OK) == 0;
}

/* First line of a knob file without its line feed, or an empty string when it is
 * missing. */
static void knob_text(int dev, const char *knob, char *out, size_t n)
{
    char p[64];
    out[0] = '\0';
    knob_path(p, sizeof p, dev, knob);
    FILE *f = fopen(p, "r");
    if (!f)
        return;
    if (!fgets(out, (int)n, f))
        out[0] = '\0';
    out[strcspn(out, "\n")] = '\0';
    fclose(f);
}

/* Consumes one failure of a counting knob: 1 when this call is to fail. */
static int knob_count_down(int dev, const char *knob)
{
    char text[32], p[64];
    knob_text(dev, knob, text, sizeof text);
    if (text[0] == '\0')
        return 0;
    long n = strtol(text, NULL, 10);
    if (n < 0)
        return 1;
    if (n == 0)
        return 0;
    knob_path(p, sizeof p, dev, knob);
    FILE *f = fopen(p, "w");
    if (f) {
        fprintf(f, "%ld\n", n - 1);
        fclose(f);
    }
    return 1;
}

static void journal(int dev, const char *fmt, ...)
{
    char p[64];
    if (!knob_exists(dev, "log"))
        return;
    knob_path(p, sizeof p, dev, "log");
    FILE *f = fopen(p, "a");
    if (!f)
        return;
    va_list ap;
    va_start(ap, fmt);
    vfprintf(f, fmt, ap);
    va_end(ap);
    fputc('\n', f);
    fclose(f);
}

/* What the board's drivers answer, per chip. */
struct chip {
    const char *name;
    unsigned char type;
    unsigned flags;
    unsigned erasesize, writesize, oobsize;
    unsigned write_align; /* a write starts and ends on these (NAND subpages) */
    int unlock_errno;
    int and_program;   /* programming clears bits only */
    int erase_aligned; /* an erase off the block boundaries is EINVAL */
};

/* The kernel's ENOTSUPP, which nandsim's MEMUNLOCK hands out as it is. */
#define KERNEL_ENOTSUPP 524

static const struct chip chips[] = {
    {"nor", MTD_RAM, MTD_CAP_RAM, 65536, 1, 0, 1, EOPNOTSUPP, 0, 0},
    {"ram", MTD_RAM, MTD_CAP_RAM, 65536, 1, 0, 1, EOPNOTSUPP, 0, 1},
    {"nand", MTD_NANDFLASH, MTD_CAP_NANDFLASH, 16384, 512, 16, 512, KERNEL_ENOTSUPP, 1, 1},
    {"nand-2k", MTD_NANDFLASH, MTD_CAP_NANDFLASH, 131072, 2048, 64, 512, KERNEL_ENOTSUPP, 1, 1},
};

static const struct chip *chip_of(int dev)
{
    char text[32];
    knob_text(dev, "chip", text, sizeof text);
    for (unsigned i = 0; i < sizeof chips / sizeof chips[0]; ++i)
        if (strcmp(text, chips[i].name) == 0)
            return &chips[i];
    return &chips[0];
}

static unsigned erasesize_of(int dev)
{
    char text[32];
    knob_text(dev, "erasesize", text, sizeof text);
    unsigned long v = strtoul(text, NULL, 10);
    return v ? (unsigned)v : chip_of(dev)->erasesize;
}

static void power_cut(void)
{
    raise(SIGKILL);
    _exit(137);
}

/* Requests of this process per device: erases and writes. */
enum {
    COUNT_ERASE,
    COUNT_WRITE
};
static pid_t counted_by;
static unsigned long counts[NDEV][2];

static unsigned long count_request(int dev, int kind)
{
    pid_t self = getpid();
    if (counted_by != self) {
        memset(counts, 0, sizeof counts);
        counted_by = self;
    }
    return ++counts[dev][kind];
}

/* The cut knob "NAME K [REST]" for this request number: 1 when it names it, REST
 * copied out. */
static int cut_names(const char *cut, const char *name, unsigned long k, char *rest, size_t n)
{
    size_t len = strlen(name);
    rest[0] = '\0';
    if (strncmp(cut, name, len) != 0 || cut[len] != ' ')
        return 0;
    char *end;
    unsigned long want = strtoul(cut + len + 1, &end, 10);
    if (end == cut + len + 1 || want != k)
        return 0;
    while (*end == ' ')
        ++end;
    snprintf(rest, n, "%s", end);
    return 1;
}

/* What a cut inside an erase leaves: bytes that are neither old nor erased. */
static void tear(int fd, unsigned long long start, unsigned long long end)
{
    unsigned char junk[4096];
    unsigned x = (unsigned)getpid() * 2654435761u ^ (unsigned)start ^ 0x9e3779b9u;
    for (unsigned long long off = start; off < end;) {
        size_t n = end - off < sizeof junk ? (size_t)(end - off) : sizeof junk;
        for (size_t i = 0; i < n; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            junk[i] = (unsigned char)x;
        }
        if (pwrite(fd, junk, n, (off_t)off) != (ssize_t)n)
            return;
        off += n;
    }
}

static int fail(int err)
{
    errno = err;
    return -1;
}

static int emulate(int dev, int fd, const struct stat *st, unsigned long req, void *arg)
{
    if (req == MEMGETINFO) {
        journal(dev, "getinfo");
        if (knob_exists(dev, "getinfo_fail"))
            return fail(EIO);
        const struct chip *c = chip_of(dev);
        struct mtd_info_user *info = arg;
        memset(info, 0, sizeof *info);
        info->type = c->type;
        info->flags = c->flags;
        info->size = (unsigned)st->st_size;
        info->erasesize = erasesize_of(dev);
        info->writesize = c->writesize;
        info->oobsize = c->oobsize;
        return 0;
    }
    if (req == MEMUNLOCK) {
        const struct erase_info_user *r = arg;
        journal(dev, "unlock %u %u", r->start, r->length);
        return fail(chip_of(dev)->unlock_errno);
    }
    if (req == MEMERASE) {
        const struct erase_info_user *r = arg;
        unsigned es = erasesize_of(dev);
        unsigned long long start = r->start, end = start + r->length;
        int misaligned = r->start % es || r->length % es;
        if (r->length == 0 || end > (unsigned long long)st->st_size || (misaligned && chip_of(dev)->erase_aligned)) {
            journal(dev, "erase %u %u fail", r->start, r->length);
            return fail(EINVAL);
        }
        /* block2mtd erases the whole pages from the start's page on. */
        if (misaligned) {
            start &= ~4095ull;
            end = start + (r->length & ~4095u);
        }
        unsigned long k = count_request(dev, COUNT_ERASE);
        char cut[32], how[16];
        knob_text(dev, "cut", cut, sizeof cut);
        int cut_here = cut_names(cut, "erase", k, how, sizeof how);
        if (cut_here && strcmp(how, "torn") == 0) {
            tear(fd, start, end);
            journal(dev, "erase %u %u torn", r->start, r->length);
            power_cut();
        }
        if (knob_count_down(dev, "erase_fail")) {
            journal(dev, "erase %u %u fail", r->start, r->length);
            if (cut_here)
                power_cut();
            return fail(EIO);
        }
        static const unsigned char ff[4096] = {[0 ... 4095] = 0xFF};
        for (unsigned long long off = start; off < end;) {
            size_t n = end - off < sizeof ff ? (size_t)(end - off) : sizeof ff;
            if (pwrite(fd, ff, n, (off_t)off) != (ssize_t)n)
                return fail(EIO);
            off += n;
        }
        journal(dev, "erase %u %u ok", r->start, r->length);
        if (cut_here || (strcmp(cut, "erase") == 0 && end >= (unsigned long long)st->st_size))
            power_cut();
        return 0;
    }
    return fail(ENOTTY);
}

static int ioctl_common(const char *real_name, int fd, unsigned long req, void *arg)
{
    struct stat st;
    int dev = device_of(fd, &st);
    if (dev >= 0)
        return emulate(dev, fd, &st, req, arg);
    static ioctl_fn real_ioctl, real_time64;
    ioctl_fn *slot = strcmp(real_name, "ioctl") == 0 ? &real_ioctl : &real_time64;
    if (!*slot)
        *slot = (ioctl_fn)next_symbol(real_name);
    ioctl_fn real = *slot;
    if (!real)
        return fail(ENOSYS);
    return real(fd, req, arg);
}

EMU_EXPORT int ioctl(int fd, unsigned long req, ...)
{
    va_list ap;
    va_start(ap, req);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    return ioctl_common("ioctl", fd, req, arg);
}

/* 32-bit builds with 64-bit time call this name instead. */
EMU_EXPORT int __ioctl_time64(int fd, unsigned long req, ...);
EMU_EXPORT int __ioctl_time64(int fd, unsigned long req, ...)
{
    va_list ap;
    va_start(ap, req);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    return ioctl_common(next_symbol("__ioctl_time64") ? "__ioctl_time64" : "ioctl", fd, req, arg);
}

static int open_common(const char *real_name, const char *path, int flags, mode_t mode)
{
    int dev = device_by_path(path);
    if (dev >= 0) {
        if (knob_count_down(dev, "open_fail")) {
            journal(dev, "open fail");
            return fail(ENXIO);
        }
        mtd_opened = 1;
    }
    /* Looked up once: a lookup costs about as much again as the open itself, in
     * every program of the player and in the store's benchmark. */
    static open_fn real_open, real_open64;
    open_fn *slot = strcmp(real_name, "open") == 0 ? &real_open : &real_open64;
    if (!*slot)
        *slot = (open_fn)next_symbol(real_name);
    open_fn real = *slot;
    if (!real)
        return fail(ENOSYS);
    return real(path, flags, mode);
}

EMU_EXPORT int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    return open_common("open", path, flags, mode);
}

EMU_EXPORT int open64(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    return open_common("open64", path, flags, mode);
}

/* Programs bits the way NOR flash does: only 1 -> 0; 0 on success, -1 on a byte
 * that would need an erase. */
static int nor_check(int fd, const unsigned char *data, size_t n, off_t off)
{
    unsigned char old[4096];
    for (size_t done = 0; done < n;) {
        size_t chunk = n - done < sizeof old ? n - done : sizeof old;
        ssize_t got = pread(fd, old, chunk, off + (off_t)done);
        if (got < 0)
            return -1;
        for (ssize_t i = 0; i < got; ++i)
            if ((old[i] & data[done + (size_t)i]) != data[done + (size_t)i]) {
                fprintf(stderr, "mtdemu: write over unerased byte at 0x%llx\n",
                        (unsigned long long)off + done + (unsigned long long)i);
                return -1;
            }
        done += chunk;
    }
    return 0;
}

/* NAND programs bits from 1 to 0 only: what a page holds after a write is the AND
 * of the old bytes and the new. The result, in a buffer of its own. */
static const void *and_program(int fd, const void *data, size_t n, off_t off)
{
    static unsigned char *merged;
    static size_t room;
    if (n > room) {
        unsigned char *p = realloc(merged, n);
        if (!p) {
            errno = ENOMEM;
            return NULL;
        }
        merged = p;
        room = n;
    }
    if (pread(fd, merged, n, off) != (ssize_t)n)
        return NULL;
    for (size_t i = 0; i < n; ++i)
        merged[i] &= ((const unsigned char *)data)[i];
    return merged;
}

EMU_EXPORT ssize_t write(int fd, const void *buf, size_t n)
{
    static write_fn real;
    if (!real)
        real = (write_fn)next_symbol("write");
    if (!real)
        return fail(ENOSYS);
    if (!mtd_opened)
        return real(fd, buf, n);
    struct stat st;
    int dev = device_of(fd, &st);
    if (dev < 0)
        return real(fd, buf, n);

    const struct chip *c = chip_of(dev);
    off_t off = lseek(fd, 0, SEEK_CUR);
    if (off < 0)
        return -1;
    if (off >= st.st_size)
        return fail(ENOSPC);
    if ((off_t)n > st.st_size - off)
        n = (size_t)(st.st_size - off);
    if (off % c->write_align || n % c->write_align)
        return fail(EINVAL);
    if (knob_exists(dev, "nor") && nor_check(fd, buf, n, off) != 0)
        return fail(EIO);
    if (c->and_program) {
        buf = and_program(fd, buf, n, off);
        if (!buf)
            return -1;
    }
    unsigned long k = count_request(dev, COUNT_WRITE);
    char cut[32], rest[16];
    knob_text(dev, "cut", cut, sizeof cut);
    if (cut_names(cut, "write", k, rest, sizeof rest) && rest[0] != '\0') {
        size_t keep = (size_t)strtoul(rest, NULL, 10);
        if (keep > n)
            keep = n;
        if (keep)
            real(fd, buf, keep);
        power_cut();
    }
    if (strncmp(cut, "write ", 6) == 0 && strchr(cut + 6, ' ') == NULL) {
        size_t keep = (size_t)strtoul(cut + 6, NULL, 10);
        if (keep < n) {
            if (keep)
                real(fd, buf, keep);
            power_cut();
        }
    }
    return real(fd, buf, n);
}
