// imString: a heap-held, NUL-terminated byte string that only grows by appends
// and can be reset to empty. The converter's one string type.
#ifndef ARRAYGEN_IMSTRING_H
#define ARRAYGEN_IMSTRING_H

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

// Which bytes get a backslash in the PHP double-quoted strings the converter
// writes: keys and level names escape quotes, backslashes and dollars, values
// their apostrophes too.
struct EscapeTable {
    enum : unsigned char {
        key = 1,
        value = 2
    };
    unsigned char of[256];
    constexpr EscapeTable() : of()
    {
        of[static_cast<unsigned char>('"')] = key | value;
        of[static_cast<unsigned char>('\\')] = key | value;
        of[static_cast<unsigned char>('$')] = key | value;
        of[static_cast<unsigned char>('\'')] = value;
    }
};
inline constexpr EscapeTable escapeTable;

// reserved and capacity are counters that tests and readers reason with; they
// are neither the length nor the size of the block behind chars, which are
// kept apart (length, blockSize). reserved is 2 when empty and every append
// adds its length plus 2 (an escaping append counts as the appends of its
// pieces: each text run and each backslash pair), so it is always at least the
// true length plus 1. capacity is the smallest multiple of 16 above reserved
// at the last time reserved outgrew it, and 0 after a reset. The block is at
// least capacity bytes, larger when it was kept over a reset or doubled. An
// append that fits copies only its own bytes; one that does not at least
// doubles the block, so a long text costs linear time.
class imString {
public:
    char *chars;
    int reserved;
    int capacity;

    // Allocation goes through here so tests can make it fail.
    static inline void *(*allocate)(size_t) = malloc;

    imString() { setCleanString(); }
    ~imString() { release(); }
    imString(const imString &) = delete;
    imString &operator=(const imString &) = delete;

    void setCleanString()
    {
        chars = static_cast<char *>(allocate(2));
        blockSize = 2;
        // Out of memory: fall back to a shared empty block so the string stays a
        // valid empty string; with blockSize 0 it is never appended to in place.
        if (!chars) {
            chars = emptyBlock();
            blockSize = 0;
        }
        chars[0] = '\0';
        length = 0;
        reserved = 2;
        capacity = 0;
    }

    // Keeps a block of moderate size: the scanner clears its strings once per
    // tag and text, and a fresh block each time would cost more than the scan.
    void clear()
    {
        if (blockSize > keptBlock) {
            release();
            setCleanString();
            return;
        }
        if (blockSize > 0)
            chars[0] = '\0';
        length = 0;
        reserved = 2;
        capacity = 0;
    }

    char *getString() { return chars; }
    size_t getLength() const { return length; }
    // A caller that cuts the text by writing a NUL into it says so here, or
    // later appends would land behind that NUL.
    void shorten(size_t newLength)
    {
        if (newLength < length) {
            length = newLength;
            chars[length] = '\0';
        }
    }

    int catString(const char *s) { return catBytes(s, strlen(s)); }

    // Appends n bytes that hold no NUL.
    int catBytes(const char *s, size_t n)
    {
        if (reserve(n, static_cast<long long>(n) + 2) != 0)
            return -1;
        memcpy(chars + length, s, n);
        length += n;
        chars[length] = '\0';
        return 0;
    }

    // Appends a text for a PHP double-quoted value: quotes, apostrophes,
    // backslashes and dollars get a backslash, so the value stays one literal
    // string that PHP never interpolates. PHP keeps the backslash before an
    // apostrophe, which pages reading these files expect. Writes a NUL over each
    // escaped byte of s. Returns 0, or -1 (nothing appended) when the string
    // could not grow.
    int catStringEscQuote(char *s) { return catEscaped(s, EscapeTable::value); }

    // The same for keys and level names, which keep their apostrophes bare.
    int catStringEscKey(char *s) { return catEscaped(s, EscapeTable::key); }

private:
    static const size_t keptBlock = 65536;

    size_t length;
    size_t blockSize;

    static char *emptyBlock()
    {
        static char block[2];
        return block;
    }

    void release()
    {
        if (chars != emptyBlock())
            free(chars);
    }

    // Makes room for extra more bytes, growing reserved by reservation.
    int reserve(size_t extra, long long reservation)
    {
        // Past 2 GiB the counters would overflow: refuse like a failed allocation.
        long long wanted = static_cast<long long>(reserved) + reservation;
        if (wanted > INT_MAX - 16)
            return -1;
        int n = static_cast<int>(wanted);
        int newCapacity = capacity < n ? (n / 16 + 1) * 16 : capacity;
        size_t needed = static_cast<size_t>(newCapacity);
        if (needed < length + extra + 1)
            needed = length + extra + 1;
        if (blockSize < needed) {
            size_t size = (needed + 15) / 16 * 16;
            if (size < blockSize * 2 && blockSize < static_cast<size_t>(INT_MAX))
                size = blockSize * 2;
            char *block = static_cast<char *>(allocate(size));
            if (!block)
                return -1;
            memcpy(block, chars, length + 1);
            release();
            chars = block;
            blockSize = size;
        }
        reserved = n;
        capacity = newCapacity;
        return 0;
    }

    int catEscaped(char *s, unsigned char kind)
    {
        size_t n = 0;
        size_t specials = 0;
        for (; s[n]; n++)
            specials += (escapeTable.of[static_cast<unsigned char>(s[n])] & kind) != 0;
        if (reserve(n + specials, static_cast<long long>(n) + 5 * static_cast<long long>(specials) + 2) != 0)
            return -1;
        char *out = chars + length;
        for (size_t i = 0; i < n; i++) {
            char c = s[i];
            if (escapeTable.of[static_cast<unsigned char>(c)] & kind) {
                *out++ = '\\';
                s[i] = '\0';
            }
            *out++ = c;
        }
        *out = '\0';
        length += n + specials;
        return 0;
    }
};

#endif
