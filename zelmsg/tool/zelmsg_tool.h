/* zelmsg for the project's own tools (zelctl): the store's count of a load, what the
 * flash partition holds, and the boot's work with its outcomes. Not installed: other
 * packages build on zelmsg.h alone. The functions are in both archives.
 */
#ifndef ZELMSG_TOOL_H
#define ZELMSG_TOOL_H

#include "zelmsg.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- settings store ---- */

/* read_file returning the count: the bytes copied (at most maxlen), or its -1 or -2. */
int zelmsg_load_file(const char *path, char *buffer, int maxlen);

/* ---- what the partition holds, for zelctl ----
 * The spare copy: the image's first bytes and a trailer in the last 16 bytes of a
 * 64 KiB area of its own erase blocks, right after the blocks of the image at
 * offset 0. */

#define ZELMSG_TRAILER_SIZE 16
/* The longest text whose spare copy holds it with its NUL. */
#define ZELMSG_SPARE_TEXT_MAX (SETTING_IMAGE_SIZE - ZELMSG_TRAILER_SIZE - 1)

enum zelmsg_spare_state {
    ZELMSG_SPARE_NO_ROOM, /* the partition has no blocks for it */
    ZELMSG_SPARE_MISSING, /* its trailer is erased */
    ZELMSG_SPARE_VALID,
    ZELMSG_SPARE_INVALID /* cut, torn, or written by something else */
};

enum zelmsg_image_state {
    ZELMSG_IMAGE_WHOLE,  /* a text free of erased bytes, read as it is */
    ZELMSG_IMAGE_ERASED, /* all 65536 bytes erased */
    ZELMSG_IMAGE_CUT     /* erased bytes inside the text: a cut write or erase */
};

struct zelmsg_flash_report {
    unsigned size;      /* bytes in the partition; 0 when its geometry is unreadable */
    unsigned erasesize; /* bytes in one erase block */
    unsigned room_need; /* partition size that holds a spare copy for this erase size */
    int image;          /* zelmsg_image_state of offset 0 */
    int spare;          /* zelmsg_spare_state */
    unsigned sequence;  /* commits counted by the spare copies (valid spare only) */
    int spare_text_len; /* (valid spare only) */
    int image_is_spare; /* offset 0 holds the spare copy's text */
    const char *text;   /* the text a boot reads, valid until the next report */
};

/* Fills the report from the partition, writing nothing and leaving buffer_setting
 * alone. -1 when the partition cannot be read. */
int zelmsg_read_flash_report(struct zelmsg_flash_report *report);

/* init_flash_var's work; *file_written is 1 when the settings file got the whole
 * text, *restore_failed 1 when the spare copy, which the boot read, could not be put
 * back at offset 0 (it stays the one whole copy). */
int zelmsg_init_flash(int *file_written, int *restore_failed);

#ifdef __cplusplus
}
#endif

#endif /* ZELMSG_TOOL_H */
