/* zel-mtd: the player's flash seen through the MTD requests, on the virtual board's
 * real drivers and in the simulated player's emulation alike.
 *
 *   zel-mtd answers          the fixed list of requests below on /dev/mtd1 (and
 *                            MEMUNLOCK on /dev/mtd0), one line each; it erases and
 *                            writes the partition's first blocks
 *   zel-mtd erase [START LENGTH]
 *                            erases /dev/mtd1 block by block (the whole partition
 *                            without arguments), as a flash tool does; 1 on failure
 *   zel-mtd bad OFFSET       marks the block at OFFSET bad (NAND): the driver
 *                            refuses to erase it from then on; 1 where the chip
 *                            has no bad blocks
 *
 * "answers" prints what a driver says, never what this program expects: the board's
 * check runs it on every chip and in the simulated player, and compares the lines.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <mtd/mtd-user.h>

#define DEVICE "/dev/mtd1"
#define UNLOCK_DEVICE "/dev/mtd0"

static unsigned char buf[65536];

/* The errno's name: its number differs between MIPS and the build host (EOPNOTSUPP
 * is 122 on the one, 95 on the other). 524 is the kernel's own ENOTSUPP, which the
 * C library does not know. */
static const char *errno_name(int e)
{
    static const struct {
        int e;
        const char *name;
    } names[] = {{EINVAL, "EINVAL"}, {ENOSPC, "ENOSPC"}, {EOPNOTSUPP, "EOPNOTSUPP"}, {EIO, "EIO"},
                 {ENOTTY, "ENOTTY"}, {ENXIO, "ENXIO"},   {EROFS, "EROFS"},           {EPERM, "EPERM"},
                 {EFAULT, "EFAULT"}, {EBADF, "EBADF"},   {524, "ENOTSUPP"}};
    static char number[16];
    for (unsigned i = 0; i < sizeof names / sizeof names[0]; ++i)
        if (names[i].e == e)
            return names[i].name;
    snprintf(number, sizeof number, "errno %d", e);
    return number;
}

/* The result, or "-1 NAME" with the errno. */
static void say(const char *what, long rc)
{
    if (rc < 0)
        printf("%s: -1 %s\n", what, errno_name(errno));
    else
        printf("%s: %ld\n", what, rc);
}

static long write_at(int fd, long off, unsigned char byte, size_t n)
{
    memset(buf, byte, n);
    if (lseek(fd, off, SEEK_SET) != off)
        return -1;
    return (long)write(fd, buf, n);
}

static long erase(int fd, unsigned start, unsigned length)
{
    struct erase_info_user r = {start, length};
    return ioctl(fd, MEMERASE, &r);
}

/* The first byte at off, as the device reads it back. */
static void show_byte(const char *what, int fd, long off)
{
    unsigned char b = 0;
    if (lseek(fd, off, SEEK_SET) != off || read(fd, &b, 1) != 1)
        say(what, -1);
    else
        printf("%s: 0x%02x\n", what, b);
}

static int answers(void)
{
    int fd = open(DEVICE, O_RDWR);
    if (fd < 0) {
        perror("zel-mtd: " DEVICE);
        return 1;
    }
    struct mtd_info_user info;
    if (ioctl(fd, MEMGETINFO, &info) != 0) {
        say("MEMGETINFO", -1);
        close(fd);
        return 1;
    }
    printf("MEMGETINFO: type %u flags 0x%x size %u erasesize %u writesize %u oobsize %u\n", info.type, info.flags,
           info.size, info.erasesize, info.writesize, info.oobsize);
    unsigned es = info.erasesize, ws = info.writesize, size = info.size;
    /* A write the size of a page, and of 512 bytes where pages are smaller. */
    size_t page = ws > 512 ? ws : 512;

    int unlock_fd = open(UNLOCK_DEVICE, O_RDWR);
    struct erase_info_user r = {0, es};
    say("MEMUNLOCK " UNLOCK_DEVICE, unlock_fd < 0 ? -1 : ioctl(unlock_fd, MEMUNLOCK, &r));
    if (unlock_fd >= 0)
        close(unlock_fd);
    say("MEMUNLOCK " DEVICE, ioctl(fd, MEMUNLOCK, &r));

    say("erase block 0", erase(fd, 0, es));
    show_byte("byte 0 after the erase", fd, 0);
    say("write of a page of 0x0f at 0", write_at(fd, 0, 0x0f, page));
    say("write of a page of 0xf0 over it, no erase", write_at(fd, 0, 0xf0, page));
    show_byte("byte 0 then", fd, 0);
    say("erase block 0 again", erase(fd, 0, es));
    say("write of 100 bytes at 100", write_at(fd, 100, 0x55, 100));
    say("write of 100 bytes at 0", write_at(fd, 0, 0x55, 100));
    say("write of 512 bytes at 512", write_at(fd, 512, 0x55, 512));
    say("erase of one block from 512", erase(fd, 512, es));
    say("erase of half a block", erase(fd, 0, es / 2));
    say("erase of a block past the end", erase(fd, size, es));
    say("erase of the whole partition", erase(fd, 0, size));
    say("write of 65536 bytes at 0", write_at(fd, 0, 0x33, sizeof buf));
    say("read of 65536 bytes at 0", lseek(fd, 0, SEEK_SET) == 0 ? (long)read(fd, buf, sizeof buf) : -1);
    say("write of a page at the end", write_at(fd, (long)size, 0x33, page));
    say("write of two pages across the end", write_at(fd, (long)(size - page), 0xff, 2 * page));
    say("read at the end", lseek(fd, (long)size, SEEK_SET) == (long)size ? (long)read(fd, buf, 1) : -1);
    close(fd);
    return 0;
}

static int erase_partition(int argc, char **argv)
{
    int fd = open(DEVICE, O_RDWR), rc = 0;
    struct mtd_info_user info;
    if (fd < 0 || ioctl(fd, MEMGETINFO, &info) != 0 || info.erasesize == 0) {
        perror("zel-mtd: " DEVICE);
        rc = 1;
        goto out;
    }
    unsigned start = 0, length = info.size;
    if (argc == 2) {
        start = (unsigned)strtoul(argv[0], NULL, 0);
        length = (unsigned)strtoul(argv[1], NULL, 0);
    }
    for (unsigned at = start; at < start + length; at += info.erasesize)
        if (erase(fd, at, info.erasesize) != 0) {
            fprintf(stderr, "zel-mtd: erase at %u: %s\n", at, strerror(errno));
            rc = 1;
            break;
        }
out:
    if (fd >= 0)
        close(fd);
    return rc;
}

static int mark_bad(const char *offset)
{
    int fd = open(DEVICE, O_RDWR), rc = 0;
    loff_t at = (loff_t)strtoull(offset, NULL, 0);
    if (fd < 0 || ioctl(fd, MEMSETBADBLOCK, &at) != 0) {
        perror("zel-mtd: mark bad");
        rc = 1;
    }
    if (fd >= 0)
        close(fd);
    return rc;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "answers") == 0)
        return answers();
    if ((argc == 2 || argc == 4) && strcmp(argv[1], "erase") == 0)
        return erase_partition(argc - 2, argv + 2);
    if (argc == 3 && strcmp(argv[1], "bad") == 0)
        return mark_bad(argv[2]);
    fprintf(stderr, "usage: zel-mtd answers | zel-mtd erase [START LENGTH] | zel-mtd bad OFFSET\n");
    return 2;
}
