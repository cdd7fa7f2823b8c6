#ifndef NVBYTEBUFFER_H
#define NVBYTEBUFFER_H

#include <cstdint>

class NVString;

// Growable byte array with a read cursor and a write cursor. Reading runs up to the block's
// size (not the write cursor), so a buffer that grew while being written reads back its
// written bytes followed by zero bytes. A buffer either owns its block or wraps a caller's
// block; a wrapped block is never grown, replaced or freed.
// Stream operators are little-endian; texts and nested buffers carry a 32-bit length prefix.
// Nothing reports an error: reads past the end stop short, writes past a wrapped block are
// dropped, a length prefix longer than the remaining data yields an empty result.
class NVByteBuffer {
public:
    NVByteBuffer();
    explicit NVByteBuffer(unsigned long n);           // n zero bytes, owned
    NVByteBuffer(unsigned char* p, unsigned long n);  // wraps p
    ~NVByteBuffer();

    // A copy would make two owners of one block; moving hands the block over.
    NVByteBuffer(const NVByteBuffer&) = delete;
    NVByteBuffer& operator=(const NVByteBuffer&) = delete;
    NVByteBuffer(NVByteBuffer&& other) noexcept;
    NVByteBuffer& operator=(NVByteBuffer&& other) noexcept;

    void setBuffer(unsigned char* p, unsigned long n);
    unsigned char* releaseBuffer();                   // the caller delete[]s the block
    unsigned char* getBuffer() const { return mBuffer; }
    bool resize(unsigned long n);                     // fresh zero block; always false
    void resizeAndKeep(unsigned long n);
    // Room for an owned block to grow to n bytes without moving; sizes and contents stay as
    // they are. Growing within it only zero-fills the new part.
    void reserve(unsigned long n);

    unsigned long getSize() const { return mSize; }
    unsigned long getRemaining() const { return mSize - mReadPos; }
    bool eos() const { return mReadPos >= mSize; }
    void rewind() { mReadPos = mWritePos = 0; }
    void forward() { mReadPos = mWritePos = mSize; }
    void rewind(unsigned long n);
    void forward(unsigned long n);
    unsigned char peek(unsigned long offset) const;
    // Moves the read cursor on by n, at most to the end (a read without the copy).
    void skip(unsigned long n) { mReadPos += static_cast<uint32_t>(n < getRemaining() ? n : getRemaining()); }
    // Moves the write cursor on by n, at most to the end: for bytes placed straight into
    // the block through getBuffer().
    void skipWrite(unsigned long n)
    {
        const uint32_t room = mSize - mWritePos;
        mWritePos += static_cast<uint32_t>(n < room ? n : room);
    }

    NVByteBuffer& read(void* dst, unsigned long n);
    NVByteBuffer& readAndAlloc(void*& dst, unsigned long n);   // dst: new[] of n bytes
    NVByteBuffer& write(const char* src, unsigned long n) { return doWrite(src, n); }
    NVByteBuffer& write(const void* src, unsigned long n) { return doWrite(src, n); }
    NVByteBuffer& doWrite(const void* src, unsigned long n);

    // The single-byte operators sit on the codec's inner loops: the common case is inline,
    // the rest goes through read() / doWrite() with the same result.
    NVByteBuffer& operator<<(unsigned char v)
    {
        if (mBuffer != nullptr && mWritePos < mSize) {
            mBuffer[mWritePos++] = v;
            return *this;
        }
        return doWrite(&v, 1);
    }
    NVByteBuffer& operator<<(signed char v) { return *this << static_cast<unsigned char>(v); }
    NVByteBuffer& operator>>(unsigned char& v)
    {
        if (mBuffer != nullptr && mReadPos < mSize)
            v = mBuffer[mReadPos++];
        return *this;
    }
    NVByteBuffer& operator>>(signed char& v);
    NVByteBuffer& operator<<(bool v);
    NVByteBuffer& operator>>(bool& v);
    NVByteBuffer& operator<<(short v);
    NVByteBuffer& operator<<(unsigned short v);
    NVByteBuffer& operator>>(short& v);
    NVByteBuffer& operator>>(unsigned short& v);
    // The long overloads carry 32-bit values; a read sign-extends into long.
    NVByteBuffer& operator<<(long v);
    NVByteBuffer& operator<<(unsigned long v);
    NVByteBuffer& operator>>(long& v);
    NVByteBuffer& operator>>(unsigned long& v);
    NVByteBuffer& operator<<(const NVString& s);
    NVByteBuffer& operator>>(NVString& s);
    NVByteBuffer& operator<<(const NVByteBuffer& other);
    NVByteBuffer& operator>>(NVByteBuffer& other);

    // Three bytes to four characters of a 64-character alphabet; no padding or line breaks.
    void uuEncode(NVByteBuffer& src);
    void uuDecode(NVByteBuffer& src);
    unsigned char getUUCode(unsigned char v) const;     // 0 for v >= 64
    unsigned char getUUDecode(unsigned char c) const;   // 255 outside the alphabet

    // Content length of a buffer being written (what nesting into another buffer carries).
    unsigned long getWritePos() const { return mWritePos; }
    bool isWrapped() const { return mExternal; }

private:
    // Reads exactly n bytes into dst; false (cursor moved over what was there) when the data
    // ends first. The multi-byte reads leave their target unchanged in that case.
    bool readExact(void* dst, unsigned long n);
    void writeLE(uint32_t v, int bytes);
    // A 32-bit length; false when it is cut short or longer than the data that follows.
    bool readLengthPrefix(unsigned long& n);
    void freeBlock();
    NVByteBuffer copyOfBlock() const;   // an owned copy of the whole block
    void adopt(unsigned char* p, uint32_t n, bool external);

    unsigned char* mBuffer;
    uint32_t mSize;
    uint32_t mReadPos;
    uint32_t mWritePos;
    bool mExternal;
    uint32_t mCapacity;   // bytes allocated behind an owned block (at least mSize)
};

#endif
