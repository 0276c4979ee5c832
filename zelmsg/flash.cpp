// Flash settings partition. The image every reader knows sits at offset 0: the
// settings text, its NUL and the buffer's tail, 65536 bytes, no header. Where the
// partition has blocks to spare, a second copy with a trailer (magic, sequence, text
// length, CRC-32) lives right after the image's blocks; a commit writes and checks that
// copy before it erases the image, so a power cut at any point leaves one whole copy.
#include "zelmsg.h"
#include "store_internal.h"
#include "flash_internal.h"
#include "own_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
// <mtd/mtd-user.h> needs the ioctl request macros defined first.
#include <sys/ioctl.h>
#include <mtd/mtd-user.h>

namespace {
constexpr int kEraseRetries = 3;
constexpr int kZeroBlock = 512;
constexpr unsigned kImage = SETTING_IMAGE_SIZE;
constexpr unsigned kTrailerAt = kImage - ZELMSG_TRAILER_SIZE;
constexpr unsigned char kMagic[4] = {'Z', 'S', 'P', '1'};

// Readbacks and comparisons go through this, so that nothing needs a second image.
char chunk[4096];

struct geometry {
    unsigned size;
    unsigned erasesize;
    unsigned area;     // one copy's erase blocks: 65536 rounded up to whole blocks
    bool room;         // a second area fits after the first
    unsigned spare_at; // start of the spare copy's area
};

struct trailer {
    uint32_t sequence;
    uint32_t length;
    uint32_t crc;
};

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

bool erase_range(int &fd, const geometry &g, unsigned start, unsigned length)
{
    erase_info_user range;
    range.length = g.erasesize;
    errno = 0;
    for (range.start = start; range.start < start + length; range.start += g.erasesize)
        if (!erase_block(SETTING_DEVICE, fd, range))
            return false;
    return true;
}

bool read_geometry(int fd, geometry &g)
{
    mtd_info_user info;
    // An erase size of 0 would never advance through the partition.
    if (ioctl(fd, MEMGETINFO, &info) != 0 || info.erasesize == 0)
        return false;
    g.size = info.size;
    g.erasesize = info.erasesize;
    g.area = (kImage + g.erasesize - 1) / g.erasesize * g.erasesize;
    g.spare_at = g.area;
    g.room = g.area >= kImage && g.size / 2 >= g.area;
    return true;
}

// lseek and write, not pwrite: an MTD character device takes both, and so does the
// emulation that the tests cut power with.
int write_at(int fd, unsigned offset, const char *data, unsigned n)
{
    if (lseek(fd, offset, SEEK_SET) != static_cast<off_t>(offset))
        return -1;
    return static_cast<int>(write(fd, data, n));
}

// Streams n bytes from offset through chunk; visit sees each piece and says whether
// to go on. False when the device could not be read.
template <typename Visit>
bool scan(int fd, unsigned offset, unsigned n, Visit visit)
{
    if (lseek(fd, offset, SEEK_SET) != static_cast<off_t>(offset))
        return false;
    for (unsigned done = 0; done < n;) {
        unsigned want = n - done < sizeof chunk ? n - done : static_cast<unsigned>(sizeof chunk);
        ssize_t got = read(fd, chunk, want);
        if (got != static_cast<ssize_t>(want))
            return false;
        if (!visit(done, want))
            return true;
        done += want;
    }
    return true;
}

bool same_at(int fd, unsigned offset, const char *data, unsigned n)
{
    bool same = true;
    if (!scan(fd, offset, n, [&](unsigned done, unsigned len) {
            same = memcmp(chunk, data + done, len) == 0;
            return same;
        }))
        return false;
    return same;
}

uint32_t crc32_update(uint32_t crc, const char *data, unsigned n)
{
    for (unsigned i = 0; i < n; ++i) {
        crc ^= static_cast<unsigned char>(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

// The trailer's numbers are little-endian whatever the CPU.
void put_u32(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t get_u32(const unsigned char *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Whether the bytes at offset hold a text of the length with that CRC-32 and its NUL,
// no NUL before. When same is given, it tells whether buffer_setting holds the same
// text and NUL.
bool text_at(int fd, unsigned offset, const trailer &t, bool *same)
{
    uint32_t crc = 0xFFFFFFFFu;
    bool whole = true;
    bool equal = true;
    if (!scan(fd, offset, t.length + 1, [&](unsigned done, unsigned len) {
            unsigned text = done + len > t.length ? t.length - done : len;
            whole = memchr(chunk, '\0', text) == nullptr && (text == len || chunk[text] == '\0');
            crc = crc32_update(crc, chunk, text);
            equal = equal && memcmp(chunk, buffer_setting + done, len) == 0;
            return whole;
        }))
        return false;
    if (!whole || (crc ^ 0xFFFFFFFFu) != t.crc)
        return false;
    if (same != nullptr)
        *same = equal;
    return true;
}

// Reads and checks the spare copy. When it is valid, same says whether buffer_setting
// holds the same text and NUL.
zelmsg_spare_state read_spare(int fd, const geometry &g, trailer &t, bool &same)
{
    if (!g.room)
        return ZELMSG_SPARE_NO_ROOM;
    unsigned char raw[ZELMSG_TRAILER_SIZE];
    if (lseek(fd, g.spare_at + kTrailerAt, SEEK_SET) < 0 || read(fd, raw, sizeof raw) != sizeof raw)
        return ZELMSG_SPARE_INVALID;
    bool erased = true;
    for (unsigned char c : raw)
        erased = erased && c == 0xFF;
    if (erased)
        return ZELMSG_SPARE_MISSING;
    t.sequence = get_u32(raw + 4);
    t.length = get_u32(raw + 8);
    t.crc = get_u32(raw + 12);
    if (memcmp(raw, kMagic, sizeof kMagic) != 0 || t.length > ZELMSG_SPARE_TEXT_MAX)
        return ZELMSG_SPARE_INVALID;
    return text_at(fd, g.spare_at, t, &same) ? ZELMSG_SPARE_VALID : ZELMSG_SPARE_INVALID;
}

// Length of the image's text: up to its first NUL, at most the whole image.
unsigned text_length(const char *image)
{
    const void *nul = memchr(image, '\0', kImage);
    return nul ? static_cast<unsigned>(static_cast<const char *>(nul) - image) : kImage;
}

// Erases an area, writes 65536 bytes of buffer_setting there and reads them back.
// 65536, the short write's count, -2 when an erase failed for good, -1 on a bad readback.
int program_area(int &fd, const geometry &g, unsigned at)
{
    if (!erase_range(fd, g, at, g.area))
        return -2;
    int written = write_at(fd, at, buffer_setting, kImage);
    if (written != static_cast<int>(kImage))
        return written;
    return same_at(fd, at, buffer_setting, kImage) ? written : -1;
}

// Writes the spare copy of buffer_setting's image: the trailer stands in for the last
// 16 bytes of the buffer for the time of the write.
int program_spare(int &fd, const geometry &g, unsigned text_len, uint32_t sequence)
{
    unsigned char *tail = reinterpret_cast<unsigned char *>(buffer_setting) + kTrailerAt;
    unsigned char saved[ZELMSG_TRAILER_SIZE];
    memcpy(saved, tail, sizeof saved);
    memcpy(tail, kMagic, sizeof kMagic);
    put_u32(tail + 4, sequence);
    put_u32(tail + 8, text_len);
    put_u32(tail + 12, crc32_update(0xFFFFFFFFu, buffer_setting, text_len) ^ 0xFFFFFFFFu);
    int r = program_area(fd, g, g.spare_at);
    memcpy(tail, saved, sizeof saved);
    return r;
}

// The commit as it was before spare copies: erase the whole partition, write the image.
int commit_single()
{
    int r = mtd_erase_setting();
    if (r != 0)
        return r;
    int fd = open_setting_device(SETTING_DEVICE);
    if (fd < 0)
        return -1;
    int written = static_cast<int>(write(fd, buffer_setting, kImage));
    close(fd);
    return written;
}

// Whether the next boot reads buffer_setting's text: a valid spare copy is what it
// reads (from offset 0 when that holds the same text, else from the spare copy);
// without one, offset 0 as it is.
bool boot_reads_buffer(const geometry &g)
{
    int fd = open_rw(SETTING_DEVICE);
    if (fd < 0)
        return false;
    trailer t = {0, 0, 0};
    bool spare_same = false;
    bool reads;
    if (read_spare(fd, g, t, spare_same) == ZELMSG_SPARE_VALID) {
        reads = spare_same;
    } else {
        unsigned text_len = text_length(buffer_setting);
        reads = same_at(fd, 0, buffer_setting, text_len < kImage ? text_len + 1 : kImage);
    }
    close(fd);
    return reads;
}

// A commit's result tells what the next boot reads: a step that failed after the
// new settings became the ones a boot takes still counts as done.
int commit_outcome(int r, const geometry &g)
{
    return r == static_cast<int>(kImage) || boot_reads_buffer(g) ? static_cast<int>(kImage) : r;
}

// Commits buffer_setting's image through fd (open, geometry read).
int commit_image(int &fd, const geometry &g)
{
    unsigned text_len = text_length(buffer_setting);
    unsigned compared = text_len < kImage ? text_len + 1 : kImage;
    bool image_same = same_at(fd, 0, buffer_setting, compared);
    trailer t = {0, 0, 0};
    bool spare_same = false;
    zelmsg_spare_state spare = read_spare(fd, g, t, spare_same);
    // What the partition holds already costs no erase: flash wears out.
    if (image_same && (spare == ZELMSG_SPARE_NO_ROOM || spare_same))
        return static_cast<int>(kImage);
    // Without a spare copy (no room, or a text too long for one) the image is the only
    // copy; erasing the whole partition also drops a spare copy that would bring
    // back older settings.
    if (spare == ZELMSG_SPARE_NO_ROOM || text_len > ZELMSG_SPARE_TEXT_MAX) {
        close(fd);
        fd = -1;
        return commit_single();
    }
    erase_info_user first = {0, g.erasesize};
    unlock_settings(first);
    uint32_t sequence = spare == ZELMSG_SPARE_VALID ? t.sequence + 1 : 1;
    // Whichever copy a boot would read now is written last. That is offset 0 unless a
    // valid spare copy differs from it (a cut commit, or a boot that could not put the
    // spare copy back): then the spare copy is the last whole one and must stay whole
    // until offset 0 holds the new settings.
    bool image_whole = spare != ZELMSG_SPARE_VALID || text_at(fd, 0, t, nullptr);
    int r = static_cast<int>(kImage);
    if (image_whole) {
        if (!spare_same)
            r = program_spare(fd, g, text_len, sequence);
        if (r == static_cast<int>(kImage) && !image_same)
            r = program_area(fd, g, 0);
    } else {
        if (!image_same)
            r = program_area(fd, g, 0);
        if (r == static_cast<int>(kImage))
            r = program_spare(fd, g, text_len, sequence);
    }
    return commit_outcome(r, g);
}

// Decides what a boot reads: buffer_setting holds the image at offset 0 on entry and
// the image to take on return. *restore says whether offset 0 must get the spare copy.
void resolve_image(int n, struct zelmsg_flash_report &r, bool *restore)
{
    memset(&r, 0, sizeof r);
    *restore = false;
    // The text ends at the first NUL, at the latest at the guard byte; a partition
    // shorter than an image ends it where the read ended.
    if (n < static_cast<int>(kImage))
        buffer_setting[n] = '\0';
    unsigned len = text_length(buffer_setting);
    if (memchr(buffer_setting, 0xff, len) == nullptr)
        r.image = ZELMSG_IMAGE_WHOLE;
    else
        r.image = len == kImage && strspn(buffer_setting, "\xff") == kImage ? ZELMSG_IMAGE_ERASED : ZELMSG_IMAGE_CUT;
    r.spare = ZELMSG_SPARE_NO_ROOM;
    int fd = open_rw(SETTING_DEVICE);
    geometry g;
    if (fd >= 0 && read_geometry(fd, g)) {
        r.size = g.size;
        r.erasesize = g.erasesize;
        r.room_need = 2 * g.area;
        trailer t = {0, 0, 0};
        bool same = false;
        r.spare = read_spare(fd, g, t, same);
        if (r.spare == ZELMSG_SPARE_VALID) {
            r.sequence = t.sequence;
            r.spare_text_len = static_cast<int>(t.length);
            r.image_is_spare = same;
            // Offset 0 cut, erased or torn: the spare copy is the last whole commit.
            if (!same) {
                if (lseek(fd, g.spare_at, SEEK_SET) == static_cast<off_t>(g.spare_at) &&
                    read(fd, buffer_setting, kTrailerAt) == static_cast<ssize_t>(kTrailerAt)) {
                    memset(buffer_setting + kTrailerAt, 0, ZELMSG_TRAILER_SIZE);
                    *restore = true;
                } else if (lseek(fd, 0, SEEK_SET) != 0 || read(fd, buffer_setting, n) != n) {
                    // Neither copy whole in the buffer: read as an erased partition would.
                    buffer_setting[0] = '\0';
                }
            }
        }
    }
    if (fd >= 0)
        close(fd);
}

// The reader's rules over the image in buffer_setting; returns where the text starts.
int reader_text()
{
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
    return static_cast<int>(text - buffer_setting);
}

// Puts the spare copy (in buffer_setting) back at offset 0. false when that failed:
// the spare copy stays the one whole copy, which the next boot takes again and the
// next commit keeps until offset 0 is whole.
bool restore_image()
{
    int fd = open_rw(SETTING_DEVICE);
    geometry g;
    bool restored = false;
    if (fd >= 0 && read_geometry(fd, g)) {
        erase_info_user first = {0, g.erasesize};
        unlock_settings(first);
        restored = program_area(fd, g, 0) == static_cast<int>(kImage);
    }
    if (fd >= 0)
        close(fd);
    return restored;
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
    int fd = open_rw(SETTING_DEVICE);
    if (fd < 0)
        return -1;
    geometry g;
    int r = read_geometry(fd, g) ? commit_image(fd, g) : -1;
    if (fd >= 0)
        close(fd);
    return r;
}

int zelmsg_read_flash_report(zelmsg_flash_report *report)
{
    int n = flash_read_setting_device(buffer_setting);
    if (n <= 0)
        return -1;
    bool restore = false;
    resolve_image(n, *report, &restore);
    report->text_offset = reader_text();
    return 0;
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
    resolve_image(n, r, &restore);
    if (restore && !restore_image())
        *restore_failed = 1;
    const char *text = buffer_setting + reader_text();
    // The boot recreates the file: whatever was planted in its place (a link, a FIFO,
    // another user's file) goes, as a file of ours would be overwritten.
    struct stat st;
    if (lstat(SETTING_FILE, &st) == 0 && !S_ISDIR(st.st_mode) && !zelmsg::own_file(st))
        unlink(SETTING_FILE);
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
    // Held for the whole read, erase and write; the configurator's build takes none.
    zelmsg::SettingsLock lock;
    if (!lock.held())
        return -1;
    int r = flash_write_setting_device(SETTING_FILE);
    return lock.release() ? r : -1;
}
