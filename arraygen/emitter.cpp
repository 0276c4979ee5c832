#include "arraygen.h"

#include <cstring>

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

// Chops the tag's '>' and tells how the leaf is written; false when it is
// not written at all.
inline bool arraygen::prepareLeaf(imString *tag, VarForm *form)
{
    if (hiddenDepth > 0)
        return false;
    chopLast(tag);
    // A leaf outside every container is a variable of its own.
    *form = depth == 0 ? variableForm(tag->getString(), true) : level0Form;
    if (*form == VarForm::none)
        return false;
    if (depth > 0 && pathStale)
        buildPath();
    return !noMemory;
}

// Everything of the leaf's line before its value.
void arraygen::putLeafHead(imString *tag, VarForm form)
{
    if (depth == 0) {
        put(form == VarForm::plain ? "$" : "${\"", form == VarForm::plain ? 1 : 3);
        putEscaped(tag->getString(), tag->getLength(), EscapeTable::key);
        if (form != VarForm::plain)
            put("\"}", 2);
    } else {
        put(path.getString(), path.getLength());
        put("[\"", 2);
        putEscaped(tag->getString(), tag->getLength(), EscapeTable::key);
        put("\"]", 2);
    }
    put(" = \"", 4);
}

void arraygen::writeLeaf(imString *tag, const char *value, size_t valueLen)
{
    VarForm form;
    if (!prepareLeaf(tag, &form))
        return;
    const char *key = tag->getString();
    size_t keyLen = tag->getLength();
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
    putLeafHead(tag, form);
    putEscaped(value, valueLen, EscapeTable::value);
    put("\";\n", 3);
}

// A leaf whose text ran past its chunk: the text is escaped from its blocks.
void arraygen::writeCollectedLeaf(imString *tag)
{
    VarForm form;
    if (!prepareLeaf(tag, &form))
        return;
    putLeafHead(tag, form);
    for (const TextBlock *b = textHead; b && b->used > 0; b = b->next)
        putEscaped(b->bytes, b->used, EscapeTable::value);
    put("\";\n", 3);
}
