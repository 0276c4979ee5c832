// Handle on the 4096-byte System V shared-memory control block (key 9230) that
// shmpoke shares with a process outside this system. The offsets and widths of the
// fields are an interface between processes: do not move them.
#ifndef SHMPOKE_CONTROL_BLOCK_H
#define SHMPOKE_CONTROL_BLOCK_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

class ControlBlock {
public:
    static constexpr key_t kKey = 9230; // 0x240E
    static constexpr size_t kSize = 4096;
    static constexpr size_t kTextAOffset = 0;
    static constexpr size_t kTextBOffset = 256;
    static constexpr size_t kTextSize = 256;
    static constexpr size_t kFlagsOffset = 512;
    static constexpr size_t kPokeWordOffset = 1588;

    ControlBlock();
    ~ControlBlock();
    ControlBlock(const ControlBlock &) = delete;
    ControlBlock &operator=(const ControlBlock &) = delete;

    // Creates (or opens) the segment, zeroes all of it and owns it: 1, or -1 with a
    // message on standard error when the segment cannot be had.
    int create();
    // Attaches the existing segment and leaves its contents alone: 0, or -1 with a
    // message on standard error (missing, smaller than the block, not attachable).
    int attach();

    void setTextA(const char *s);
    char *getTextA();
    void clearTextA();
    void setTextB(const char *s);
    char *getTextB();
    void clearTextB();
    void setFlags(unsigned char bits);
    void clearFlags(unsigned char bits);
    int setPokeWord(int value);
    void *getMapAddr();

private:
    int open(int shmflg);

    int32_t owner;
    unsigned char *block;
    void *mapAddr;
    int32_t shmId;
};

#endif
