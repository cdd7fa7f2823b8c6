// NVString: representation, growth and the core text operations.
#include "nvstring.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

namespace {

// A block holds the text, its terminator and this many spare bytes when it is made to fit.
constexpr int64_t kSpare = 32;
constexpr int64_t kEmptySize = 1 + kSpare;
constexpr size_t kWorkArea = 2048;   // printf's first try; longer results get a heap area

constexpr int64_t kMaxBlock = std::numeric_limits<int32_t>::max();

// Block size for n characters plus extra bytes; beyond 32 bits it is a size no block can
// have, so the request fails in takeBlock instead of overflowing here.
int64_t blockFor(long n, int64_t extra)
{
    return n > kMaxBlock ? std::numeric_limits<int64_t>::max() : int64_t(n) + extra;
}

bool liesIn(const char* p, const char* block, int32_t size)
{
    const std::less_equal<const char*> le;
    return le(block, p) && !le(block + size, p);
}

} // namespace

bool NVString::takeBlock(int64_t size, const char* keep, long n)
{
    if (size > kMaxBlock || size <= n)
        return false;
    char* block = new (std::nothrow) char[static_cast<size_t>(size)];
    if (!block)
        return false;
    std::memset(block, 0, static_cast<size_t>(size));
    if (n > 0)
        std::memcpy(block, keep, static_cast<size_t>(n));
    delete[] mBuffer;
    mBuffer = block;
    mSize = static_cast<int32_t>(size);
    mLength = static_cast<int32_t>(n);
    return true;
}

void NVString::initEmpty()
{
    mBuffer = new char[kEmptySize]();
    mSize = kEmptySize;
    mLength = 0;
}

NVString::NVString() : mBuffer(nullptr), mSize(0), mLength(0)
{
    initEmpty();
}

NVString::NVString(const char* text) : mBuffer(nullptr), mSize(0), mLength(0)
{
    const long n = text ? static_cast<long>(std::strlen(text)) : 0;
    if (!text || !takeBlock(blockFor(n, kSpare + 1), text, n))
        initEmpty();
}

NVString::NVString(char c, long n) : mBuffer(nullptr), mSize(0), mLength(0)
{
    if (n <= 0 || !takeBlock(blockFor(n, kSpare + 1), nullptr, 0)) {
        initEmpty();
        return;
    }
    std::memset(mBuffer, c, static_cast<size_t>(mSize));
    mBuffer[n] = 0;
    countLength();   // a c of 0 leaves an empty text in the large block
}

NVString::NVString(const NVString& other) : NVObject(other), mBuffer(nullptr), mSize(0), mLength(0)
{
    if (!takeBlock(blockFor(other.mLength, kSpare + 1), other.mBuffer, other.mLength))
        initEmpty();
}

NVString::~NVString()
{
    delete[] mBuffer;
}

NVString& NVString::operator=(const NVString& other)
{
    assign(other);
    return *this;
}

void NVString::countLength()
{
    mLength = static_cast<int32_t>(::strnlen(mBuffer, static_cast<size_t>(mSize) - 1));
    mBuffer[mLength] = 0;   // a block written to its end keeps its terminator
}

void NVString::clear()
{
    if (!takeBlock(kEmptySize, nullptr, 0)) {
        mBuffer[0] = 0;
        mLength = 0;
    }
}

void NVString::setText(const char* text, long n)
{
    if (n + 1 > mSize) {
        takeBlock(blockFor(n, kSpare + 1), text, n);
        return;
    }
    std::memmove(mBuffer, text, static_cast<size_t>(n));   // text may be our own tail
    mBuffer[n] = 0;
    mLength = static_cast<int32_t>(n);
}

void NVString::assign(const char* text)
{
    if (!text)
        text = "";
    setText(text, static_cast<long>(std::strlen(text)));
}

void NVString::assign(const NVString& other)
{
    setText(other.mBuffer, other.mLength);
}

NVString& NVString::operator+=(char c)
{
    if (c == 0)
        return *this;   // the terminator is already there
    if (mSize <= mLength + 1)
        setSize(2 * long(mLength));
    if (mSize <= mLength + 1)
        return *this;   // no room could be had
    mBuffer[mLength++] = c;
    mBuffer[mLength] = 0;
    return *this;
}

NVString& NVString::operator+=(const char* text)
{
    if (!text)
        return *this;
    const long k = static_cast<long>(std::strlen(text));
    if (mLength + k >= mSize) {
        if (liesIn(text, mBuffer, mSize)) {
            // Growing frees the block that holds the text: append a copy of it instead.
            const NVString copy(text);
            if (copy.mLength == k)
                *this += copy.mBuffer;
            return *this;
        }
        setSize(mLength + k + 2);
        if (mLength + k >= mSize)
            return *this;
    }
    std::memmove(mBuffer + mLength, text, static_cast<size_t>(k) + 1);
    countLength();
    return *this;
}

NVString& NVString::setSize(long n)
{
    if (n < 0)
        n = 0;
    if (n > mSize)
        takeBlock(blockFor(n, 1), mBuffer, mLength);
    countLength();
    return *this;
}

NVString& NVString::setLength(long n)
{
    if (n < 0)
        n = 0;
    if (n >= kMaxBlock)
        return *this;   // no block can hold it: fail before padding toward it
    if (n <= mLength) {
        mBuffer[n] = 0;
        mLength = static_cast<int32_t>(n);
        return *this;
    }
    while (mLength < n) {
        const int32_t before = mLength;
        *this += ' ';
        if (mLength == before)
            break;   // out of memory: stop short rather than spin
    }
    return *this;
}

NVString& NVString::trimLeft()
{
    long i = 0;
    while (cfIsSpace(mBuffer[i]))
        ++i;
    if (i > 0) {
        const NVString rest(mBuffer + i);
        assign(rest);
    }
    return *this;
}

NVString& NVString::trimRight()
{
    long i = mLength - 1;
    while (i >= 0 && cfIsSpace(mBuffer[i]))
        --i;
    return setLength(i + 1);
}

NVString& NVString::trim()
{
    trimLeft();
    return trimRight();
}

NVString& NVString::printf(const char* format, ...)
{
    // Format completely before touching the text: the arguments may point into it.
    char work[kWorkArea];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(work, sizeof work, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return *this;
    }
    if (static_cast<size_t>(needed) < sizeof work) {
        va_end(again);
        setLength(0);
        return *this += work;
    }
    char* large = new (std::nothrow) char[static_cast<size_t>(needed) + 1];
    if (large)
        std::vsnprintf(large, static_cast<size_t>(needed) + 1, format, again);
    va_end(again);
    if (!large)
        return *this;
    setLength(0);
    *this += large;
    delete[] large;
    return *this;
}

void NVString::asString(const unsigned char (&counted)[256])
{
    setLength(256);
    int n = counted[0];
    if (n > mSize - 1)
        n = mSize - 1;   // only when the room could not be had
    int taken = 0;
    while (taken < n && counted[taken + 1] != 0) {
        mBuffer[taken] = static_cast<char>(counted[taken + 1]);
        ++taken;
    }
    mBuffer[taken] = 0;
    mLength = taken;
}

void NVString::toStr255(unsigned char (&counted)[256]) const
{
    // A counted text of up to 255 characters: the count byte always matches the characters
    // that follow. Byte 255 is written only by a text that fills it.
    std::memset(counted, 0, 255);
    const int32_t n = mLength <= 255 ? mLength : 255;
    counted[0] = static_cast<unsigned char>(n);
    std::memcpy(counted + 1, mBuffer, static_cast<size_t>(n));
}

int32_t NVString::compare(const NVObject& other) const
{
    // Only strings have a text to order by; any other object compares as the base does.
    const auto* text = dynamic_cast<const NVString*>(&other);
    if (!text || !mBuffer || !text->mBuffer)
        return 0;
    const int r = ::strcmp(mBuffer, text->mBuffer);
    return (r > 0) - (r < 0);
}
