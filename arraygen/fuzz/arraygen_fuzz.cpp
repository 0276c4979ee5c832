// Feeds arbitrary bytes to processFile and checks that what comes out is still
// nothing but PHP assignments of closed, uninterpolated string literals, and
// that it does not depend on where the read chunks end.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arraygen.h"

namespace {

struct Reader {
    const char *p;
    const char *end;

    bool eat(const char *s)
    {
        size_t n = strlen(s);
        if (static_cast<size_t>(end - p) < n || memcmp(p, s, n) != 0)
            return false;
        p += n;
        return true;
    }
    bool peek(char c) const { return p < end && *p == c; }

    // A double-quoted literal in which PHP sees no variable and no escape
    // other than the ones the converter writes.
    bool literal()
    {
        if (!eat("\""))
            return false;
        while (p < end) {
            char c = *p++;
            if (c == '"')
                return true;
            if (c == '$')
                return false;
            if (c == '\\') {
                if (p == end || !strchr("\\\"$'", *p))
                    return false;
                p++;
            }
        }
        return false;
    }
    bool index()
    {
        if (!eat("["))
            return false;
        const char *digits = p;
        while (p < end && *p >= '0' && *p <= '9')
            p++;
        return p > digits && eat("]");
    }
    bool identifier()
    {
        const char *start = p;
        auto ok = [](unsigned char c, bool first) {
            return c == '_' || c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                   (!first && c >= '0' && c <= '9');
        };
        if (p == end || !ok(static_cast<unsigned char>(*p), true))
            return false;
        while (p < end && ok(static_cast<unsigned char>(*p), false))
            p++;
        return !(p - start == 4 && memcmp(start, "this", 4) == 0);
    }
    bool variable()
    {
        if (!eat("$"))
            return false;
        if (eat("{"))
            return literal() && eat("}");
        return identifier();
    }
    bool statement()
    {
        if (!variable())
            return false;
        if (!eat(" = ")) {
            if (!index())
                return false;
            do {
                if (!eat("[") || !literal() || !eat("]"))
                    return false;
            } while (p + 1 < end && p[0] == '[' && p[1] >= '0' && p[1] <= '9' && index());
            if (!eat(" = "))
                return false;
        }
        return literal() && eat(";\n");
    }
    bool file()
    {
        if (!eat("<?php\n"))
            return false;
        while (!(end - p == 3 && eat("?>\n")))
            if (!statement())
                return false;
        return true;
    }
};

int inFd = -1;
int outFd = -1;

struct Output {
    char *p = nullptr;
    size_t len = 0;
    size_t cap = 0;
};
Output first, second;

// Converts pad spaces followed by data into out.
void convert(const uint8_t *data, size_t size, size_t pad, Output &out)
{
    static char spaces[4096];
    if (!spaces[0])
        memset(spaces, ' ', sizeof spaces);
    if (inFd < 0) {
        inFd = memfd_create("arraygen-in", 0);
        outFd = memfd_create("arraygen-out", 0);
        if (inFd < 0 || outFd < 0)
            abort();
    }
    if (pad > sizeof spaces || ftruncate(inFd, 0) != 0 || pwrite(inFd, spaces, pad, 0) != static_cast<ssize_t>(pad) ||
        pwrite(inFd, data, size, static_cast<off_t>(pad)) != static_cast<ssize_t>(size))
        abort();
    char inPath[64], outPath[64];
    snprintf(inPath, sizeof inPath, "/proc/self/fd/%d", inFd);
    snprintf(outPath, sizeof outPath, "/proc/self/fd/%d", outFd);
    {
        arraygen conv;
        if (conv.setOutputFile(outPath) != 1)
            abort();
        conv.processFile(inPath);
    }

    struct stat st;
    if (fstat(outFd, &st) != 0)
        abort();
    out.len = static_cast<size_t>(st.st_size);
    if (out.len > out.cap) {
        free(out.p);
        out.cap = out.len;
        out.p = static_cast<char *>(malloc(out.cap));
    }
    if (pread(outFd, out.p, out.len, 0) != static_cast<ssize_t>(out.len))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    convert(data, size, 0, first);
    Reader r{first.p, first.p + first.len};
    if (!r.file()) {
        fprintf(stderr, "not a file of plain PHP assignments near output byte %zu:\n%.*s\n",
                static_cast<size_t>(r.p - first.p), static_cast<int>(first.len > 2000 ? 2000 : first.len), first.p);
        abort();
    }
    // Text before the first tag is dropped, so spaces in front only move the
    // edges of the read chunks: here the first edge falls k bytes into the
    // data. Without a NUL byte (which cuts its chunk short) where a tag or text
    // is split must not show in the output.
    if (size > 0 && !memchr(data, 0, size)) {
        size_t k = 1 + (size + data[0]) % (size < 4094 ? size : 4094);
        convert(data, size, 4095 - k, second);
        if (first.len != second.len || memcmp(first.p, second.p, first.len) != 0) {
            fprintf(stderr, "output changes when the chunk edges move\n");
            abort();
        }
    }
    return 0;
}
