#include "spare_copy.h"

#include <string.h>

namespace zelmsg {
namespace {
constexpr unsigned kTrailerAt = SETTING_IMAGE_SIZE - ZELMSG_TRAILER_SIZE;
constexpr unsigned char kMagic[4] = {'Z', 'S', 'P', '1'};

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
} // namespace

unsigned text_length(const char *image)
{
    const void *nul = memchr(image, '\0', SETTING_IMAGE_SIZE);
    return nul ? static_cast<unsigned>(static_cast<const char *>(nul) - image) : SETTING_IMAGE_SIZE;
}

bool text_at(MtdDevice &dev, unsigned offset, const trailer &t, const char *image, bool *same)
{
    uint32_t crc = 0xFFFFFFFFu;
    bool whole = true;
    bool equal = true;
    if (!dev.scan(offset, t.length + 1, [&](const char *piece, unsigned done, unsigned len) {
            unsigned text = done + len > t.length ? t.length - done : len;
            whole = memchr(piece, '\0', text) == nullptr && (text == len || piece[text] == '\0');
            crc = crc32_update(crc, piece, text);
            equal = equal && memcmp(piece, image + done, len) == 0;
            return whole;
        }))
        return false;
    if (!whole || (crc ^ 0xFFFFFFFFu) != t.crc)
        return false;
    if (same != nullptr)
        *same = equal;
    return true;
}

zelmsg_spare_state read_spare(MtdDevice &dev, trailer &t, const char *image, bool &same)
{
    if (!dev.room())
        return ZELMSG_SPARE_NO_ROOM;
    unsigned char raw[ZELMSG_TRAILER_SIZE];
    if (!dev.read_at(dev.spare_at() + kTrailerAt, reinterpret_cast<char *>(raw), sizeof raw))
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
    return text_at(dev, dev.spare_at(), t, image, &same) ? ZELMSG_SPARE_VALID : ZELMSG_SPARE_INVALID;
}

int program_spare(MtdDevice &dev, char *image, unsigned text_len, uint32_t sequence)
{
    unsigned char *tail = reinterpret_cast<unsigned char *>(image) + kTrailerAt;
    unsigned char saved[ZELMSG_TRAILER_SIZE];
    memcpy(saved, tail, sizeof saved);
    memcpy(tail, kMagic, sizeof kMagic);
    put_u32(tail + 4, sequence);
    put_u32(tail + 8, text_len);
    put_u32(tail + 12, crc32_update(0xFFFFFFFFu, image, text_len) ^ 0xFFFFFFFFu);
    int r = dev.program_area(dev.spare_at(), image);
    memcpy(tail, saved, sizeof saved);
    return r;
}

} // namespace zelmsg
