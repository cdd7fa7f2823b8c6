// NVString: searching, cutting, replacing, tokenising, number conversions and copying out.
#include "nvstring.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

NVString& NVString::uppercase()
{
    for (int32_t i = 0; i < mLength; ++i)
        mBuffer[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(mBuffer[i])));
    return *this;
}

NVString& NVString::lowercase()
{
    for (int32_t i = 0; i < mLength; ++i)
        mBuffer[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(mBuffer[i])));
    return *this;
}

NVString& NVString::replace(const char* search, const char* replacement)
{
    if (!search || !*search || mLength == 0)
        return *this;
    // Own copies: either text may point into this string, which changes below.
    const NVString what(search);
    const NVString with(replacement);
    const char* found = std::strstr(mBuffer, what.mBuffer);
    while (found) {
        const long pos = found - mBuffer;
        const NVString before(*this);
        setLength(pos);
        *this += with.mBuffer;
        *this += before.mBuffer + pos + what.mLength;
        // Replaced text is never searched again, so a replacement holding search cannot loop.
        found = std::strstr(mBuffer + pos + with.mLength, what.mBuffer);
    }
    return *this;
}

NVString& NVString::toString(long value)
{
    return printf("%ld", value);
}

NVString& NVString::toString(short value)
{
    return printf("%d", static_cast<int>(value));
}

bool NVString::getToken(const NVString& delimiters, NVString& token)
{
    const NVString work(*this);
    const char* delims = delimiters.mBuffer;
    long start = 0;
    while (work.mBuffer[start] && std::strchr(delims, work.mBuffer[start]))
        ++start;
    const long n = static_cast<long>(std::strcspn(work.mBuffer + start, delims));
    if (n == 0) {
        token.setLength(0);
        return false;
    }
    token.setText(work.mBuffer + start, n);
    if (n == work.mLength) {
        setLength(0);
        return true;
    }
    long rest = start + n;
    if (work.mBuffer[rest])
        ++rest;   // the one delimiter that ended the token goes with it
    assign(work.mBuffer + rest);
    return true;
}

int NVString::strcmp(const char* text) const
{
    return ::strcmp(mBuffer, text);
}

int NVString::stricmp(const char* text) const
{
    return cfStricmp(mBuffer, text);
}

long NVString::match(const char* needle) const
{
    const char* found = std::strstr(mBuffer, needle);
    return found ? found - mBuffer : -1;
}

void NVString::substring(NVString& out, long start, long count) const
{
    if (start < 0)
        start = 0;   // a negative start counts from the beginning
    if (start > mLength || count < 1) {
        out.setLength(0);
        return;
    }
    const long available = mLength - start;
    out.setText(mBuffer + start, count < available ? count : available);
}

void NVString::left(NVString& out, long n) const
{
    substring(out, 0, n);
}

void NVString::right(NVString& out, long n) const
{
    if (n >= mLength)
        out.assign(*this);
    else
        substring(out, mLength - n, n);
}

char* NVString::copyString() const
{
    char* copy = new (std::nothrow) char[static_cast<size_t>(mLength) + 1];
    if (copy)
        std::memcpy(copy, mBuffer, static_cast<size_t>(mLength) + 1);
    return copy;
}

char* NVString::copyString(char* dest, long max) const
{
    if (!dest)
        return nullptr;
    if (max == -1 || mLength <= max) {
        std::memcpy(dest, mBuffer, static_cast<size_t>(mLength) + 1);
    } else if (max >= 0) {
        std::memcpy(dest, mBuffer, static_cast<size_t>(max));
        dest[max] = 0;
    }
    // Any other negative max names no room at all: nothing is written.
    return dest;
}

double NVString::asNumeric() const
{
    char work[256] = {};
    const size_t room = sizeof work - 1;   // the last byte stays the terminator
    size_t used = 0;
    const long visit = mLength < 256 ? mLength : 256;
    for (long i = 0; i < visit; ++i) {
        const char c = mBuffer[i];
        const char* put = nullptr;
        char single[2] = {c, 0};
        if ((c >= '0' && c <= '9') || c == '-' || c == '.' || c == 'E' || c == 'e')
            put = single;
        else if (c == 'M' || c == 'm')
            put = "E6";
        else if (c == 'T' || c == 't')
            put = "E3";
        if (!put)
            continue;
        const size_t len = std::strlen(put);
        if (used + len > room)
            break;   // the work text is full: convert what it holds
        std::memcpy(work + used, put, len);
        used += len;
    }
    return std::atof(work);
}

int NVString::scanInt() const
{
    // The "%d" reading, with a value beyond int's range held at its end.
    char* end = nullptr;
    const long value = std::strtol(mBuffer, &end, 10);
    if (end == mBuffer)
        return 0;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

void NVString::toHexString(NVString& out) const
{
    static const char kDigits[] = "0123456789ABCDEF";
    NVString hex;   // built aside, so out may even be this string
    hex.setSize(2 * long(mLength));
    if (hex.mSize <= 2 * long(mLength)) {
        out.setLength(0);   // no room could be had for the hexadecimal form
        return;
    }
    for (int32_t i = 0; i < mLength; ++i) {
        const auto b = static_cast<unsigned char>(mBuffer[i]);
        hex.mBuffer[2 * i] = kDigits[b >> 4];
        hex.mBuffer[2 * i + 1] = kDigits[b & 0x0F];
    }
    hex.countLength();
    out.assign(hex);
}
