#include "arraygen.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

// memchr, with the first bytes looked at here: most tags and texts are short.
static inline const char *find_byte(const char *p, const char *end, char c)
{
    const char *stop = end - p > 16 ? p + 16 : end;
    for (; p < stop; p++) {
        if (*p == c)
            return p;
    }
    return p < end ? static_cast<const char *>(memchr(p, c, static_cast<size_t>(end - p))) : nullptr;
}

// Reads the next chunk; false at the end of the input or on a read error.
bool arraygen::refill()
{
    size_t got = fread(readBuf, 1, sizeof readBuf - 1, inFile);
    if (got == 0)
        return false;
    readBuf[got] = '\0';
    const char *nul = static_cast<const char *>(memchr(readBuf, '\0', got));
    readLen = static_cast<int32_t>(nul ? static_cast<size_t>(nul - readBuf) : got);
    readPos = 0;
    return true;
}

// Consumes the input up to the next delim or the end of the chunk, whichever
// comes first: returns where that run starts and sets *n to its length, and
// *found when delim ended it (delim is consumed too, and follows the run).
// Null at the end of the input.
inline const char *arraygen::nextRun(char delim, size_t *n, bool *found)
{
    if (readPos >= readLen && !refill())
        return nullptr;
    const char *p = readBuf + readPos;
    size_t left = static_cast<size_t>(readLen - readPos);
    const char *hit = find_byte(p, p + left, delim);
    *found = hit != nullptr;
    *n = hit ? static_cast<size_t>(hit - p) : left;
    readPos += static_cast<int32_t>(hit ? *n + 1 : *n);
    return p;
}

// Reads up to the next delim and appends what it passed (with the delim when
// keepDelim) to out, or drops it when out is null. 1 when delim was found.
int arraygen::scanTo(char delim, imString *out, bool keepDelim)
{
    size_t n;
    bool found;
    while (const char *p = nextRun(delim, &n, &found)) {
        if (out)
            track(out->catBytes(p, found && keepDelim ? n + 1 : n));
        if (found)
            return 1;
    }
    return 0;
}

// Reads the text up to the next '<' into the text blocks; 1 when '<' was found.
int arraygen::collectText()
{
    dropText();
    size_t n;
    bool found;
    while (const char *p = nextRun('<', &n, &found)) {
        keepText(p, n);
        if (found)
            return 1;
    }
    return 0;
}

void arraygen::keepText(const char *s, size_t n)
{
    // Past 2 GiB a text is refused like a failed allocation, as imString
    // refuses a string that long.
    if (n > static_cast<size_t>(INT_MAX - 16) - textLength) {
        noMemory = true;
        return;
    }
    while (n > 0) {
        if (!textTail || textTail->used == sizeof textTail->bytes) {
            TextBlock *next = textTail ? textTail->next : textHead;
            if (!next) {
                void *block = imString::allocate(sizeof(TextBlock));
                if (!block) {
                    noMemory = true;
                    return;
                }
                next = new (block) TextBlock;
                next->next = nullptr;
                if (textTail)
                    textTail->next = next;
                else
                    textHead = next;
            }
            next->used = 0;
            textTail = next;
        }
        size_t take = sizeof textTail->bytes - textTail->used;
        if (take > n)
            take = n;
        memcpy(textTail->bytes + textTail->used, s, take);
        textTail->used += take;
        textLength += take;
        s += take;
        n -= take;
    }
}

// Empties the text, keeping its first block.
void arraygen::dropText()
{
    if (textHead) {
        for (TextBlock *b = textHead->next; b;) {
            TextBlock *next = b->next;
            free(b);
            b = next;
        }
        textHead->next = nullptr;
        textHead->used = 0;
    }
    textTail = nullptr;
    textLength = 0;
}

int arraygen::getTil(const char *delim, imString *out, int keepDelim)
{
    out->clear();
    if (delim[0] != '\0' && delim[1] == '\0')
        return scanTo(delim[0], out, keepDelim != 0);
    // Any other delimiter is looked for within one chunk only.
    for (;;) {
        if (readPos >= readLen && !refill())
            return 0;
        char *p = readBuf + readPos;
        const char *hit = strstr(p, delim);
        size_t n = hit ? static_cast<size_t>(hit - p) : static_cast<size_t>(readLen - readPos);
        track(out->catBytes(p, n));
        if (!hit) {
            readPos = readLen;
            continue;
        }
        readPos += static_cast<int32_t>(n + 1);
        if (keepDelim)
            track(out->catString(delim));
        return 1;
    }
}

int arraygen::getTag(imString *out)
{
    return getTil(">", out, 1);
}

int arraygen::getTilTag(imString *out)
{
    return getTil("<", out, 0);
}

int arraygen::chkTag(const char *s, const char *first, const char *second)
{
    if (!s)
        return 0;
    if (strncmp(s, first, strlen(first)) == 0)
        return 1;
    if (strncmp(s, second, strlen(second)) == 0)
        return 2;
    return 0;
}

// The common leaf, whose text and closing tag both lie in the current chunk:
// its text is taken from the chunk without a copy and its closing tag skipped.
// Consumes nothing and returns false when that is not the case.
bool arraygen::leafInChunk(const char **text, size_t *len)
{
    const char *p = readBuf + readPos;
    const char *end = readBuf + readLen;
    const char *open = find_byte(p, end, '<');
    if (!open || open + 1 >= end || open[1] != '/')
        return false;
    const char *close = find_byte(open + 2, end, '>');
    if (!close)
        return false;
    *text = p;
    *len = static_cast<size_t>(open - p);
    readPos = static_cast<int32_t>(close + 1 - readBuf);
    return true;
}
