#include "arraygen.h"

#include <cstring>

arraygen::arraygen()
    : inFile(nullptr), outFile(stdout), levelIndex(), readBuf(), readPos(0), readLen(0), depth(0), hiddenDepth(0),
      level0Form(VarForm::plain), noMemory(false)
{
}

arraygen::~arraygen()
{
    if (outFile)
        fclose(outFile);
}

int arraygen::setOutputFile(const char *path)
{
    if (outFile && outFile != stdout)
        fclose(outFile);
    outFile = path ? fopen(path, "w") : nullptr;
    if (outFile)
        return 1;
    outFile = stdout;
    return 0;
}

bool arraygen::outputFailed()
{
    return fflush(outFile) != 0 || ferror(outFile);
}

int arraygen::getTil(const char *delim, imString *out, int keepDelim)
{
    out->clear();
    int found = 0;
    while (!found) {
        if (readPos >= readLen) {
            size_t got = fread(readBuf, 1, sizeof readBuf - 1, inFile);
            if (got == 0)
                return 0;
            readBuf[got] = '\0';
            readLen = static_cast<int32_t>(got);
            readPos = 0;
        }
        // Searching stops at a NUL byte, so the rest of a chunk after one is skipped.
        char *hit = strstr(readBuf + readPos, delim);
        int32_t end = readLen;
        if (hit) {
            *hit = '\0';
            end = static_cast<int32_t>(hit - readBuf);
            found = 1;
        }
        track(out->catString(readBuf + readPos));
        readPos = end + 1;
    }
    if (keepDelim)
        track(out->catString(delim));
    return 1;
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

static void chop_last(char *s)
{
    size_t len = strlen(s);
    if (len)
        s[len - 1] = '\0';
}

static bool starts_identifier(unsigned char c)
{
    return c == '_' || c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

static bool is_php_identifier(const char *s)
{
    if (!starts_identifier(static_cast<unsigned char>(*s)))
        return false;
    for (++s; *s; ++s) {
        unsigned char c = static_cast<unsigned char>(*s);
        if (!starts_identifier(c) && !(c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

// How a name is written as a PHP variable. "this" can never be one, and the
// whole of $GLOBALS cannot be assigned; other names that are not plain
// identifiers are written as ${"name"}.
arraygen::VarForm arraygen::variableForm(const char *rawName, bool assignedWhole)
{
    if (strcmp(rawName, "this") == 0 || (assignedWhole && strcmp(rawName, "GLOBALS") == 0))
        return VarForm::none;
    return is_php_identifier(rawName) ? VarForm::plain : VarForm::braced;
}

void arraygen::writeVariable(const char *escapedName, VarForm form)
{
    if (form == VarForm::plain) {
        putc('$', outFile);
        fputs(escapedName, outFile);
    } else {
        fputs("${\"", outFile);
        fputs(escapedName, outFile);
        fputs("\"}", outFile);
    }
}

// Writes "[N]"; fputs rather than fprintf, which costs more than all the
// scanning on large documents.
static void put_index(FILE *out, int32_t index)
{
    char digits[16];
    char *p = digits + sizeof digits;
    *--p = '\0';
    *--p = ']';
    do {
        *--p = static_cast<char>('0' + index % 10);
        index /= 10;
    } while (index > 0);
    *--p = '[';
    fputs(p, out);
}

static void put_key(FILE *out, const char *escapedKey)
{
    fputs("[\"", out);
    fputs(escapedKey, out);
    fputs("\"]", out);
}

void arraygen::openContainer(imString *tag)
{
    if (hiddenDepth > 0 || depth >= maxLevels) {
        hiddenDepth++;
        return;
    }
    if (levelIndex[depth] == 0) {
        char *name = tag->getString();
        chop_last(name);
        if (depth == 0)
            level0Form = variableForm(name, false);
        levelName[depth].clear();
        track(levelName[depth].catStringEscKey(name));
    }
    depth++;
}

void arraygen::closeContainer()
{
    if (hiddenDepth > 0) {
        hiddenDepth--;
        return;
    }
    // A closing tag with nothing open (left by a skipped opening tag) is ignored.
    if (depth == 0)
        return;
    depth--;
    if (levelIndex[depth] < INT32_MAX)
        levelIndex[depth]++;
}

void arraygen::writeLeaf(imString *tag, imString *value)
{
    if (hiddenDepth > 0)
        return;
    char *key = tag->getString();
    chop_last(key);
    // A leaf outside every container is a variable of its own.
    VarForm form = depth == 0 ? variableForm(key, true) : level0Form;
    if (form == VarForm::none)
        return;
    escaped.clear();
    track(escaped.catStringEscQuote(value->getString()));
    escapedKey.clear();
    track(escapedKey.catStringEscKey(key));
    if (noMemory)
        return;
    if (depth == 0) {
        writeVariable(escapedKey.getString(), form);
    } else {
        writeVariable(levelName[0].getString(), form);
        put_index(outFile, levelIndex[0]);
        for (int32_t i = 1; i < depth; i++) {
            put_key(outFile, levelName[i].getString());
            put_index(outFile, levelIndex[i]);
        }
        put_key(outFile, escapedKey.getString());
    }
    fputs(" = \"", outFile);
    fputs(escaped.getString(), outFile);
    fputs("\";\n", outFile);
}

void arraygen::processFile(const char *path)
{
    if (inFile)
        fclose(inFile);
    inFile = fopen(path, "r");
    if (!inFile) {
        fprintf(outFile, "QV: cannot read file%s\n", path);
        return;
    }
    fputs("<?php\n", outFile);
    readPos = 0;
    readLen = 0;

    imString value, tag, lookahead;
    getTilTag(&value);
    getTag(&tag);
    while (!noMemory) {
        lookahead.clear();
        const char *t = tag.getString();
        if (strstr(t, "version") || strstr(t, "/>")) {
            // The XML declaration and self-closing elements carry nothing to write.
        } else if (t[0] == '/') {
            closeContainer();
        } else {
            getTilTag(&value);
            if (!getTag(&lookahead))
                break;
            if (lookahead.getString()[0] == '/') {
                // The leaf's closing tag is consumed here unprocessed.
                writeLeaf(&tag, &value);
            } else {
                openContainer(&tag);
                tag.clear();
                track(tag.catString(lookahead.getString()));
                continue;
            }
        }
        getTilTag(&value);
        if (!getTag(&tag))
            break;
    }
    // Even a conversion cut short leaves a file that parses.
    fputs("?>\n", outFile);
    fclose(inFile);
    inFile = nullptr;
}
