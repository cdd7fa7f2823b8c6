#include "nvbytebuffer.h"

#include "nvstring.h"

#include <cstring>
#include <new>
#include <vector>

#include <sys/mman.h>

namespace {

constexpr uint64_t kMaxBlock = 0xFFFFFFFFu;   // sizes and cursors are 32-bit

// A zero-filled owned block, or null. Sizes beyond 32 bits are refused like a failed
// allocation, so mSize and mCapacity always fit the block.
unsigned char* allocZeroed(uint64_t n)
{
    if (n > kMaxBlock)
        return nullptr;
    return new (std::nothrow) unsigned char[n]();
}

// A large block that is grown into page by page takes a fault on each 4 KiB page; large
// pages take one per 2 MiB. Only the whole large pages inside the block are advised.
void adviseLargePages(unsigned char* p, uint64_t n)
{
    constexpr uintptr_t kLarge = uintptr_t(2) << 20;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(kLarge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

} // namespace

NVByteBuffer::NVByteBuffer()
    : mBuffer(nullptr), mSize(0), mReadPos(0), mWritePos(0), mExternal(false), mCapacity(0)
{
}

NVByteBuffer::NVByteBuffer(unsigned long n) : NVByteBuffer()
{
    mBuffer = allocZeroed(n);
    mSize = mCapacity = mBuffer ? static_cast<uint32_t>(n) : 0;
}

NVByteBuffer::NVByteBuffer(unsigned char* p, unsigned long n) : NVByteBuffer()
{
    adopt(p, static_cast<uint32_t>(n > kMaxBlock ? kMaxBlock : n), true);
}

NVByteBuffer::~NVByteBuffer() { freeBlock(); }

NVByteBuffer::NVByteBuffer(NVByteBuffer&& other) noexcept
    : mBuffer(other.mBuffer), mSize(other.mSize), mReadPos(other.mReadPos),
      mWritePos(other.mWritePos), mExternal(other.mExternal), mCapacity(other.mCapacity)
{
    other.mBuffer = nullptr;
    other.mSize = other.mReadPos = other.mWritePos = other.mCapacity = 0;
    other.mExternal = false;
}

NVByteBuffer& NVByteBuffer::operator=(NVByteBuffer&& other) noexcept
{
    if (this != &other) {
        freeBlock();
        mBuffer = other.mBuffer;
        mSize = other.mSize;
        mReadPos = other.mReadPos;
        mWritePos = other.mWritePos;
        mExternal = other.mExternal;
        mCapacity = other.mCapacity;
        other.mBuffer = nullptr;
        other.mSize = other.mReadPos = other.mWritePos = other.mCapacity = 0;
        other.mExternal = false;
    }
    return *this;
}

void NVByteBuffer::freeBlock()
{
    if (mBuffer != nullptr && !mExternal)
        delete[] mBuffer;
    mBuffer = nullptr;
    mCapacity = 0;
}

void NVByteBuffer::adopt(unsigned char* p, uint32_t n, bool external)
{
    mBuffer = p;
    mSize = mCapacity = n;
    mReadPos = mWritePos = 0;
    mExternal = external;
}

void NVByteBuffer::setBuffer(unsigned char* p, unsigned long n)
{
    freeBlock();
    adopt(p, static_cast<uint32_t>(n > kMaxBlock ? kMaxBlock : n), true);
}

unsigned char* NVByteBuffer::releaseBuffer()
{
    unsigned char* p = mBuffer;
    adopt(nullptr, 0, false);
    return p;
}

bool NVByteBuffer::resize(unsigned long n)
{
    if (mExternal)
        return false;
    freeBlock();
    unsigned char* p = allocZeroed(n);
    adopt(p, p ? static_cast<uint32_t>(n) : 0, false);
    return false;
}

void NVByteBuffer::resizeAndKeep(unsigned long n)
{
    if (mExternal)
        return;
    if (n > kMaxBlock)
        return;
    uint32_t size = static_cast<uint32_t>(n);
    if (mBuffer != nullptr && size <= mCapacity) {
        if (size > mSize)
            std::memset(mBuffer + mSize, 0, size - mSize);
        mSize = size;
    } else {
        unsigned char* p = new (std::nothrow) unsigned char[n];
        if (p == nullptr)
            return;
        // The kept bytes are copied and only the rest is zeroed: a doubling writes each byte once.
        uint32_t kept = mBuffer != nullptr ? (mSize < size ? mSize : size) : 0;
        if (kept > 0)
            std::memcpy(p, mBuffer, kept);
        std::memset(p + kept, 0, size - kept);
        freeBlock();
        mBuffer = p;
        mSize = mCapacity = size;
    }
    if (mReadPos > size)
        mReadPos = size;
    if (mWritePos > size)
        mWritePos = size;
}

void NVByteBuffer::reserve(unsigned long n)
{
    if (mExternal || n > kMaxBlock || n <= mCapacity)
        return;
    // Left uninitialised: each part is zeroed when the block grows over it, so pages that
    // are never grown into are never touched.
    unsigned char* p = new (std::nothrow) unsigned char[n];
    if (p == nullptr)
        return;
    adviseLargePages(p, n);
    if (mSize > 0)
        std::memcpy(p, mBuffer, mSize);
    freeBlock();
    mBuffer = p;
    mCapacity = static_cast<uint32_t>(n);
}

void NVByteBuffer::rewind(unsigned long n)
{
    mReadPos = n >= mReadPos ? 0 : mReadPos - static_cast<uint32_t>(n);
    mWritePos = n >= mWritePos ? 0 : mWritePos - static_cast<uint32_t>(n);
}

void NVByteBuffer::forward(unsigned long n)
{
    if (n > getRemaining()) {
        forward();
        return;
    }
    mReadPos += static_cast<uint32_t>(n);
    // The write cursor may sit anywhere; it must not pass the end of the block.
    uint64_t w = static_cast<uint64_t>(mWritePos) + n;
    mWritePos = static_cast<uint32_t>(w > mSize ? mSize : w);
}

unsigned char NVByteBuffer::peek(unsigned long offset) const
{
    if (mBuffer == nullptr || offset >= getRemaining())
        return 0;
    return mBuffer[mReadPos + offset];
}

NVByteBuffer& NVByteBuffer::read(void* dst, unsigned long n)
{
    if (dst == nullptr || mBuffer == nullptr)
        return *this;
    unsigned long avail = getRemaining();
    unsigned long k = n < avail ? n : avail;
    std::memcpy(dst, mBuffer + mReadPos, k);
    mReadPos += static_cast<uint32_t>(k);
    return *this;
}

NVByteBuffer& NVByteBuffer::readAndAlloc(void*& dst, unsigned long n)
{
    dst = new (std::nothrow) unsigned char[n];
    return read(dst, n);
}

NVByteBuffer& NVByteBuffer::doWrite(const void* src, unsigned long n)
{
    if (src == nullptr)
        return *this;
    const unsigned char* from = static_cast<const unsigned char*>(src);
    std::vector<unsigned char> own;
    uint64_t end = static_cast<uint64_t>(mWritePos) + n;
    if (end > mSize && !mExternal) {
        // Growing frees the old block; bytes taken from it must be saved first.
        if (mBuffer != nullptr && from >= mBuffer && from < mBuffer + mSize) {
            own.assign(from, from + n);
            from = own.data();
        }
        uint64_t grown = (static_cast<uint64_t>(mSize) + n) * 2;
        resizeAndKeep(grown > kMaxBlock ? kMaxBlock : grown);
    }
    if (mBuffer == nullptr)
        return *this;
    uint64_t room = mSize - mWritePos;
    uint64_t k = n < room ? n : room;
    std::memmove(mBuffer + mWritePos, from, k);
    mWritePos += static_cast<uint32_t>(k);
    return *this;
}

bool NVByteBuffer::readExact(void* dst, unsigned long n)
{
    if (mBuffer != nullptr && getRemaining() >= n) {
        read(dst, n);
        return true;
    }
    mReadPos = mSize;   // what could be read is consumed
    return false;
}

void NVByteBuffer::writeLE(uint32_t v, int bytes)
{
    unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    doWrite(b, static_cast<unsigned long>(bytes));
}

NVByteBuffer& NVByteBuffer::operator>>(signed char& v)
{
    unsigned char b = static_cast<unsigned char>(v);
    *this >> b;
    v = static_cast<signed char>(b);
    return *this;
}

NVByteBuffer& NVByteBuffer::operator<<(bool v) { return *this << static_cast<unsigned char>(v ? 1 : 0); }

NVByteBuffer& NVByteBuffer::operator>>(bool& v)
{
    unsigned char b = 0;
    if (readExact(&b, 1))
        v = b == 1;
    return *this;
}

NVByteBuffer& NVByteBuffer::operator<<(short v) { writeLE(static_cast<uint16_t>(v), 2); return *this; }
NVByteBuffer& NVByteBuffer::operator<<(unsigned short v) { writeLE(v, 2); return *this; }

NVByteBuffer& NVByteBuffer::operator>>(unsigned short& v)
{
    unsigned char b[2];
    if (readExact(b, 2))
        v = static_cast<unsigned short>(b[0] + b[1] * 256);
    return *this;
}

NVByteBuffer& NVByteBuffer::operator>>(short& v)
{
    unsigned short u = static_cast<unsigned short>(v);
    *this >> u;
    v = static_cast<short>(u);
    return *this;
}

NVByteBuffer& NVByteBuffer::operator<<(long v) { writeLE(static_cast<uint32_t>(v), 4); return *this; }
NVByteBuffer& NVByteBuffer::operator<<(unsigned long v) { writeLE(static_cast<uint32_t>(v), 4); return *this; }

NVByteBuffer& NVByteBuffer::operator>>(unsigned long& v)
{
    unsigned char b[4];
    if (readExact(b, 4))
        v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return *this;
}

NVByteBuffer& NVByteBuffer::operator>>(long& v)
{
    unsigned long u = 0;
    unsigned long before = mReadPos;
    *this >> u;
    if (mReadPos - before == 4)
        v = static_cast<int32_t>(static_cast<uint32_t>(u));
    return *this;
}

NVByteBuffer& NVByteBuffer::operator<<(const NVString& s)
{
    uint32_t n = static_cast<uint32_t>(s.getLength() + 1);   // the text and its NUL
    writeLE(n, 4);
    return doWrite(static_cast<const char*>(s), n);
}

bool NVByteBuffer::readLengthPrefix(unsigned long& n)
{
    uint32_t before = mReadPos;
    *this >> n;
    return mReadPos - before == 4 && n <= getRemaining();
}

NVByteBuffer& NVByteBuffer::operator>>(NVString& s)
{
    unsigned long n = 0;
    if (!readLengthPrefix(n)) {
        s.setLength(0);
        return *this;
    }
    s.setLength(static_cast<long>(n));
    if (s.getLength() != static_cast<long>(n)) {   // the string could not grow
        s.setLength(0);
        mReadPos += static_cast<uint32_t>(n);
        return *this;
    }
    // The block holds n characters and a terminator; bytes without a NUL stay terminated.
    read(s.getBuffer(), n);
    s.countLength();
    return *this;
}

NVByteBuffer& NVByteBuffer::operator<<(const NVByteBuffer& other)
{
    uint32_t n = other.mBuffer ? other.mWritePos : 0;
    writeLE(n, 4);
    return doWrite(other.mBuffer, n);
}

NVByteBuffer& NVByteBuffer::operator>>(NVByteBuffer& other)
{
    unsigned long n = 0;
    if (!readLengthPrefix(n)) {
        other.resize(0);
        return *this;
    }
    // Built aside first: other may be this buffer, or a wrapped block too small for n bytes.
    NVByteBuffer nested(n);
    uint32_t start = mReadPos;
    read(nested.mBuffer, nested.mSize);
    mReadPos = start + static_cast<uint32_t>(n);   // consumed even where the copy fell short
    if (other.mExternal) {
        uint32_t k = nested.mSize < other.mSize ? nested.mSize : other.mSize;
        if (k > 0)
            std::memcpy(other.mBuffer, nested.mBuffer, k);
        other.mReadPos = 0;
    } else {
        other = static_cast<NVByteBuffer&&>(nested);
    }
    other.mWritePos = other.mSize;
    return *this;
}

NVByteBuffer NVByteBuffer::copyOfBlock() const
{
    NVByteBuffer copy(mSize);
    if (copy.mSize > 0)
        std::memcpy(copy.mBuffer, mBuffer, copy.mSize);
    return copy;
}

unsigned char NVByteBuffer::getUUCode(unsigned char v) const
{
    if (v < 10)
        return static_cast<unsigned char>('0' + v);
    if (v < 36)
        return static_cast<unsigned char>('A' + v - 10);
    if (v == 36)
        return '@';
    if (v < 63)
        return static_cast<unsigned char>('a' + v - 37);
    return v == 63 ? '#' : 0;
}

unsigned char NVByteBuffer::getUUDecode(unsigned char c) const
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned char>(c - '0');
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c - 'A' + 10);
    if (c == '@')
        return 36;
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned char>(c - 'a' + 37);
    return c == '#' ? 63 : 255;
}

void NVByteBuffer::uuEncode(NVByteBuffer& src)
{
    if (&src == this) {   // the destination is emptied first; encode a private copy
        NVByteBuffer copy = copyOfBlock();
        uuEncode(copy);
        return;
    }
    resize(0);
    src.rewind();
    while (!src.eos()) {
        unsigned char b[3] = {0, 0, 0};
        unsigned long before = src.mReadPos;
        src.read(b, 3);
        unsigned long taken = src.mReadPos - before;
        uint32_t g = b[0] * 65536u + b[1] * 256u + b[2];
        unsigned char out[4] = {getUUCode((g >> 18) & 63), getUUCode((g >> 12) & 63),
                                getUUCode((g >> 6) & 63), getUUCode(g & 63)};
        for (unsigned long i = 0; i <= taken; ++i)
            *this << out[i];
    }
}

void NVByteBuffer::uuDecode(NVByteBuffer& src)
{
    if (&src == this) {
        NVByteBuffer copy = copyOfBlock();
        uuDecode(copy);
        return;
    }
    resize(0);
    src.rewind();
    while (!src.eos()) {
        unsigned char c[4] = {0, 0, 0, 0};
        src >> c[0];
        uint32_t d[4] = {getUUDecode(c[0]), 255, 255, 255};
        unsigned long count = 3;
        for (int i = 1; i < 4; ++i) {
            if (src.eos()) {
                --count;
            } else {
                src >> c[i];
                d[i] = getUUDecode(c[i]);
            }
        }
        uint32_t g = (d[0] << 18) + (d[1] << 12) + (d[2] << 6) + d[3];
        unsigned char out[3] = {static_cast<unsigned char>(g >> 16), static_cast<unsigned char>(g >> 8),
                                static_cast<unsigned char>(g)};
        for (unsigned long i = 0; i < count; ++i)
            *this << out[i];
    }
}
