// The spare copy of the flash image: the image's first bytes and a trailer (magic
// "ZSP1", sequence, text length, CRC-32 of the text, little-endian) in the last 16
// bytes of an area of its own erase blocks, right after the image's blocks.
// Internal to the library.
#ifndef ZELMSG_SPARE_COPY_H
#define ZELMSG_SPARE_COPY_H

#include "zelmsg.h"
#include "zelmsg_tool.h"
#include "mtd.h"

#include <stdint.h>

namespace zelmsg {

struct trailer {
    uint32_t sequence;
    uint32_t length;
    uint32_t crc;
};

// Length of an image's text: up to its first NUL, at most the whole image.
unsigned text_length(const char *image);

// Whether the bytes at offset hold a text of the trailer's length and CRC-32 and its
// NUL, no NUL before. When same is given, it tells whether image holds the same text
// and NUL.
bool text_at(MtdDevice &dev, unsigned offset, const trailer &t, const char *image, bool *same);

// Reads and checks the spare copy. When it is valid, same says whether image holds
// the same text and NUL.
zelmsg_spare_state read_spare(MtdDevice &dev, trailer &t, const char *image, bool &same);

// Writes the spare copy of the image, whose text has text_len characters: the trailer
// stands in for the image's last 16 bytes for the time of the write. program_area's
// results.
int program_spare(MtdDevice &dev, char *image, unsigned text_len, uint32_t sequence);

} // namespace zelmsg

#endif
