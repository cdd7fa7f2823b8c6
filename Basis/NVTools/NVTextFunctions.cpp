// Character tests and the plain character-array text functions.
#include "nvstring.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

// The tests below work on the byte value, which gives the same answers as comparing the
// signed char against the negative images of 0x81..0xA0.
static unsigned char byteOf(char c) { return static_cast<unsigned char>(c); }

bool cfIsDigit(char c)
{
    return c == 0 || (c >= '0' && c <= '9');
}

bool cfIsSpace(char c)
{
    const unsigned char b = byteOf(c);
    if ((b >= 0x09 && b <= 0x0D) || b == 0x20)
        return true;
    // High blanks: 0x81..0xA0 except 0x86, 0x91 and 0x92.
    return b >= 0x81 && b <= 0xA0 && b != 0x86 && b != 0x91 && b != 0x92;
}

bool cfIsAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool cfIsCSymbol(char c)
{
    return cfIsAlpha(c) || c == '_';
}

char cfToLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int cfStrnicmp(const char* a, const char* b, unsigned long n)
{
    if (!a)
        return b ? 1 : 0;
    if (!b)
        return -1;
    for (unsigned long k = 0; k < n; ++k) {
        // Second minus first, cut to a signed byte: the sign callers have always seen.
        const auto d = static_cast<signed char>(cfToLower(b[k]) - cfToLower(a[k]));
        if (d > 0)
            return 1;
        if (d < 0)
            return -1;
    }
    return 0;
}

int cfStricmp(const char* a, const char* b)
{
    const size_t la = std::strlen(a);
    const size_t lb = std::strlen(b);
    const int r = cfStrnicmp(a, b, la < lb ? la : lb);
    if (r != 0)
        return r;
    if (la < lb)
        return -1;
    return la > lb ? 1 : 0;
}

void nx_strcat(char* dest, const char* src)
{
    std::strcat(dest, src);
}

void nxSPrintf(char* dest, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsprintf(dest, format, args);
    va_end(args);
}
