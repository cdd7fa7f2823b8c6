#include "nvstring.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>

namespace {

std::string text(const NVString& s) { return std::string(static_cast<const char*>(s)); }

// Every public operation must leave a terminated text shorter than a block of >= 33 bytes.
void expectInvariants(const NVString& s)
{
    const char* p = s;
    ASSERT_NE(p, nullptr);
    EXPECT_GE(s.getSize(), 33);
    EXPECT_LT(s.getLength(), s.getSize());
    EXPECT_EQ(static_cast<long>(std::strlen(p)), s.getLength());
}

struct SizeCase {
    const char* name;
    std::function<void(NVString&)> build;   // turns a default string into the case
    std::string expected;
    long size;
};

const std::string k29(29, 'a'), k30(30, 'a'), k40(40, 'q');

TEST(NVStringGrowth, BlockSizesFollowThePolicy)
{
    const SizeCase cases[] = {
        {"default", [](NVString&) {}, "", 33},
        {"clear after growth", [](NVString& s) { s.setSize(500); s.assign("abc"); s.clear(); }, "", 33},
        {"assign longer", [&](NVString& s) { s.assign(k40.c_str()); }, k40, 73},
        {"assign shorter keeps block", [&](NVString& s) { s.assign(k40.c_str()); s.assign("z"); }, "z", 73},
        {"assign null", [](NVString& s) { s.assign("abc"); s.assign(static_cast<const char*>(nullptr)); }, "", 33},
        {"setSize negative", [](NVString& s) { s.setSize(-1); }, "", 33},
        {"setSize within block", [](NVString& s) { s.assign("ab"); s.setSize(33); }, "ab", 33},
        {"setSize grows", [](NVString& s) { s.assign("ab"); s.setSize(40); }, "ab", 41},
        {"append fits", [&](NVString& s) { s.assign(k29.c_str()); s += "xyz"; }, k29 + "xyz", 33},
        {"append grows", [&](NVString& s) { s.assign(k30.c_str()); s += "xyz"; }, k30 + "xyz", 36},
        {"append null", [](NVString& s) { s.assign("ab"); s += static_cast<const char*>(nullptr); }, "ab", 33},
        {"setLength pads", [](NVString& s) { s.assign("ab"); s.setLength(5); }, "ab   ", 33},
        {"setLength cuts", [](NVString& s) { s.assign("abcdef"); s.setLength(2); }, "ab", 33},
        {"setLength negative", [](NVString& s) { s.assign("ab"); s.setLength(-1); }, "", 33},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NVString s;
        c.build(s);
        EXPECT_EQ(text(s), c.expected);
        EXPECT_EQ(s.getSize(), c.size);
        expectInvariants(s);
    }
}

TEST(NVStringGrowth, ConstructorsSizeTheBlockFromTheText)
{
    struct Case {
        const char* name;
        NVString s;
        std::string expected;
        long size;
    };
    NVString big("abc");
    big.setSize(500);
    const Case cases[] = {
        {"default", NVString(), "", 33},
        {"null", NVString(static_cast<const char*>(nullptr)), "", 33},
        {"text", NVString("abc"), "abc", 36},
        {"copy follows the length, not the block", NVString(big), "abc", 36},
        {"repeat", NVString('x', 3), "xxx", 36},
        {"repeat zero", NVString('x', 0), "", 33},
        {"repeat negative", NVString('x', -1), "", 33},
        {"repeat of the zero character", NVString('\0', 5), "", 38},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text(c.s), c.expected);
        EXPECT_EQ(c.s.getSize(), c.size);
        expectInvariants(c.s);
    }
}

TEST(NVStringGrowth, SingleCharacterAppendsDoubleTheBlock)
{
    NVString s;
    for (int i = 1; i <= 300; ++i) {
        s += static_cast<char>('a' + i % 26);
        const long expected = i <= 32 ? 33 : i <= 64 ? 65 : i <= 128 ? 129 : i <= 256 ? 257 : 513;
        ASSERT_EQ(s.getSize(), expected) << "after " << i << " appends";
        ASSERT_EQ(s.getLength(), i);
    }
    s += '\0';   // appending the terminator changes nothing
    EXPECT_EQ(s.getLength(), 300);
    expectInvariants(s);
}

TEST(NVStringGrowth, HugeSizesFailWithoutChangingTheString)
{
    NVString s("keep");
    s.setSize(long(1) << 40);
    EXPECT_EQ(text(s), "keep");
    EXPECT_EQ(s.getSize(), 37);
    s.setSize(LONG_MAX);
    s.setLength(LONG_MAX);
    EXPECT_EQ(text(s), "keep");
    EXPECT_EQ(s.getSize(), 37);
    for (const long n : {long(1) << 40, LONG_MAX}) {
        const NVString huge('x', n);
        EXPECT_EQ(text(huge), "");
        expectInvariants(huge);
    }
}

// The text being copied in may live in the string's own block, also when the block grows.
TEST(NVStringAliasing, OwnTextAsSource)
{
    struct Case {
        const char* name;
        std::function<void(NVString&)> op;
        std::string expected;
    };
    const std::string k31(31, 'b');
    const Case cases[] = {
        {"append itself, block grows", [](NVString& s) { s += static_cast<const char*>(s); }, k31 + k31},
        {"append own tail, block grows", [](NVString& s) { s += static_cast<const char*>(s) + 28; }, k31 + "bbb"},
        {"append itself, fits", [](NVString& s) { s.setLength(10); s += static_cast<const char*>(s); },
         std::string(20, 'b')},
        {"assign own tail", [](NVString& s) { s.assign(static_cast<const char*>(s) + 29); }, "bb"},
        {"assign itself", [](NVString& s) { s.assign(s); }, k31},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NVString s;
        s.assign(k31.c_str());
        ASSERT_EQ(s.getSize(), 33);   // nearly full: a longer text needs a new block
        c.op(s);
        EXPECT_EQ(text(s), c.expected);
        expectInvariants(s);
    }
}

TEST(NVStringCopy, CopiesNeverShareTheBlock)
{
    NVString a("one");
    NVString b(a);
    NVString c;
    c = a;
    a.assign("two");
    EXPECT_EQ(text(b), "one");
    EXPECT_EQ(text(c), "one");
    EXPECT_NE(static_cast<const char*>(b), static_cast<const char*>(c));
}

TEST(NVStringTrim, RemovesBlanksAtBothEnds)
{
    struct Case {
        const char* in;
        const char* both;
        const char* left;
        const char* right;
    };
    const Case cases[] = {
        {" \tab\r\n", "ab", "ab\r\n", " \tab"},
        {"\xA0" "ab" "\xA0", "ab", "ab\xA0", "\xA0" "ab"},
        {"\x85\x87x\x90\x93", "x", "x\x90\x93", "\x85\x87x"},
        {"\xA1" "ab" "\x86", "\xA1" "ab" "\x86", "\xA1" "ab" "\x86", "\xA1" "ab" "\x86"},
        {"\x80\x91\x92", "\x80\x91\x92", "\x80\x91\x92", "\x80\x91\x92"},
        {"a b", "a b", "a b", "a b"},
        {" \v\f ", "", "", ""},
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        NVString both(c.in), left(c.in), right(c.in);
        EXPECT_EQ(text(both.trim()), c.both);
        EXPECT_EQ(text(left.trimLeft()), c.left);
        EXPECT_EQ(text(right.trimRight()), c.right);
        expectInvariants(both);
    }
}

TEST(NVStringCompare, OrdersByTextButEqualityIsAlwaysTrue)
{
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"b", "a", 1}, {"a", "b", -1}, {"abc", "abc", 0}, {"", "a", -1}, {"ab", "a", 1},
        {"\xE9", "a", 1},   // byte-wise as the C library orders
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(NVString(c.a).compare(NVString(c.b)), c.expected);
        EXPECT_TRUE(NVString(c.a) == NVString(c.b));
    }
    EXPECT_EQ(NVString("a").compare(NVObject()), 0);
}

TEST(NVStringPrintf, FormatsCompletelyBeforeReplacing)
{
    NVString s("hi");
    s.printf("%s!", static_cast<const char*>(s));
    EXPECT_EQ(text(s), "hi!");

    s.printf("%d-%s", 42, "x");
    EXPECT_EQ(text(s), "42-x");

    // Longer than the 2047-character work area: the whole text arrives.
    const std::string longText(5000, 'L');
    s.printf("<%s>", longText.c_str());
    EXPECT_EQ(text(s), "<" + longText + ">");
    s.printf("%s%s", static_cast<const char*>(s), "!");   // and again from its own text
    EXPECT_EQ(text(s), "<" + longText + ">!");
    expectInvariants(s);
}

TEST(NVStringStr255, CountedTextStaysInsideItsBytes)
{
    for (const long len : {0L, 3L, 253L, 254L, 255L, 256L, 300L, 4000L}) {
        SCOPED_TRACE(len);
        std::string source;
        for (long i = 0; i < len; ++i)
            source += static_cast<char>('a' + i % 26);
        unsigned char counted[256];
        std::memset(counted, 0xEE, sizeof counted);
        NVString(source.c_str()).toStr255(counted);

        const long kept = len < 255 ? len : 255;
        EXPECT_EQ(counted[0], kept);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(counted + 1), kept), source.substr(0, kept));
        for (long i = kept + 1; i < 255; ++i)
            ASSERT_EQ(counted[i], 0) << i;
        if (kept < 255) {
            EXPECT_EQ(counted[255], 0xEE);   // never written by a shorter text
        }

        NVString back("old text");
        back.asString(counted);
        EXPECT_EQ(text(back), source.substr(0, kept));
        expectInvariants(back);
    }
}

TEST(NVStringStr255, AsStringStopsAtZeroAndLeavesLengthForAppends)
{
    unsigned char counted[256] = {5, 'a', 'b', 0, 'c', 'd'};
    NVString s;
    s.asString(counted);
    EXPECT_EQ(text(s), "ab");
    s += "x";
    EXPECT_EQ(text(s), "abx");
    expectInvariants(s);
}

TEST(NVStringDirectWrite, CountLengthRestoresTheInvariants)
{
    NVString s;
    s.setSize(10);
    std::memcpy(s.getBuffer(), "hello", 6);
    s.countLength();
    EXPECT_EQ(text(s), "hello");
    std::memset(s.getBuffer(), 'z', static_cast<size_t>(s.getSize()));   // terminator overwritten
    s.countLength();
    EXPECT_EQ(s.getLength(), s.getSize() - 1);
    expectInvariants(s);
}

TEST(NVStringOwnership, SharedStringDiesWithItsLastHolder)
{
    auto* s = new NVString("shared");
    s->incReferences();
    s->incReferences();
    s->decReferences();
    EXPECT_EQ(text(*s), "shared");
    s->decReferences();   // deletes; the leak checker sees a leak otherwise
}

} // namespace
