#include "nvscanner.h"

namespace {

bool isEscapable(char c)
{
    return c == '"' || c == '\\' || c == '(' || c == ')';
}

const char* skipSpaces(const char* p)
{
    while (*p == ' ')
        ++p;
    return p;
}

} // namespace

const char* NVScanner::scanNextToken(const char* text, NVString& token, char separator)
{
    token.setLength(0);
    if (!text)
        return nullptr;
    const char* p = skipSpaces(text);

    // Find the end of the piece: a separator outside quotes, or the end of the text.
    long i = 0;
    bool quoted = false;
    while (p[i]) {
        if (p[i] == '"') {
            quoted = !quoted;
            ++i;
        } else if (p[i] == '\\') {
            i += isEscapable(p[i + 1]) ? 2 : 1;
        } else if (quoted || p[i] != separator) {
            ++i;
        } else {
            break;
        }
    }

    token.setSize(i + 1);
    long from = 0;
    long to = i;   // one past the last position copied
    if (p[0] == '"') {
        // A quoted piece loses its first and its last character, whatever the last one is.
        from = 1;
        to = i - 1;
    }
    char* out = token.getBuffer();
    const long room = token.getSize() - 1;   // short only when the block could not grow
    long n = 0;
    for (long j = from; j < to && n < room; ++j) {
        if (p[j] == '\\' && isEscapable(p[j + 1]))
            ++j;
        out[n++] = p[j];
    }
    out[n] = 0;
    token.countLength();

    if (!p[i])
        return nullptr;
    return skipSpaces(p + i + 1);
}
