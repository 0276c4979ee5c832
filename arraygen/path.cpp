#include "arraygen.h"

#include <cstring>

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
        chopLast(tag);
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
