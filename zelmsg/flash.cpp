// Flash settings partition: the settings text at offset 0 of a raw MTD partition,
// no header, no checksum. A commit erases the partition and writes one 64 KiB image.
#include "zelmsg.h"
#include "store_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
// <mtd/mtd-user.h> needs the ioctl request macros defined first.
#include <sys/ioctl.h>
#include <mtd/mtd-user.h>

namespace {
constexpr int kEraseRetries = 3;
constexpr int kZeroBlock = 512;

int open_rw(const char *path)
{
    return open(path, O_RDWR | O_CLOEXEC);
}

// Unlocks the settings partition's first erase block through the whole-flash device;
// a device that refuses or is missing is passed over.
void unlock_settings(const erase_info_user &range)
{
    int fd = open_rw(SETTING_UNLOCK_DEVICE);
    if (fd < 0)
        return;
    erase_info_user r = range;
    ioctl(fd, MEMUNLOCK, &r);
    close(fd);
}

// Erases one block, reopening the device for each of the retries; fd follows the
// reopened descriptor (-1 when the last reopen failed).
bool erase_block(const char *path, int &fd, erase_info_user &range)
{
    if (ioctl(fd, MEMERASE, &range) == 0)
        return true;
    for (int attempt = 0; attempt < kEraseRetries; ++attempt) {
        if (fd >= 0)
            close(fd);
        fd = open_rw(path);
        if (fd < 0)
            continue;
        errno = 0;
        if (ioctl(fd, MEMERASE, &range) == 0)
            return true;
    }
    return false;
}
} // namespace

extern "C" int open_setting_device(const char *)
{
    int fd = open_rw(SETTING_DEVICE);
    if (fd < 0)
        perror("open");
    return fd;
}

extern "C" int flash_read_setting_device(char *buffer)
{
    int fd = open_setting_device(SETTING_DEVICE);
    if (fd < 0)
        return -1;
    ssize_t n = read(fd, buffer, SETTING_IMAGE_SIZE);
    close(fd);
    return n < 0 ? -1 : static_cast<int>(n);
}

extern "C" int mtd_erase_setting_(const char *device)
{
    int fd = open_rw(device);
    if (fd < 0)
        return -1;
    mtd_info_user info;
    // An erase size of 0 would never advance through the partition.
    if (ioctl(fd, MEMGETINFO, &info) != 0 || info.erasesize == 0) {
        close(fd);
        return -1;
    }
    erase_info_user range;
    range.start = 0;
    range.length = info.erasesize;
    unlock_settings(range);

    int result = 0;
    errno = 0;
    while (range.start < info.size) {
        if (!erase_block(device, fd, range)) {
            result = -2;
            break;
        }
        range.start += info.erasesize;
    }
    if (fd >= 0)
        close(fd);
    return result;
}

extern "C" int mtd_erase_setting(void)
{
    return mtd_erase_setting_(SETTING_DEVICE);
}

extern "C" int flash_write_0(const char *path)
{
    static const char zeros[kZeroBlock] = {};
    int fd = open_setting_device(path);
    if (fd < 0)
        return -1;
    mtd_info_user info;
    if (ioctl(fd, MEMGETINFO, &info) != 0) {
        close(fd);
        return -2;
    }
    int last = 0;
    for (int offset = 0; offset < static_cast<int>(info.size); offset += kZeroBlock)
        last = static_cast<int>(write(fd, zeros, kZeroBlock));
    close(fd);
    return last;
}

extern "C" int flash_write_setting_device(const char *path)
{
    // The image is the file's bytes followed by whatever the buffer holds after them.
    int n = zelmsg_load_settings(path);
    if (n < 0)
        return n;
    int r = mtd_erase_setting();
    if (r != 0)
        return r;
    int fd = open_setting_device(SETTING_DEVICE);
    if (fd < 0)
        return -1;
    int written = static_cast<int>(write(fd, buffer_setting, SETTING_IMAGE_SIZE));
    close(fd);
    return written;
}

extern "C" int init_flash_var(void)
{
    int n = flash_read_setting_device(buffer_setting);
    if (n <= 0) {
        fprintf(stderr, "error reading flash: [%s] size %06x\r\n", SETTING_DEVICE, SETTING_IMAGE_SIZE);
        return 0;
    }
    // The text ends at the first NUL, at the latest at the guard byte; a partition
    // shorter than an image ends it where the read ended.
    if (n < SETTING_IMAGE_SIZE)
        buffer_setting[n] = '\0';
    char *text = buffer_setting;
    if (strchr(text, '=') == nullptr) {
        text[0] = '\0';
    } else {
        // Erased bytes in front of the text (a cut commit, a fresh partition) are no
        // settings: the text starts after the last of them.
        char *ff = strrchr(text, 0xff);
        if (ff != nullptr)
            text = ff + 1;
    }
    write_file(SETTING_FILE, text);
    return 1;
}

extern "C" int save_commit(void)
{
#if ZELMSG_WITH_LOCK
    if (get_lock() == -1)
        return -1;
    int r = flash_write_setting_device(SETTING_FILE);
    if (release_lock() == -1)
        return -1;
    return r;
#else
    return flash_write_setting_device(SETTING_FILE);
#endif
}
