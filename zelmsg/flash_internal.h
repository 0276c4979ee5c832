// What the boot and zelctl's report share of the flash code; not part of the public
// header.
#ifndef ZELMSG_FLASH_INTERNAL_H
#define ZELMSG_FLASH_INTERNAL_H

#include "zelmsg.h"
#include "zelmsg_tool.h"

namespace zelmsg {

// Decides what a boot reads: image (SETTING_BUF_SIZE + 1 bytes) holds the n bytes read
// from offset 0 on entry and the image to take on return. *restore says whether offset
// 0 must get the spare copy back.
void resolve_image(char *image, int n, struct zelmsg_flash_report &r, bool *restore);

// The reader's rules over the image; returns where its text starts.
int reader_text(char *image);

} // namespace zelmsg

#endif
