// Flash settings partition. The image every reader knows sits at offset 0: the
// settings text, its NUL and the buffer's tail, 65536 bytes, no header. Where the
// partition has blocks to spare, a second copy with a trailer (spare_copy.cpp) lives
// right after the image's blocks; a commit writes and checks that copy before it
// erases the image, so a power cut at any point leaves one whole copy.
#include "zelmsg.h"
#include "zelmsg_tool.h"
#include "store_internal.h"
#include "flash_internal.h"
#include "mtd.h"
#include "os_calls.h"
#include "own_file.h"
#include "spare_copy.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

using zelmsg::MtdDevice;
using zelmsg::os;
using zelmsg::trailer;

namespace {
constexpr int kZeroBlock = 512;
constexpr unsigned kImage = SETTING_IMAGE_SIZE;
constexpr unsigned kTrailerAt = kImage - ZELMSG_TRAILER_SIZE;

// The commit as it was before spare copies: erase the whole partition, write the image.
int commit_single()
{
    int r = mtd_erase_setting();
    if (r != 0)
        return r;
    int fd = open_setting_device(SETTING_DEVICE);
    if (fd < 0)
        return -1;
    int written = static_cast<int>(os.write_file(fd, buffer_setting, kImage));
    os.close_file(fd);
    return written;
}

// Whether the next boot reads buffer_setting's text: a valid spare copy is what it
// reads (from offset 0 when that holds the same text, else from the spare copy);
// without one, offset 0 as it is.
bool boot_reads_buffer(const MtdDevice &geometry)
{
    MtdDevice dev(SETTING_DEVICE);
    if (!dev.is_open())
        return false;
    dev.take_geometry(geometry);
    trailer t = {0, 0, 0};
    bool spare_same = false;
    if (zelmsg::read_spare(dev, t, buffer_setting, spare_same) == ZELMSG_SPARE_VALID)
        return spare_same;
    unsigned text_len = zelmsg::text_length(buffer_setting);
    return dev.holds(0, buffer_setting, text_len < kImage ? text_len + 1 : kImage);
}

// A commit's result tells what the next boot reads: a step that failed after the
// new settings became the ones a boot takes still counts as done.
int commit_outcome(int r, const MtdDevice &geometry)
{
    return r == static_cast<int>(kImage) || boot_reads_buffer(geometry) ? static_cast<int>(kImage) : r;
}

// Commits buffer_setting's image to the device (open, geometry read).
int commit_image(MtdDevice &dev)
{
    unsigned text_len = zelmsg::text_length(buffer_setting);
    unsigned compared = text_len < kImage ? text_len + 1 : kImage;
    bool image_same = dev.holds(0, buffer_setting, compared);
    trailer t = {0, 0, 0};
    bool spare_same = false;
    zelmsg_spare_state spare = zelmsg::read_spare(dev, t, buffer_setting, spare_same);
    // What the partition holds already costs no erase: flash wears out.
    if (image_same && (spare == ZELMSG_SPARE_NO_ROOM || spare_same))
        return static_cast<int>(kImage);
    // Without a spare copy (no room, or a text too long for one) the image is the only
    // copy; erasing the whole partition also drops a spare copy that would bring
    // back older settings.
    if (spare == ZELMSG_SPARE_NO_ROOM || text_len > ZELMSG_SPARE_TEXT_MAX) {
        dev.close_device();
        return commit_single();
    }
    dev.unlock_first_block();
    uint32_t sequence = spare == ZELMSG_SPARE_VALID ? t.sequence + 1 : 1;
    // Whichever copy a boot would read now is written last. That is offset 0 unless a
    // valid spare copy differs from it (a cut commit, or a boot that could not put the
    // spare copy back): then the spare copy is the last whole one and must stay whole
    // until offset 0 holds the new settings.
    bool image_whole = spare != ZELMSG_SPARE_VALID || zelmsg::text_at(dev, 0, t, buffer_setting, nullptr);
    int r = static_cast<int>(kImage);
    if (image_whole) {
        if (!spare_same)
            r = zelmsg::program_spare(dev, buffer_setting, text_len, sequence);
        if (r == static_cast<int>(kImage) && !image_same)
            r = dev.program_area(0, buffer_setting);
    } else {
        if (!image_same)
            r = dev.program_area(0, buffer_setting);
        if (r == static_cast<int>(kImage))
            r = zelmsg::program_spare(dev, buffer_setting, text_len, sequence);
    }
    return commit_outcome(r, dev);
}

// Puts the spare copy (in buffer_setting) back at offset 0. false when that failed:
// the spare copy stays the one whole copy, which the next boot takes again and the
// next commit keeps until offset 0 is whole.
bool restore_image()
{
    MtdDevice dev(SETTING_DEVICE);
    if (!dev.read_geometry())
        return false;
    dev.unlock_first_block();
    return dev.program_area(0, buffer_setting) == static_cast<int>(kImage);
}
} // namespace

void zelmsg::resolve_image(char *image, int n, struct zelmsg_flash_report &r, bool *restore)
{
    memset(&r, 0, sizeof r);
    *restore = false;
    // The text ends at the first NUL, at the latest at the guard byte; a partition
    // shorter than an image ends it where the read ended.
    if (n < static_cast<int>(kImage))
        image[n] = '\0';
    unsigned len = text_length(image);
    if (memchr(image, 0xff, len) == nullptr)
        r.image = ZELMSG_IMAGE_WHOLE;
    else
        r.image = len == kImage && strspn(image, "\xff") == kImage ? ZELMSG_IMAGE_ERASED : ZELMSG_IMAGE_CUT;
    r.spare = ZELMSG_SPARE_NO_ROOM;
    MtdDevice dev(SETTING_DEVICE);
    if (!dev.read_geometry())
        return;
    r.size = dev.size();
    r.erasesize = dev.erasesize();
    r.room_need = 2 * dev.area();
    trailer t = {0, 0, 0};
    bool same = false;
    r.spare = read_spare(dev, t, image, same);
    if (r.spare != ZELMSG_SPARE_VALID)
        return;
    r.sequence = t.sequence;
    r.spare_text_len = static_cast<int>(t.length);
    r.image_is_spare = same;
    if (same)
        return;
    // Offset 0 cut, erased or torn: the spare copy is the last whole commit.
    if (dev.read_at(dev.spare_at(), image, kTrailerAt)) {
        memset(image + kTrailerAt, 0, ZELMSG_TRAILER_SIZE);
        *restore = true;
    } else if (!dev.read_at(0, image, static_cast<unsigned>(n))) {
        // Neither copy whole in the buffer: read as an erased partition would.
        image[0] = '\0';
    }
}

int zelmsg::reader_text(char *image)
{
    char *text = image;
    if (strchr(text, '=') == nullptr) {
        text[0] = '\0';
    } else {
        // Erased bytes in front of the text (a cut commit, a fresh partition) are no
        // settings: the text starts after the last of them.
        char *ff = strrchr(text, 0xff);
        if (ff != nullptr)
            text = ff + 1;
    }
    return static_cast<int>(text - image);
}

extern "C" int open_setting_device(const char *)
{
    int fd = os.open_file(SETTING_DEVICE, O_RDWR | O_CLOEXEC, 0);
    if (fd < 0)
        perror("open");
    return fd;
}

extern "C" int flash_read_setting_device(char *buffer)
{
    MtdDevice dev(SETTING_DEVICE, open_setting_device(SETTING_DEVICE));
    if (!dev.is_open())
        return -1;
    ssize_t n = os.read_file(dev.fd(), buffer, SETTING_IMAGE_SIZE);
    return n < 0 ? -1 : static_cast<int>(n);
}

extern "C" int mtd_erase_setting_(const char *device)
{
    MtdDevice dev(device);
    if (!dev.read_geometry())
        return -1;
    dev.unlock_first_block();
    return dev.erase(0, dev.size()) ? 0 : -2;
}

extern "C" int mtd_erase_setting(void)
{
    return mtd_erase_setting_(SETTING_DEVICE);
}

extern "C" int flash_write_0(const char *path)
{
    static const char zeros[kZeroBlock] = {};
    MtdDevice dev(SETTING_DEVICE, open_setting_device(path));
    if (!dev.is_open())
        return -1;
    if (!dev.read_geometry(false))
        return -2;
    int last = 0;
    for (int offset = 0; offset < static_cast<int>(dev.size()); offset += kZeroBlock)
        last = static_cast<int>(os.write_file(dev.fd(), zeros, kZeroBlock));
    return last;
}

extern "C" int flash_write_setting_device(const char *path)
{
    // The image is the file's bytes followed by whatever the buffer holds after them.
    int n = zelmsg_load_settings(path);
    if (n < 0)
        return n;
    MtdDevice dev(SETTING_DEVICE);
    if (!dev.is_open())
        return -1;
    return dev.read_geometry() ? commit_image(dev) : -1;
}

int zelmsg_init_flash(int *file_written, int *restore_failed)
{
    *file_written = 0;
    *restore_failed = 0;
    int n = flash_read_setting_device(buffer_setting);
    if (n <= 0) {
        fprintf(stderr, "error reading flash: [%s] size %06x\r\n", SETTING_DEVICE, SETTING_IMAGE_SIZE);
        return 0;
    }
    struct zelmsg_flash_report r;
    bool restore = false;
    zelmsg::resolve_image(buffer_setting, n, r, &restore);
    if (restore && !restore_image())
        *restore_failed = 1;
    const char *text = buffer_setting + zelmsg::reader_text(buffer_setting);
    // The boot recreates the file: whatever was planted in its place (a link, a FIFO,
    // another user's file) goes, as a file of ours would be overwritten.
    struct stat st;
    if (os.lstat_path(SETTING_FILE, &st) == 0 && !S_ISDIR(st.st_mode) && !zelmsg::own_file(st))
        os.unlink_path(SETTING_FILE);
    *file_written = write_file(SETTING_FILE, text) == static_cast<int>(strlen(text)) + 1;
    return 1;
}

extern "C" int init_flash_var(void)
{
    int file_written, restore_failed;
    return zelmsg_init_flash(&file_written, &restore_failed);
}

extern "C" int save_commit(void)
{
    // Held for the whole read, erase and write.
    zelmsg::SettingsLock lock;
    if (!lock.held())
        return -1;
    int r = flash_write_setting_device(SETTING_FILE);
    return lock.release() ? r : -1;
}
