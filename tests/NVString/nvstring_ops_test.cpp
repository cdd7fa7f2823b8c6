#include "nvstring.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string text(const NVString& s) { return std::string(static_cast<const char*>(s)); }

TEST(NVStringReplace, ReplacesLeftToRightWithoutRescanning)
{
    struct Case {
        const char* in;
        const char* search;
        const char* replacement;
        const char* expected;
    };
    const Case cases[] = {
        {"aaa", "aa", "b", "ba"},
        {"ab", "ab", "abab", "abab"},          // the replacement is not searched again
        {"a.b.c", ".", "", "abc"},
        {"abc", "", "x", "abc"},
        {"", "a", "x", ""},
        {"xyz", "q", "r", "xyz"},
        {"one two two", "two", "three", "one three three"},
        {"aXbXc", "X", "<long replacement>", "a<long replacement>b<long replacement>c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.in) + " / " + c.search);
        NVString s(c.in);
        EXPECT_EQ(text(s.replace(c.search, c.replacement)), c.expected);
    }
}

TEST(NVStringReplace, ArgumentsMayPointIntoTheString)
{
    NVString s("abcabc");
    s.replace(static_cast<const char*>(s) + 3, static_cast<const char*>(s) + 4);   // "abc" -> "bc"
    EXPECT_EQ(text(s), "bcbc");
}

TEST(NVStringGetToken, CutsTokensOffTheFront)
{
    struct Step {
        bool ok;
        const char* token;
        const char* rest;
    };
    struct Case {
        const char* in;
        const char* delimiters;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"a,,b", ",", {{true, "a", ",b"}, {true, "b", ""}, {false, "", ""}}},
        {",ab", ",", {{true, "ab", ""}}},
        {"   ", " ", {{false, "", "   "}}},
        {"", ",", {{false, "", ""}}},
        {"ab", ",", {{true, "ab", ""}}},
        {"k=v;x", "=;", {{true, "k", "v;x"}, {true, "v", "x"}, {true, "x", ""}}},
        {"a, b", ", ", {{true, "a", " b"}, {true, "b", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        NVString s(c.in);
        NVString token("stale");
        for (const auto& step : c.steps) {
            EXPECT_EQ(s.getToken(NVString(c.delimiters), token), step.ok);
            EXPECT_EQ(text(token), step.token);
            EXPECT_EQ(text(s), step.rest);
        }
    }
}

TEST(NVStringSearch, MatchAndComparisons)
{
    const NVString s("hello world");
    EXPECT_EQ(s.match("world"), 6);
    EXPECT_EQ(s.match("hello"), 0);
    EXPECT_EQ(s.match(""), 0);
    EXPECT_EQ(s.match("absent"), -1);

    EXPECT_EQ(s.strcmp("hello world"), 0);
    for (const std::string other : {"hello", "zz", "hello worle"}) {
        SCOPED_TRACE(other);   // the C library's own value, not reduced to -1/0/+1
        EXPECT_EQ(s.strcmp(other.c_str()), std::strcmp(static_cast<const char*>(s), other.c_str()));
    }
    EXPECT_EQ(NVString("ABC").stricmp("abc"), 0);
    EXPECT_EQ(NVString("abc").stricmp("ABD"), 1);   // reversed character sign
    EXPECT_EQ(NVString("ab").stricmp("abc"), -1);
}

TEST(NVStringCut, SubstringLeftRight)
{
    struct Case {
        const char* name;
        void (*op)(const NVString&, NVString&);
        const char* expected;
    };
    const Case cases[] = {
        {"substring(1,1)", [](const NVString& s, NVString& o) { s.substring(o, 1, 1); }, "b"},
        {"substring(1,100)", [](const NVString& s, NVString& o) { s.substring(o, 1, 100); }, "bc"},
        {"substring(3,1)", [](const NVString& s, NVString& o) { s.substring(o, 3, 1); }, ""},
        {"substring(4,1)", [](const NVString& s, NVString& o) { s.substring(o, 4, 1); }, ""},
        {"substring(0,0)", [](const NVString& s, NVString& o) { s.substring(o, 0, 0); }, ""},
        {"substring(-2,2)", [](const NVString& s, NVString& o) { s.substring(o, -2, 2); }, "ab"},
        {"left(2)", [](const NVString& s, NVString& o) { s.left(o, 2); }, "ab"},
        {"left(0)", [](const NVString& s, NVString& o) { s.left(o, 0); }, ""},
        {"right(0)", [](const NVString& s, NVString& o) { s.right(o, 0); }, ""},
        {"right(-1)", [](const NVString& s, NVString& o) { s.right(o, -1); }, ""},
        {"right(2)", [](const NVString& s, NVString& o) { s.right(o, 2); }, "bc"},
        {"right(100)", [](const NVString& s, NVString& o) { s.right(o, 100); }, "abc"},
    };
    const NVString abc("abc");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NVString out("previous");
        c.op(abc, out);
        EXPECT_EQ(text(out), c.expected);
    }
    NVString self("abcdef");
    self.substring(self, 2, 3);   // out may be the source itself
    EXPECT_EQ(text(self), "cde");
}

TEST(NVStringCopyOut, CopyStringForms)
{
    const NVString s("abcdef");
    char* heap = s.copyString();
    EXPECT_STREQ(heap, "abcdef");
    delete[] heap;

    struct Case {
        long max;
        const char* expected;
    };
    const Case cases[] = {{-1, "abcdef"}, {6, "abcdef"}, {100, "abcdef"}, {3, "abc"}, {0, ""}, {-5, "untouched"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.max);
        char dest[16] = "untouched";
        EXPECT_EQ(s.copyString(dest, c.max), dest);
        EXPECT_STREQ(dest, c.expected);
    }
    EXPECT_EQ(s.copyString(nullptr, 3), nullptr);
}

TEST(NVStringNumbers, AsNumeric)
{
    struct Case {
        const char* in;
        double expected;
    };
    const Case cases[] = {
        {"1.5M", 1500000}, {"2t", 2000}, {"1,200", 1200}, {"12 dBm", 12000000}, {"5k", 5},
        {"+7", 7},         {"-4.7e-3", -0.0047}, {"abc", 0}, {"", 0},       {"3T", 3000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_DOUBLE_EQ(NVString(c.in).asNumeric(), c.expected);
    }
}

TEST(NVStringNumbers, AsNumericStopsAtTheWorkTextsEnd)
{
    // Every 'm' doubles in the work text: its 255 characters fill long before 256 are visited.
    const std::string mega = "1" + std::string(400, 'm');
    EXPECT_DOUBLE_EQ(NVString(mega.c_str()).asNumeric(), 1e6);
    const std::string digits = std::string(300, '0') + "9";   // the 9 lies beyond the 256 visited
    EXPECT_DOUBLE_EQ(NVString(digits.c_str()).asNumeric(), 0);
    const std::string odd = std::string(254, '0') + "m";   // no room left for both of "E6"
    EXPECT_DOUBLE_EQ(NVString(odd.c_str()).asNumeric(), 0);
}

TEST(NVStringNumbers, ScanIntAndToString)
{
    struct Case {
        const char* in;
        int expected;
    };
    const Case cases[] = {
        {"  42abc", 42}, {"-17", -17}, {"+5", 5}, {"abc", 0}, {"", 0}, {"\t\n8", 8},
        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(NVString(c.in).scanInt(), c.expected);
    }

    NVString s;
    EXPECT_EQ(text(s.toString(static_cast<long>(-1234567))), "-1234567");
    EXPECT_EQ(text(s.toString(static_cast<short>(-32768))), "-32768");
    EXPECT_EQ(text(s.toString(static_cast<short>(0xFFFF))), "-1");   // shorts are signed
    EXPECT_EQ(text(s.toString(42)), "42");
}

TEST(NVStringConvert, CaseAndHex)
{
    NVString s("aB1\xE9z");
    EXPECT_EQ(text(s.uppercase()), "AB1\xE9Z");
    EXPECT_EQ(text(s.lowercase()), "ab1\xE9z");

    struct Case {
        const char* in;
        const char* hex;
    };
    const Case cases[] = {{"A1", "4131"}, {"\xE9", "E9"}, {"", ""}, {"\x01\x7F\x80\xFF", "017F80FF"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        NVString out("previous");
        NVString(c.in).toHexString(out);
        EXPECT_EQ(text(out), c.hex);
    }
    const std::string longText(100, 'Z');
    NVString big(longText.c_str()), out;
    big.toHexString(out);
    EXPECT_EQ(out.getLength(), 200);
    big.toHexString(big);   // the source itself as output still gives the whole form
    EXPECT_EQ(text(big), text(out));
}

} // namespace
