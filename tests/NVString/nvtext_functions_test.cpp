#include "nvstring.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Every byte value against the character table, written out by ranges.
TEST(CharacterFunctions, AllByteValues)
{
    for (int v = 0; v < 256; ++v) {
        SCOPED_TRACE(v);
        const char c = static_cast<char>(v);
        const bool digit = v == 0 || (v >= '0' && v <= '9');
        const bool highBlank = (v >= 0x81 && v <= 0x85) || (v >= 0x87 && v <= 0x90) || (v >= 0x93 && v <= 0xA0);
        const bool space = (v >= 0x09 && v <= 0x0D) || v == 0x20 || highBlank;
        const bool alpha = (v >= 'a' && v <= 'z') || (v >= 'A' && v <= 'Z');
        const char lower = (v >= 'A' && v <= 'Z') ? static_cast<char>(v + 32) : c;
        EXPECT_EQ(cfIsDigit(c), digit);
        EXPECT_EQ(cfIsSpace(c), space);
        EXPECT_EQ(cfIsAlpha(c), alpha);
        EXPECT_EQ(cfIsCSymbol(c), alpha || v == '_');
        EXPECT_EQ(cfToLower(c), lower);
    }
}

TEST(CaseBlindCompare, StrnicmpAndStricmp)
{
    struct Case {
        const char* a;
        const char* b;
        unsigned long n;
        int strnicmp;
    };
    const Case cases[] = {
        {"a", "b", 1, 1},          // second minus first
        {"b", "a", 1, -1},
        {"ABC", "abc", 3, 0},
        {"abX", "ABy", 2, 0},      // only n characters count
        {"abX", "ABy", 3, 1},
        {nullptr, nullptr, 3, 0},
        {nullptr, "a", 1, 1},
        {"a", nullptr, 1, -1},
        {"\x01", "\x81", 1, -1},   // 0x81 - 0x01 as a signed byte is negative
        {"a", "\x9C", 1, 1},       // -100 - 97 wraps to +59
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(cfStrnicmp(c.a, c.b, c.n), c.strnicmp);
    }

    struct Full {
        const char* a;
        const char* b;
        int expected;
    };
    const Full full[] = {
        {"ABC", "abc", 0}, {"abc", "ABD", 1}, {"ab", "abc", -1}, {"abc", "ab", 1}, {"", "", 0}, {"b", "Abc", -1},
    };
    for (const auto& c : full) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(cfStricmp(c.a, c.b), c.expected);
    }
}

TEST(PlainTextFunctions, StrcatAndSPrintf)
{
    char buffer[32] = "ab";
    nx_strcat(buffer, "cd");
    EXPECT_STREQ(buffer, "abcd");
    nxSPrintf(buffer, "%s-%d", "v", 7);
    EXPECT_STREQ(buffer, "v-7");
}

} // namespace
