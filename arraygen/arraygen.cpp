#include "arraygen.h"

#include <cstdlib>
#include <cstring>

arraygen::arraygen()
    : inFile(nullptr), outFile(stdout), levelIndex(), readBuf(), readPos(0), readLen(0), textHead(nullptr),
      textTail(nullptr), textLength(0), depth(0), hiddenDepth(0), level0Form(VarForm::plain), pathStale(true),
      noMemory(false), outLen(0), outBuf()
{
}

arraygen::~arraygen()
{
    flushOut();
    if (outFile)
        fclose(outFile);
    dropText();
    free(textHead);
}

// The XML declaration and self-closing elements carry nothing to write: a tag
// holding "version" or "/>" anywhere is skipped.
static bool skipped_tag(const char *s, size_t len)
{
    for (const char *end = s + len; s < end; s++) {
        if (*s == 'v' && static_cast<size_t>(end - s) >= 7 && memcmp(s, "version", 7) == 0)
            return true;
        if (*s == '/' && s + 1 < end && s[1] == '>')
            return true;
    }
    return false;
}

void arraygen::processFile(const char *path)
{
    if (inFile)
        fclose(inFile);
    inFile = fopen(path, "r");
    if (!inFile) {
        put("QV: cannot read file", 20);
        put(path, strlen(path));
        put("\n", 1);
        flushOut();
        return;
    }
    // Chunks go straight into readBuf rather than through stdio's buffer.
    setvbuf(inFile, nullptr, _IONBF, 0);
    put("<?php\n", 6);
    readPos = 0;
    readLen = 0;

    // Text that is dropped (before a tag, after a closing tag) is skipped
    // without being collected.
    imString tagString, lookaheadString;
    imString *tag = &tagString;
    imString *lookahead = &lookaheadString;
    const char *text;
    size_t textLen;
    scanTo('<', nullptr, false);
    getTag(tag);
    while (!noMemory) {
        const char *t = tag->getString();
        if (skipped_tag(t, tag->getLength())) {
            // Nothing to write.
        } else if (t[0] == '/') {
            closeContainer();
        } else if (leafInChunk(&text, &textLen)) {
            writeLeaf(tag, text, textLen);
        } else {
            collectText();
            if (!getTag(lookahead))
                break;
            // The leaf's closing tag is consumed here unprocessed.
            bool leaf = lookahead->getString()[0] == '/';
            if (leaf)
                writeCollectedLeaf(tag);
            dropText();
            if (!leaf) {
                openContainer(tag);
                imString *next = lookahead;
                lookahead = tag;
                tag = next;
                continue;
            }
        }
        scanTo('<', nullptr, false);
        if (!getTag(tag))
            break;
    }
    // Even a conversion cut short leaves a file that parses.
    put("?>\n", 3);
    flushOut();
    fclose(inFile);
    inFile = nullptr;
    dropText();
}
