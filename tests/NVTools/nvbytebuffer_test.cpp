#include "nvbytebuffer.h"
#include "nvstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> written(const NVByteBuffer& b)
{
    return std::vector<unsigned char>(b.getBuffer(), b.getBuffer() + b.getWritePos());
}

std::vector<unsigned char> readable(NVByteBuffer& b)
{
    std::vector<unsigned char> v(b.getRemaining());
    b.read(v.data(), v.size());
    return v;
}

void fill(NVByteBuffer& b, const std::string& bytes)
{
    b.resize(bytes.size());
    b.write(bytes.data(), bytes.size());
    b.rewind();
}

TEST(NVByteBuffer, GrowthDoublesTheSumAndZeroFills)
{
    NVByteBuffer b;
    b << static_cast<unsigned char>(7);
    EXPECT_EQ(b.getSize(), 2u);
    EXPECT_EQ(b.getWritePos(), 1u);
    b.rewind();
    unsigned char x = 9, y = 9, z = 9;
    b >> x >> y;
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 0);
    EXPECT_TRUE(b.eos());
    b >> z;   // at the end the target keeps its value
    EXPECT_EQ(z, 9);

    NVByteBuffer c(4);
    c.write("ab", 2);
    c.write("12345", 5);
    EXPECT_EQ(c.getSize(), 18u);
    EXPECT_EQ(c.getWritePos(), 7u);
    EXPECT_EQ(0, std::memcmp(c.getBuffer(), "ab12345\0\0", 9));
}

TEST(NVByteBuffer, WrappedBlockIsNeverGrownOrFreed)
{
    unsigned char block[6] = {1, 1, 1, 1, 0xEE, 0xEE};
    {
        NVByteBuffer b(block, 4);
        b.write("abcdef", 6);
        EXPECT_EQ(b.getSize(), 4u);
        EXPECT_EQ(b.getWritePos(), 4u);
        EXPECT_FALSE(b.resize(100));
        EXPECT_EQ(b.getSize(), 4u);
        b.resizeAndKeep(100);
        EXPECT_EQ(b.getBuffer(), block);
    }
    EXPECT_EQ(0, std::memcmp(block, "abcd\xEE\xEE", 6));

    NVByteBuffer owned(3);
    unsigned char* p = owned.releaseBuffer();
    EXPECT_EQ(owned.getBuffer(), nullptr);
    EXPECT_EQ(owned.getSize(), 0u);
    delete[] p;
}

TEST(NVByteBuffer, ResizeAndKeepCopiesAndLowersCursors)
{
    NVByteBuffer b;
    fill(b, "abcdefgh");
    b.forward();
    b.resizeAndKeep(3);
    EXPECT_EQ(b.getSize(), 3u);
    EXPECT_EQ(b.getRemaining(), 0u);
    EXPECT_EQ(b.getWritePos(), 3u);
    b.resizeAndKeep(5);
    b.rewind();
    EXPECT_EQ(readable(b), (std::vector<unsigned char>{'a', 'b', 'c', 0, 0}));
}

// Room reserved ahead changes nothing that can be seen: the same sizes, the same zero fill,
// and bytes dropped by a shrink do not come back when the block grows over them again.
TEST(NVByteBuffer, ReservedRoomKeepsSizesAndZeroFill)
{
    NVByteBuffer plain, reserved;
    reserved.reserve(1000);
    for (int i = 0; i < 100; ++i) {
        plain << static_cast<unsigned char>(i + 1);
        reserved << static_cast<unsigned char>(i + 1);
        ASSERT_EQ(reserved.getSize(), plain.getSize()) << i;
    }
    EXPECT_EQ(readable(reserved), readable(plain));
    unsigned char* block = reserved.getBuffer();
    reserved.resizeAndKeep(3);
    reserved.resizeAndKeep(8);
    EXPECT_EQ(reserved.getBuffer(), block);   // grew in place
    reserved.rewind();
    EXPECT_EQ(readable(reserved), (std::vector<unsigned char>{1, 2, 3, 0, 0, 0, 0, 0}));
    reserved.resizeAndKeep(2000);   // past the room: a new block, kept bytes and zeros
    EXPECT_EQ(reserved.getSize(), 2000u);
    EXPECT_EQ(reserved.getBuffer()[2], 3);
    EXPECT_EQ(reserved.getBuffer()[1999], 0);
}

TEST(NVByteBuffer, CursorMovesAndPeek)
{
    NVByteBuffer b;
    fill(b, "abcdefgh");
    b.write("xyz", 3);             // write cursor 3, read cursor 0
    b.forward(2);                  // read 2, write 5
    EXPECT_EQ(b.peek(0), 'z');     // the write went over the first three bytes
    EXPECT_EQ(b.peek(b.getRemaining()), 0);
    b.rewind(4);                   // read 2 -> 0, write 5 -> 1
    EXPECT_EQ(b.getRemaining(), 8u);
    EXPECT_EQ(b.getWritePos(), 1u);
    b.forward(100);                // more than remains: to the end
    EXPECT_TRUE(b.eos());
    EXPECT_EQ(b.peek(0), 0);
}

TEST(NVByteBuffer, IntegersAreLittleEndian)
{
    NVByteBuffer b;
    b << static_cast<unsigned short>(0x1234) << static_cast<short>(-2) << 0x89ABCDEFul << -5L << true
      << false << static_cast<signed char>(-1);
    EXPECT_EQ(written(b), (std::vector<unsigned char>{0x34, 0x12, 0xFE, 0xFF, 0xEF, 0xCD, 0xAB, 0x89,
                                                      0xFB, 0xFF, 0xFF, 0xFF, 1, 0, 0xFF}));
    b.rewind();
    unsigned short us = 0;
    short s = 0;
    unsigned long ul = 0;
    long l = 0;
    bool t = false, f = true;
    signed char sc = 0;
    b >> us >> s >> ul >> l >> t >> f >> sc;
    EXPECT_EQ(us, 0x1234);
    EXPECT_EQ(s, -2);
    EXPECT_EQ(ul, 0x89ABCDEFul);
    EXPECT_EQ(l, -5L);
    EXPECT_TRUE(t);
    EXPECT_FALSE(f);
    EXPECT_EQ(sc, -1);
}

TEST(NVByteBuffer, ValueCutByTheEndLeavesTargetAndConsumesTheRest)
{
    NVByteBuffer b;
    fill(b, "\x01\x02\x03");
    unsigned long v = 77;
    b >> v;
    EXPECT_EQ(v, 77ul);
    EXPECT_TRUE(b.eos());
    NVByteBuffer two;
    fill(two, std::string("\x02", 1));
    bool flag = true;
    two >> flag;   // byte 2 is not 1
    EXPECT_FALSE(flag);
}

TEST(NVByteBuffer, StringsCarryLengthAndTerminator)
{
    NVByteBuffer b;
    b << NVString("ab");
    EXPECT_EQ(written(b), (std::vector<unsigned char>{3, 0, 0, 0, 'a', 'b', 0}));
    b.rewind();
    NVString s("old text");
    b >> s;
    EXPECT_STREQ(s, "ab");
    EXPECT_EQ(s.getLength(), 2);
    EXPECT_EQ(b.getRemaining(), b.getSize() - 7);
}

TEST(NVByteBuffer, HostileStringPrefixes)
{
    struct Case {
        const char* name;
        std::string bytes;
        const char* text;
        unsigned long consumed;
    };
    const Case cases[] = {
        {"longer than the data", std::string("\x09\x00\x00\x00" "abc", 7), "", 4},
        {"all ones", std::string("\xFF\xFF\xFF\xFF" "abc", 7), "", 4},
        {"no terminator", std::string("\x03\x00\x00\x00" "abc", 7), "abc", 7},
        {"terminator inside", std::string("\x04\x00\x00\x00" "a\0bc", 8), "a", 8},
        {"zero length", std::string("\x00\x00\x00\x00" "x", 5), "", 4},
        {"prefix cut short", std::string("\x03\x00", 2), "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NVByteBuffer b;
        fill(b, c.bytes);
        NVString s("previous");
        b >> s;
        EXPECT_STREQ(s, c.text);
        EXPECT_EQ(s.getLength(), static_cast<long>(std::strlen(c.text)));
        EXPECT_EQ(b.getSize() - b.getRemaining(), c.consumed);
    }
}

TEST(NVByteBuffer, NestedBuffersRoundTrip)
{
    NVByteBuffer inner;
    inner.write("xyz", 3);   // block of 6, content 3
    NVByteBuffer outer;
    outer << inner << 0x01020304ul;
    EXPECT_EQ(written(outer), (std::vector<unsigned char>{3, 0, 0, 0, 'x', 'y', 'z', 4, 3, 2, 1}));
    outer.rewind();
    NVByteBuffer back(50);
    unsigned long tail = 0;
    outer >> back >> tail;
    EXPECT_EQ(back.getSize(), 3u);
    EXPECT_EQ(back.getWritePos(), 3u);
    EXPECT_EQ(readable(back), (std::vector<unsigned char>{'x', 'y', 'z'}));
    EXPECT_EQ(tail, 0x01020304ul);
}

TEST(NVByteBuffer, HostileNestedPrefixes)
{
    NVByteBuffer b;
    fill(b, std::string("\x10\x00\x00\x00" "abc", 7));
    NVByteBuffer other(8);
    b >> other;
    EXPECT_EQ(other.getSize(), 0u);
    EXPECT_EQ(b.getRemaining(), 3u);

    // A wrapped target smaller than the nested data takes what fits.
    unsigned char small[2] = {0, 0};
    NVByteBuffer into(small, 2);
    NVByteBuffer src;
    fill(src, std::string("\x03\x00\x00\x00" "abc", 7));
    src >> into;
    EXPECT_EQ(0, std::memcmp(small, "ab", 2));
    EXPECT_TRUE(src.eos());

    // Reading a buffer into itself, and writing a buffer into itself.
    NVByteBuffer self;
    fill(self, std::string("\x02\x00\x00\x00" "hi", 6));
    self >> self;
    EXPECT_EQ(readable(self), (std::vector<unsigned char>{'h', 'i'}));
    NVByteBuffer grow;
    grow.write("ab", 2);
    grow << grow;
    EXPECT_EQ(written(grow), (std::vector<unsigned char>{'a', 'b', 2, 0, 0, 0, 'a', 'b'}));
}

TEST(NVByteBuffer, UUAlphabetAndKnownGroups)
{
    NVByteBuffer b;
    const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ@abcdefghijklmnopqrstuvwxyz#";
    for (unsigned v = 0; v < 64; ++v) {
        EXPECT_EQ(b.getUUCode(static_cast<unsigned char>(v)), alphabet[v]);
        EXPECT_EQ(b.getUUDecode(static_cast<unsigned char>(alphabet[v])), v);
    }
    EXPECT_EQ(b.getUUCode(64), 0);
    EXPECT_EQ(b.getUUDecode('+'), 255);

    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {{"abc", "OM9Z"}, {"a", "OG"}, {"ab", "OM8"}, {"", ""}, {"abcd", "OM9ZP0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        NVByteBuffer src;
        if (!c.bytes.empty())
            fill(src, c.bytes);
        NVByteBuffer enc;
        enc.uuEncode(src);
        EXPECT_EQ(std::string(enc.getBuffer(), enc.getBuffer() + enc.getWritePos()), c.text);
        NVByteBuffer text;
        if (!c.text.empty())
            fill(text, c.text);
        NVByteBuffer dec;
        dec.uuDecode(text);
        EXPECT_EQ(std::string(dec.getBuffer(), dec.getBuffer() + dec.getWritePos()), c.bytes);
    }
}

TEST(NVByteBuffer, UURoundTripsEveryLengthAndToleratesForeignText)
{
    std::string bytes;
    for (int i = 0; i < 300; ++i)
        bytes += static_cast<char>(i * 37 + 11);
    for (size_t n = 0; n <= bytes.size(); n += 7) {
        NVByteBuffer src;
        if (n > 0)
            fill(src, bytes.substr(0, n));
        NVByteBuffer enc, dec;
        enc.uuEncode(src);
        NVByteBuffer exact;   // the encoded characters without the zero fill behind them
        if (enc.getWritePos() > 0)
            fill(exact, std::string(enc.getBuffer(), enc.getBuffer() + enc.getWritePos()));
        dec.uuDecode(exact);
        ASSERT_EQ(std::string(dec.getBuffer(), dec.getBuffer() + dec.getWritePos()), bytes.substr(0, n));
    }
    NVByteBuffer foreign, dec;
    fill(foreign, "+-*/ \n\xFF");   // outside the alphabet: decoded as 255s, never rejected
    dec.uuDecode(foreign);
    EXPECT_EQ(dec.getWritePos(), 5u);

    NVByteBuffer same;   // encoding a buffer into itself works on a copy
    fill(same, "abc");
    same.uuEncode(same);
    EXPECT_EQ(std::string(same.getBuffer(), same.getBuffer() + same.getWritePos()), "OM9Z");
}

TEST(NVByteBuffer, MovingHandsTheBlockOver)
{
    NVByteBuffer a(4);
    unsigned char* block = a.getBuffer();
    NVByteBuffer b(std::move(a));
    EXPECT_EQ(a.getBuffer(), nullptr);
    EXPECT_EQ(b.getBuffer(), block);
    NVByteBuffer c;
    c = std::move(b);
    EXPECT_EQ(c.getBuffer(), block);
    EXPECT_EQ(c.getSize(), 4u);
}

} // namespace
