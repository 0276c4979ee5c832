// arraygen: turns a simple XML document into a PHP file of array assignments,
// one per leaf element, streaming through a fixed read buffer.
//   arraygen.cpp  the conversion loop over tags and texts
//   scanner.cpp   reading chunks, tags and texts (a long text kept in blocks)
//   path.cpp      the containers open above a leaf and the prefix they make
//   emitter.cpp   the escaped PHP lines through the output buffer
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

    // A text that runs past its chunk is kept in blocks as it is read: it
    // grows without being copied again, and is escaped from there.
    struct TextBlock {
        TextBlock *next;
        size_t used;
        char bytes[65536 - 2 * sizeof(void *)];
    };

    bool refill();
    const char *nextRun(char delim, size_t *n, bool *found);
    int scanTo(char delim, imString *out, bool keepDelim);
    int collectText();
    void keepText(const char *s, size_t n);
    void dropText();
    bool leafInChunk(const char **text, size_t *len);
    bool prepareLeaf(imString *tag, VarForm *form);
    void putLeafHead(imString *tag, VarForm form);
    void writeLeaf(imString *tag, const char *value, size_t valueLen);
    void writeCollectedLeaf(imString *tag);
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
    // Drops a tag's closing '>'.
    static void chopLast(imString *tag)
    {
        size_t len = tag->getLength();
        if (len)
            tag->shorten(len - 1);
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
    // The text between the last tag and the next '<', when it ran past its
    // chunk. The first block is kept for the next such text.
    TextBlock *textHead;
    TextBlock *textTail;
    size_t textLength;
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
