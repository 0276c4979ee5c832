// arraygen: turns a simple XML document into a PHP file of array assignments,
// one per leaf element, streaming through a fixed read buffer.
#ifndef ARRAYGEN_ARRAYGEN_H
#define ARRAYGEN_ARRAYGEN_H

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

private:
    enum class VarForm {
        plain,
        braced,
        none
    };

    void writeLeaf(imString *tag, imString *value);
    void openContainer(imString *tag);
    void closeContainer();
    void writeVariable(const char *escapedName, VarForm form);
    static VarForm variableForm(const char *rawName, bool assignedWhole);
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
    int32_t readLen;
    int32_t depth;
    // Containers open beyond maxLevels; their contents are dropped.
    long long hiddenDepth;
    VarForm level0Form;
    imString escaped;
    imString escapedKey;
    bool noMemory;
};

#endif
