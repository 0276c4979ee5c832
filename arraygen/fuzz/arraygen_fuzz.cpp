// Feeds arbitrary bytes to processFile and checks that what comes out is still
// nothing but PHP assignments of closed, uninterpolated string literals.
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
char *outBuf;
size_t outCap;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (inFd < 0) {
        inFd = memfd_create("arraygen-in", 0);
        outFd = memfd_create("arraygen-out", 0);
        if (inFd < 0 || outFd < 0)
            abort();
    }
    if (ftruncate(inFd, 0) != 0 || pwrite(inFd, data, size, 0) != static_cast<ssize_t>(size))
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
    size_t len = static_cast<size_t>(st.st_size);
    if (len > outCap) {
        free(outBuf);
        outCap = len;
        outBuf = static_cast<char *>(malloc(outCap));
    }
    if (pread(outFd, outBuf, len, 0) != static_cast<ssize_t>(len))
        abort();
    Reader r{outBuf, outBuf + len};
    if (!r.file()) {
        fprintf(stderr, "not a file of plain PHP assignments near output byte %zu:\n%.*s\n",
                static_cast<size_t>(r.p - outBuf), static_cast<int>(len > 2000 ? 2000 : len), outBuf);
        abort();
    }
    return 0;
}
