#include "nvbytebuffer.h"
#include "xcodeclzw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Codes packed most significant bit first, the last byte zero-filled.
struct BitWriter {
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    void put(uint32_t code, int width)
    {
        acc = (acc << width) | code;
        bits += width;
        while (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>(acc >> bits));
        }
        acc &= (1u << bits) - 1;
    }
    Bytes finish()
    {
        if (bits > 0)
            out.push_back(static_cast<unsigned char>(acc << (8 - bits)));
        return out;
    }
};

// A plain restatement of the stream: a map for the dictionary, widening when the next free
// code reaches 512, 1024 and 2048, and starting over after entry 4095.
Bytes referenceEncode(const Bytes& in)
{
    BitWriter w;
    if (in.empty())
        return {};
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> dict;
    uint32_t next = 256;
    int width = 9;
    uint32_t cur = in[0];
    for (size_t i = 1; i < in.size(); ++i) {
        auto it = dict.find({cur, in[i]});
        if (it != dict.end()) {
            cur = it->second;
            continue;
        }
        w.put(cur, width);
        dict[{cur, in[i]}] = next++;
        if (next == (1u << width))
            ++width;
        if (next == 4096) {
            dict.clear();
            next = 256;
            width = 9;
        }
        cur = in[i];
    }
    w.put(cur, width);
    return w.finish();
}

void load(NVByteBuffer& b, const Bytes& bytes)
{
    b.resize(bytes.size());
    if (!bytes.empty())
        b.write(bytes.data(), bytes.size());
    b.rewind();
}

Bytes contentOf(const NVByteBuffer& b) { return Bytes(b.getBuffer(), b.getBuffer() + b.getWritePos()); }

Bytes encode(XCodecLZW& codec, const Bytes& in)
{
    NVByteBuffer src, dst;
    load(src, in);
    EXPECT_TRUE(codec.encode(src, dst));
    return contentOf(dst);
}

Bytes decode(XCodecLZW& codec, const Bytes& in)
{
    NVByteBuffer src, dst;
    load(src, in);   // exactly the encoded length: zero fill would read as more codes
    codec.decode(src, dst);
    return contentOf(dst);
}

Bytes textLike(size_t n, unsigned seed)
{
    static const char* words[] = {"the ", "device ", "firmware ", "page ", "update ", "of ", "and ",
                                  "version ", "a ", "to ", "\n", "QM7 ", "write ", "read ", "0x55 "};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < n) {
        const char* w = words[rng() % (sizeof(words) / sizeof(*words))];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

Bytes randomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<unsigned char>(rng());
    return out;
}

TEST(XCodecLZW, KnownVectors)
{
    struct Case {
        const char* name;
        Bytes plain;
        Bytes packed;
    };
    const Case cases[] = {
        {"empty", {}, {}},
        {"one byte", {0x61}, {0x30, 0x80}},
        {"run of four", {0x61, 0x61, 0x61, 0x61}, {0x30, 0xC0, 0x0C, 0x20}},
        {"two bytes", {0x00, 0xFF}, {0x00, 0x3F, 0xC0}},
    };
    XCodecLZW codec;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encode(codec, c.plain), c.packed);
        EXPECT_EQ(decode(codec, c.packed), c.plain);
    }
}

TEST(XCodecLZW, MatchesTheReferenceStreamAcrossResets)
{
    struct Case {
        const char* name;
        Bytes plain;
    };
    Bytes runs;
    for (int i = 0; i < 200000; ++i)
        runs.push_back(static_cast<unsigned char>((i / 50) % 3));
    const Case cases[] = {
        {"text-like", textLike(400000, 1)},
        {"random", randomBytes(300000, 2)},
        {"long runs", runs},
        {"all zero", Bytes(100000, 0)},
    };
    XCodecLZW codec;   // one codec for every call: nothing may carry over
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes packed = encode(codec, c.plain);
        ASSERT_EQ(packed, referenceEncode(c.plain));
        ASSERT_EQ(decode(codec, packed), c.plain);
    }
}

TEST(XCodecLZW, RoundTripsEveryLengthAroundTheWidthSwitches)
{
    // Random bytes give about one code per byte, so these lengths put the last code on both
    // sides of the widenings and the first resets.
    XCodecLZW codec;
    Bytes data = randomBytes(12000, 3);
    for (size_t n : {1u, 2u, 3u, 254u, 255u, 256u, 257u, 511u, 767u, 768u, 769u, 770u, 1791u, 1792u,
                     1793u, 3839u, 3840u, 3841u, 3842u, 7679u, 7680u, 7681u, 12000u}) {
        Bytes part(data.begin(), data.begin() + static_cast<long>(n));
        Bytes packed = encode(codec, part);
        ASSERT_EQ(packed, referenceEncode(part)) << n;
        ASSERT_EQ(decode(codec, packed), part) << n;
    }
}

TEST(XCodecLZW, DecoderFollowsTheWidthScheduleAndResets)
{
    // Code k (counting from 1) is read with 10 bits from k = 257, 11 from 769, 12 from 1793;
    // after the 3840th the dictionary starts over at 9 bits.
    auto widthOf = [](int k) { return k >= 1793 ? 12 : k >= 769 ? 11 : k >= 257 ? 10 : 9; };
    BitWriter w;
    for (int k = 1; k <= 3840; ++k)
        w.put(static_cast<uint32_t>(k % 200), widthOf(k));
    BitWriter again = w;
    Bytes expected;
    for (int k = 1; k <= 3840; ++k)
        expected.push_back(static_cast<unsigned char>(k % 200));

    XCodecLZW codec;
    w.put('A', 9);
    w.put('A', 9);
    w.put(256, 9);    // the first entry of the new dictionary: "AA"
    Bytes good = expected;
    good.insert(good.end(), {'A', 'A', 'A', 'A'});
    EXPECT_EQ(decode(codec, w.finish()), good);

    again.put(300, 9);   // a first code after the reset must be a single byte
    EXPECT_EQ(decode(codec, again.finish()), expected);
}

TEST(XCodecLZW, MalformedStreamsStopCleanly)
{
    auto codes = [](std::vector<std::pair<uint32_t, int>> list) {
        BitWriter w;
        for (auto [code, width] : list)
            w.put(code, width);
        return w.finish();
    };
    // Eight 9-bit codes fill nine bytes exactly; one more byte cannot hold a code.
    Bytes eightThenOneByte = codes({{'a', 9}, {'b', 9}, {'c', 9}, {'d', 9}, {'e', 9}, {'f', 9}, {'g', 9}, {'h', 9}});
    eightThenOneByte.push_back(0xFF);
    struct Case {
        const char* name;
        Bytes packed;
        std::string plain;
    };
    const Case cases[] = {
        {"first code 256", codes({{256, 9}, {97, 9}}), ""},
        {"first code 511", codes({{511, 9}}), ""},
        {"code past the next free", codes({{97, 9}, {98, 9}, {258, 9}, {97, 9}}), "ab"},
        {"code equal to the next free", codes({{97, 9}, {256, 9}}), "aaa"},
        {"ends inside the first code", {0x30}, ""},
        {"two codes and the zero fill", {0x30, 0x98, 0x80}, "ab"},
        {"ends inside a later code", eightThenOneByte, "abcdefgh"},
        {"zero fill read as codes", {0x30, 0x80, 0x00, 0x00}, std::string("a\0\0", 3)},
    };
    XCodecLZW codec;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out = decode(codec, c.packed);
        EXPECT_EQ(std::string(out.begin(), out.end()), c.plain);
    }
}

TEST(XCodecLZW, EncodedBufferCarriesZeroFillBehindItsContent)
{
    XCodecLZW codec;
    NVByteBuffer in, out;
    load(in, textLike(1000, 4));
    ASSERT_TRUE(codec.encode(in, out));
    EXPECT_GE(out.getSize(), out.getWritePos());
    for (unsigned long i = out.getWritePos(); i < out.getSize(); ++i)
        ASSERT_EQ(out.getBuffer()[i], 0);
}

// Decoded strings are copied into the output block ahead of its write cursor; what lies past
// the cursor must still read as the zero fill of a grown block, and a caller's block must
// get exactly the bytes that fit and nothing past them.
TEST(XCodecLZW, DecodedBufferKeepsZeroFillAndCallersBlock)
{
    XCodecLZW codec;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        Bytes plain = textLike(1000 + seed * 997, seed);   // long repeats: strings past 16 bytes
        NVByteBuffer src, out;
        load(src, encode(codec, plain));
        codec.decode(src, out);
        ASSERT_EQ(contentOf(out), plain) << seed;
        for (unsigned long i = out.getWritePos(); i < out.getSize(); ++i)
            ASSERT_EQ(out.getBuffer()[i], 0) << seed << " at " << i;
    }
    Bytes plain = textLike(5000, 3);
    Bytes block(plain.size() + 100, 0xEE);
    const size_t room = plain.size() - 7;
    NVByteBuffer src, wrapped(block.data(), room);
    load(src, encode(codec, plain));
    codec.decode(src, wrapped);
    EXPECT_EQ(wrapped.getWritePos(), room);
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + static_cast<long>(room), block.begin()));
    for (size_t i = room; i < block.size(); ++i)
        ASSERT_EQ(block[i], 0xEE) << i;
}

} // namespace
