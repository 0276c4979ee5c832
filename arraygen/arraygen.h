// arraygen: turns a simple XML document into a PHP file of array assignments,
// one per leaf element, streaming through a fixed read buffer.
#ifndef ARRAYGEN_ARRAYGEN_H
#define ARRAYGEN_ARRAYGEN_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "imstring.h"

class arraygen {
public:
    static const int maxLevels = 20;

    arraygen();
    ~arraygen();
    arraygen(const arraygen &) = delete;
    arraygen &operator=(const arraygen &) = delete;

    // 1 when path was opened for writing; 0 (output stays standard output) otherwise.
    int setOutputFile(const char *path);
    // Reads up to the next delim; 1 when it was found, 0 when the input ended first.
    int getTil(const char *delim, imString *out, int keepDelim);
    int getTag(imString *out);
    int getTilTag(imString *out);
    void processFile(const char *path);
    int chkTag(const char *s, const char *first, const char *second);

    // True once a string could not grow: the output then stops early.
    bool outOfMemory() const { return noMemory; }
    // Flushes the output; true when writing it failed (a full disk, say).
    bool outputFailed();

    // Bytes of output collected before they are handed to the stream.
    static const size_t outSize = 32768;

private:
    enum class VarForm {
        plain,
        braced,
        none
    };

    bool refill();
    int scanTo(char delim, imString *out, bool keepDelim);
    bool leafInChunk(const char **text, size_t *len);
    void writeLeaf(imString *tag, const char *value, size_t valueLen);
    void openContainer(imString *tag);
    void closeContainer();
    bool buildPath();
    static VarForm variableForm(const char *rawName, bool assignedWhole);
    void put(const char *s, size_t n);
    void putEscaped(const char *s, size_t n, unsigned char kind);
    void flushOut();
    void track(int rc)
    {
        if (rc != 0)
            noMemory = true;
    }

    FILE *inFile;
    FILE *outFile;
    // Held already escaped for a PHP double-quoted string.
    imString levelName[maxLevels];
    int32_t levelIndex[maxLevels];
    char readBuf[4096];
    int32_t readPos;
    // Bytes of the chunk before its first NUL: the rest of a chunk after a NUL
    // byte is never looked at.
    int32_t readLen;
    int32_t depth;
    // Containers open beyond maxLevels; their contents are dropped.
    long long hiddenDepth;
    VarForm level0Form;
    // The path prefix of a leaf at the current depth, ready to write; rebuilt
    // when a container opens or closes.
    imString path;
    bool pathStale;
    bool noMemory;
    size_t outLen;
    char outBuf[outSize];
};

#endif
