#include "control_block.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

ControlBlock::ControlBlock() : owner(0), block(nullptr), mapAddr(nullptr), shmId(-1) {}

// The segment stays attached until the process exits; only its creator removes it,
// and removal takes effect once every process has detached.
ControlBlock::~ControlBlock()
{
    if (owner) {
        struct shmid_ds scratch;
        shmctl(shmId, IPC_RMID, &scratch);
    }
}

static void report(const char *call)
{
    int saved = errno;
    fprintf(stderr, "shmpoke: %s of control block key %d (0x%04X) failed: %s\n", call,
            static_cast<int>(ControlBlock::kKey), static_cast<unsigned>(ControlBlock::kKey), strerror(saved));
}

// On any failure the handle stays without a segment, so nothing can be written.
int ControlBlock::open(int shmflg)
{
    int id = shmget(kKey, kSize, shmflg);
    if (id < 0) {
        report("shmget");
        return -1;
    }
    // shmget already refuses a smaller existing segment; checking the size again
    // guards against a kernel or emulator that does not.
    struct shmid_ds ds;
    if (shmctl(id, IPC_STAT, &ds) < 0) {
        report("shmctl IPC_STAT");
        return -1;
    }
    if (ds.shm_segsz < kSize) {
        fprintf(stderr, "shmpoke: control block key %d (0x%04X) has %lu bytes, needs %lu\n", static_cast<int>(kKey),
                static_cast<unsigned>(kKey), static_cast<unsigned long>(ds.shm_segsz),
                static_cast<unsigned long>(kSize));
        return -1;
    }
    void *addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void *>(-1)) {
        report("shmat");
        return -1;
    }
    shmId = id;
    mapAddr = addr;
    block = static_cast<unsigned char *>(addr);
    return 0;
}

int ControlBlock::create()
{
    if (open(IPC_CREAT | 0666) < 0)
        return -1;
    memset(block, 0, kSize);
    owner = 1;
    return 1;
}

int ControlBlock::attach()
{
    if (open(0666) < 0)
        return -1;
    owner = 0;
    return 0;
}

// strncpy pads a short text with NULs to the end of the field; the last byte is
// forced to NUL so that a reader never runs past the field.
void ControlBlock::setTextA(const char *s)
{
    strncpy(reinterpret_cast<char *>(block + kTextAOffset), s, kTextSize);
    block[kTextAOffset + kTextSize - 1] = '\0';
}

char *ControlBlock::getTextA()
{
    return reinterpret_cast<char *>(block + kTextAOffset);
}

void ControlBlock::clearTextA()
{
    block[kTextAOffset] = '\0';
}

void ControlBlock::setTextB(const char *s)
{
    strncpy(reinterpret_cast<char *>(block + kTextBOffset), s, kTextSize);
    block[kTextBOffset + kTextSize - 1] = '\0';
}

char *ControlBlock::getTextB()
{
    return reinterpret_cast<char *>(block + kTextBOffset);
}

void ControlBlock::clearTextB()
{
    block[kTextBOffset] = '\0';
}

void ControlBlock::setFlags(unsigned char bits)
{
    block[kFlagsOffset] = static_cast<unsigned char>(block[kFlagsOffset] | bits);
}

void ControlBlock::clearFlags(unsigned char bits)
{
    block[kFlagsOffset] = static_cast<unsigned char>(block[kFlagsOffset] & ~bits);
}

// One aligned 32-bit store: the other process never sees a half-written word.
int ControlBlock::setPokeWord(int value)
{
    *reinterpret_cast<volatile int32_t *>(block + kPokeWordOffset) = value;
    return value;
}

void *ControlBlock::getMapAddr()
{
    return mapAddr;
}
