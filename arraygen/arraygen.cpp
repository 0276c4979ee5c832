#include "arraygen.h"

#include <cstring>

arraygen::arraygen()
    : inFile(nullptr), outFile(stdout), levelIndex(), readBuf(), readPos(0), readLen(0), depth(0), hiddenDepth(0),
      level0Form(VarForm::plain), pathStale(true), noMemory(false), outLen(0), outBuf()
{
}

arraygen::~arraygen()
{
    flushOut();
    if (outFile)
        fclose(outFile);
}

int arraygen::setOutputFile(const char *path)
{
    flushOut();
    if (outFile && outFile != stdout)
        fclose(outFile);
    outFile = path ? fopen(path, "w") : nullptr;
    if (outFile) {
        // Output is collected in outBuf; a second copy through stdio's buffer
        // would only cost time.
        setvbuf(outFile, nullptr, _IONBF, 0);
        return 1;
    }
    outFile = stdout;
    return 0;
}

bool arraygen::outputFailed()
{
    flushOut();
    return fflush(outFile) != 0 || ferror(outFile);
}

void arraygen::flushOut()
{
    if (outLen > 0 && outFile)
        fwrite(outBuf, 1, outLen, outFile);
    outLen = 0;
}

void arraygen::put(const char *s, size_t n)
{
    while (n > outSize - outLen) {
        size_t room = outSize - outLen;
        memcpy(outBuf + outLen, s, room);
        outLen = outSize;
        flushOut();
        s += room;
        n -= room;
    }
    memcpy(outBuf + outLen, s, n);
    outLen += n;
}

// Copies a literal without its NUL; returns the end.
template <size_t N>
static char *copy_text(char *out, const char (&text)[N])
{
    for (size_t i = 0; i + 1 < N; i++)
        out[i] = text[i];
    return out + N - 1;
}

// Writes s escaped to out, which has room for twice its length; returns the
// end. Branch-free: a backslash is always stored and kept only when needed.
static char *escape_to(char *out, const char *s, size_t n, unsigned char kind)
{
    for (const char *end = s + n; s < end; s++) {
        unsigned char c = static_cast<unsigned char>(*s);
        *out = '\\';
        out += (escapeTable.of[c] & kind) != 0;
        *out++ = static_cast<char>(c);
    }
    return out;
}

void arraygen::putEscaped(const char *s, size_t n, unsigned char kind)
{
    while (n > 0) {
        size_t take = (outSize - outLen) / 2;
        if (take == 0) {
            flushOut();
            continue;
        }
        if (take > n)
            take = n;
        outLen = static_cast<size_t>(escape_to(outBuf + outLen, s, take, kind) - outBuf);
        s += take;
        n -= take;
    }
}

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

// Reads up to the next delim and appends what it passed (with the delim when
// keepDelim) to out, or drops it when out is null. 1 when delim was found.
int arraygen::scanTo(char delim, imString *out, bool keepDelim)
{
    for (;;) {
        if (readPos >= readLen && !refill())
            return 0;
        char *p = readBuf + readPos;
        size_t left = static_cast<size_t>(readLen - readPos);
        const char *hit = find_byte(p, p + left, delim);
        if (!hit) {
            if (out)
                track(out->catBytes(p, left));
            readPos = readLen;
            continue;
        }
        size_t n = static_cast<size_t>(hit - p);
        if (out)
            track(out->catBytes(p, keepDelim ? n + 1 : n));
        readPos += static_cast<int32_t>(n + 1);
        return 1;
    }
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

// Drops a tag's closing '>'.
static void chop_last(imString *tag)
{
    size_t len = tag->getLength();
    if (len)
        tag->shorten(len - 1);
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

// Writes the decimal digits of a non-negative index ending at end; returns
// where they start.
static char *format_index(char *end, int32_t index)
{
    char *p = end;
    do {
        *--p = static_cast<char>('0' + index % 10);
        index /= 10;
    } while (index > 0);
    return p;
}

bool arraygen::buildPath()
{
    path.clear();
    int rc = 0;
    char digits[16];
    char *digitsEnd = digits + sizeof digits - 1;
    *digitsEnd = ']';
    for (int32_t i = 0; i < depth; i++) {
        // Level 0 is the variable, "$name" or "${"name"}"; deeper levels are keys.
        const bool plain = level0Form == VarForm::plain;
        const char *open = i > 0 ? "[\"" : plain ? "$" : "${\"";
        const char *close = i > 0 ? "\"][" : plain ? "[" : "\"}[";
        imString &name = levelName[i];
        rc |= path.catString(open);
        rc |= path.catBytes(name.getString(), name.getLength());
        rc |= path.catString(close);
        char *p = format_index(digitsEnd, levelIndex[i]);
        rc |= path.catBytes(p, static_cast<size_t>(digitsEnd + 1 - p));
    }
    track(rc);
    pathStale = rc != 0;
    return rc == 0;
}

void arraygen::openContainer(imString *tag)
{
    if (hiddenDepth > 0 || depth >= maxLevels) {
        hiddenDepth++;
        return;
    }
    if (levelIndex[depth] == 0) {
        chop_last(tag);
        char *name = tag->getString();
        if (depth == 0)
            level0Form = variableForm(name, false);
        levelName[depth].clear();
        track(levelName[depth].catStringEscKey(name));
    }
    depth++;
    pathStale = true;
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
    pathStale = true;
}

void arraygen::writeLeaf(imString *tag, const char *value, size_t valueLen)
{
    if (hiddenDepth > 0)
        return;
    chop_last(tag);
    const char *key = tag->getString();
    size_t keyLen = tag->getLength();
    // A leaf outside every container is a variable of its own.
    VarForm form = depth == 0 ? variableForm(key, true) : level0Form;
    if (form == VarForm::none)
        return;
    if (depth > 0 && pathStale)
        buildPath();
    if (noMemory)
        return;
    size_t head = depth > 0 ? path.getLength() : 0;
    size_t room = outSize - outLen;
    // Escaping at most doubles the key and the value (compared so that a
    // 32-bit size cannot wrap).
    if (head + 16 <= room && keyLen + valueLen <= (room - head - 16) / 2) {
        char *out = outBuf + outLen;
        if (depth > 0) {
            memcpy(out, path.getString(), head);
            out = escape_to(copy_text(out + head, "[\""), key, keyLen, EscapeTable::key);
            out = copy_text(out, "\"] = \"");
        } else if (form == VarForm::plain) {
            out = escape_to(copy_text(out, "$"), key, keyLen, EscapeTable::key);
            out = copy_text(out, " = \"");
        } else {
            out = escape_to(copy_text(out, "${\""), key, keyLen, EscapeTable::key);
            out = copy_text(out, "\"} = \"");
        }
        out = copy_text(escape_to(out, value, valueLen, EscapeTable::value), "\";\n");
        outLen = static_cast<size_t>(out - outBuf);
        return;
    }
    if (depth == 0) {
        put(form == VarForm::plain ? "$" : "${\"", form == VarForm::plain ? 1 : 3);
        putEscaped(key, keyLen, EscapeTable::key);
        if (form != VarForm::plain)
            put("\"}", 2);
    } else {
        put(path.getString(), head);
        put("[\"", 2);
        putEscaped(key, keyLen, EscapeTable::key);
        put("\"]", 2);
    }
    put(" = \"", 4);
    putEscaped(value, valueLen, EscapeTable::value);
    put("\";\n", 3);
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
    imString value, tagString, lookaheadString;
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
            getTilTag(&value);
            if (!getTag(lookahead))
                break;
            if (lookahead->getString()[0] == '/') {
                // The leaf's closing tag is consumed here unprocessed.
                writeLeaf(tag, value.getString(), value.getLength());
            } else {
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
}
