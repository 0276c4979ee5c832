// What the flash code tells zelctl beyond the public operations; not part of the
// public header.
#ifndef ZELMSG_FLASH_INTERNAL_H
#define ZELMSG_FLASH_INTERNAL_H

// The spare copy: the image's first bytes and a trailer in the last 16 bytes of a
// 64 KiB area of its own erase blocks, right after the blocks of the image at offset 0.
#define ZELMSG_TRAILER_SIZE 16
// The longest text whose spare copy holds it with its NUL.
#define ZELMSG_SPARE_TEXT_MAX (SETTING_IMAGE_SIZE - ZELMSG_TRAILER_SIZE - 1)

enum zelmsg_spare_state {
    ZELMSG_SPARE_NO_ROOM, // the partition has no blocks for it
    ZELMSG_SPARE_MISSING, // its trailer is erased
    ZELMSG_SPARE_VALID,
    ZELMSG_SPARE_INVALID, // cut, torn, or written by something else
};

enum zelmsg_image_state {
    ZELMSG_IMAGE_WHOLE,  // a text free of erased bytes, read as it is
    ZELMSG_IMAGE_ERASED, // all 65536 bytes erased
    ZELMSG_IMAGE_CUT,    // erased bytes inside the text: a cut write or erase
};

struct zelmsg_flash_report {
    unsigned size;      // bytes in the partition; 0 when its geometry is unreadable
    unsigned erasesize; // bytes in one erase block
    unsigned room_need; // partition size that holds a spare copy for this erase size
    int image;          // zelmsg_image_state of offset 0
    int spare;          // zelmsg_spare_state
    unsigned sequence;  // commits counted by the spare copies (valid spare only)
    int spare_text_len; // (valid spare only)
    int image_is_spare; // offset 0 holds the spare copy's text
    int text_offset;    // where the text a boot reads starts in buffer_setting
};

// Fills the report and leaves in buffer_setting the image that init_flash_var would
// take (the spare copy when it would restore it), writing nothing. -1 when the
// partition cannot be read.
int zelmsg_read_flash_report(struct zelmsg_flash_report *report);

// init_flash_var's work; *file_written is 1 when the settings file got the whole text,
// *restore_failed 1 when the spare copy, which the boot read, could not be put back at
// offset 0 (it stays the one whole copy).
int zelmsg_init_flash(int *file_written, int *restore_failed);

#endif
