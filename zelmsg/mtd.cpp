#include "mtd.h"
#include "os_calls.h"
#include "zelmsg.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
// <mtd/mtd-user.h> needs the ioctl request macros defined first.
#include <sys/ioctl.h>
#include <mtd/mtd-user.h>

namespace zelmsg {
namespace {
constexpr int kEraseRetries = 3;

int open_rw(const char *path)
{
    return os.open_file(path, O_RDWR | O_CLOEXEC, 0);
}
} // namespace

char MtdDevice::chunk_[4096];

MtdDevice::MtdDevice(const char *path) : MtdDevice(path, open_rw(path)) {}

void MtdDevice::close_device()
{
    if (fd_ >= 0)
        os.close_file(fd_);
    fd_ = -1;
}

bool MtdDevice::read_geometry(bool erasable)
{
    mtd_info_user info;
    if (fd_ < 0 || os.ioctl_device(fd_, MEMGETINFO, &info) != 0 || (erasable && info.erasesize == 0))
        return false;
    size_ = info.size;
    erasesize_ = info.erasesize;
    area_ = erasesize_ == 0 ? 0 : (SETTING_IMAGE_SIZE + erasesize_ - 1) / erasesize_ * erasesize_;
    room_ = erasesize_ != 0 && area_ >= SETTING_IMAGE_SIZE && size_ / 2 >= area_;
    return true;
}

void MtdDevice::take_geometry(const MtdDevice &other)
{
    size_ = other.size_;
    erasesize_ = other.erasesize_;
    area_ = other.area_;
    room_ = other.room_;
}

void MtdDevice::unlock_first_block() const
{
    int fd = open_rw(SETTING_UNLOCK_DEVICE);
    if (fd < 0)
        return;
    erase_info_user range = {0, erasesize_};
    os.ioctl_device(fd, MEMUNLOCK, &range);
    os.close_file(fd);
}

bool MtdDevice::erase(unsigned start, unsigned length)
{
    erase_info_user range;
    range.length = erasesize_;
    errno = 0;
    for (range.start = start; range.start < start + length; range.start += erasesize_) {
        if (fd_ >= 0 && os.ioctl_device(fd_, MEMERASE, &range) == 0)
            continue;
        bool erased = false;
        for (int attempt = 0; attempt < kEraseRetries && !erased; ++attempt) {
            close_device();
            fd_ = open_rw(path_);
            if (fd_ < 0)
                continue;
            errno = 0;
            erased = os.ioctl_device(fd_, MEMERASE, &range) == 0;
        }
        if (!erased)
            return false;
    }
    return true;
}

bool MtdDevice::seek(unsigned offset)
{
    return os.lseek_file(fd_, offset, SEEK_SET) == static_cast<off_t>(offset);
}

bool MtdDevice::read_piece(char *buf, unsigned n)
{
    return os.read_file(fd_, buf, n) == static_cast<ssize_t>(n);
}

int MtdDevice::write_at(unsigned offset, const char *data, unsigned n)
{
    if (!seek(offset))
        return -1;
    return static_cast<int>(os.write_file(fd_, data, n));
}

bool MtdDevice::read_at(unsigned offset, char *buf, unsigned n)
{
    return seek(offset) && read_piece(buf, n);
}

bool MtdDevice::holds(unsigned offset, const char *data, unsigned n)
{
    bool same = true;
    if (!scan(offset, n, [&](const char *piece, unsigned done, unsigned len) {
            same = memcmp(piece, data + done, len) == 0;
            return same;
        }))
        return false;
    return same;
}

int MtdDevice::program_area(unsigned at, const char *image)
{
    if (!erase(at, area_))
        return -2;
    int written = write_at(at, image, SETTING_IMAGE_SIZE);
    if (written != SETTING_IMAGE_SIZE)
        return written;
    return holds(at, image, SETTING_IMAGE_SIZE) ? written : -1;
}

} // namespace zelmsg
