// The flash partition's character device: one owner of its descriptor, its geometry
// read once, erases retried on a reopened device. Internal to the library.
#ifndef ZELMSG_MTD_H
#define ZELMSG_MTD_H

#include <sys/types.h>
#include <unistd.h>

namespace zelmsg {

class MtdDevice {
public:
    // Takes fd (opened from path, or negative) as its own; path is what a failed
    // erase reopens.
    MtdDevice(const char *path, int fd) : path_(path), fd_(fd) {}
    // Opens path read-write.
    explicit MtdDevice(const char *path);
    ~MtdDevice() { close_device(); }
    MtdDevice(const MtdDevice &) = delete;
    MtdDevice &operator=(const MtdDevice &) = delete;

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close_device();

    // Asks the driver for the partition's size and erase size. False when it cannot
    // answer; with erasable also when the erase size is 0, which would never advance
    // through the partition.
    bool read_geometry(bool erasable = true);
    // The geometry another descriptor of the same partition read, asked no second time.
    void take_geometry(const MtdDevice &other);
    unsigned size() const { return size_; }
    unsigned erasesize() const { return erasesize_; }
    // One copy's erase blocks: 65536 bytes rounded up to whole blocks.
    unsigned area() const { return area_; }
    // Whether a second area, for the spare copy, fits after the first.
    bool room() const { return room_; }
    unsigned spare_at() const { return area_; }

    // Unlocks the partition's first erase block through the whole-flash device; a
    // device that refuses or is missing is passed over.
    void unlock_first_block() const;
    // Erases the blocks of [start, start + length), each retried 3 times on a
    // reopened device; false when one still failed (the device may be closed then).
    bool erase(unsigned start, unsigned length);
    // lseek and write, not pwrite: an MTD character device takes both, and so does
    // the emulation that the tests cut power with. write's result, or -1.
    int write_at(unsigned offset, const char *data, unsigned n);
    // Exactly n bytes at offset, in one read.
    bool read_at(unsigned offset, char *buf, unsigned n);
    // Whether the n bytes at offset are data's (false also when unreadable).
    bool holds(unsigned offset, const char *data, unsigned n);
    // Erases the area at `at`, writes the 65536 bytes of image there and reads them
    // back: 65536, write's short count or -1, -2 when an erase failed for good, -1 on
    // a bad readback.
    int program_area(unsigned at, const char *image);

    // Streams n bytes from offset through one small buffer; visit(piece, done, len)
    // sees each piece and says whether to go on. False when the device could not be
    // read.
    template <typename Visit>
    bool scan(unsigned offset, unsigned n, Visit visit);

private:
    bool seek(unsigned offset);
    bool read_piece(char *buf, unsigned n);

    const char *path_;
    int fd_;
    unsigned size_ = 0;
    unsigned erasesize_ = 0;
    unsigned area_ = 0;
    bool room_ = false;
    // Readbacks and comparisons go through this, so that nothing needs a second image.
    static char chunk_[4096];
};

template <typename Visit>
bool MtdDevice::scan(unsigned offset, unsigned n, Visit visit)
{
    if (!seek(offset))
        return false;
    for (unsigned done = 0; done < n;) {
        unsigned want = n - done < sizeof chunk_ ? n - done : static_cast<unsigned>(sizeof chunk_);
        if (!read_piece(chunk_, want))
            return false;
        if (!visit(static_cast<const char *>(chunk_), done, want))
            return true;
        done += want;
    }
    return true;
}

} // namespace zelmsg

#endif
