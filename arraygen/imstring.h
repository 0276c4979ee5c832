// imString: a heap-held, NUL-terminated byte string that only grows by appends
// and can be reset to empty. The converter's one string type.
#ifndef ARRAYGEN_IMSTRING_H
#define ARRAYGEN_IMSTRING_H

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

class imString {
public:
    char *chars;
    // Grows by the appended length plus 2 per append: an upper bound of the true
    // length plus 1 that the growth test and the copy bound rely on.
    int reserved;
    // Block size noted at the last growth; 0 after a reset, so the next append
    // always moves the contents to a fresh block.
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
        // Out of memory: fall back to a shared empty block so the string stays a
        // valid empty string; with capacity 0 it is never appended to in place.
        if (!chars)
            chars = emptyBlock();
        chars[0] = '\0';
        reserved = 2;
        capacity = 0;
    }

    void clear()
    {
        release();
        setCleanString();
    }

    char *getString() { return chars; }

    int catString(const char *s)
    {
        // Past 2 GiB the counters would overflow: refuse like a failed allocation.
        long long wanted = static_cast<long long>(reserved) + static_cast<long long>(strlen(s)) + 2;
        if (wanted > INT_MAX - 16)
            return -1;
        int n = static_cast<int>(wanted);
        if (capacity < n) {
            int newCapacity = (n / 16 + 1) * 16;
            char *block = static_cast<char *>(allocate(static_cast<size_t>(newCapacity)));
            if (!block)
                return -1;
            snprintf(block, static_cast<size_t>(n), "%s%s", chars, s);
            release();
            chars = block;
            capacity = newCapacity;
        } else {
            strncat(chars, s, static_cast<size_t>(n));
        }
        reserved = n;
        return 0;
    }

    // Appends a text for a PHP double-quoted value: quotes, apostrophes,
    // backslashes and dollars get a backslash, so the value stays one literal
    // string that PHP never interpolates. PHP keeps the backslash before an
    // apostrophe, which pages reading these files expect. Writes NULs into s.
    // Returns 0, or -1 when an append failed.
    int catStringEscQuote(char *s) { return catEscaped(s, "\"'\\$"); }

    // The same for keys and level names, which keep their apostrophes bare.
    int catStringEscKey(char *s) { return catEscaped(s, "\"\\$"); }

private:
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

    int catEscaped(char *s, const char *special)
    {
        int rc = 0;
        while (s) {
            char *p = strpbrk(s, special);
            if (!p) {
                rc |= catString(s);
                break;
            }
            char escape[3] = {'\\', *p, '\0'};
            *p = '\0';
            rc |= catString(s);
            rc |= catString(escape);
            s = p + 1;
        }
        return rc;
    }
};

#endif
