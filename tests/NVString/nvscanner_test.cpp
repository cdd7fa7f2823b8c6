#include "nvscanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs the caller's loop: every token up to and including the one whose call returned null.
std::vector<std::string> scanAll(const char* text, char separator)
{
    NVScanner scanner;
    NVString token("stale");
    std::vector<std::string> tokens;
    const char* p = text;
    do {
        p = scanner.scanNextToken(p, token, separator);
        tokens.emplace_back(static_cast<const char*>(token));
        if (tokens.size() > 100)
            break;   // a scanner that stops advancing
    } while (p);
    return tokens;
}

using Tokens = std::vector<std::string>;

TEST(NVScanner, SplitsLikeTheCallerLoopExpects)
{
    struct Case {
        const char* text;
        char separator;
        Tokens tokens;
    };
    const Case cases[] = {
        {nullptr, ',', {""}},
        {"", ',', {""}},
        {"    ", ',', {""}},
        {"a,b", ',', {"a", "b"}},
        {"a,", ',', {"a", ""}},                 // the empty remainder is a token of its own
        {"  a , b ", ',', {"a ", "b "}},        // the space before the separator stays
        {"x,,y", ',', {"x", "", "y"}},
        {"a\tb,c", ',', {"a\tb", "c"}},         // only 0x20 is skipped
        {"a,\t b", ',', {"a", "\t b"}},
        // Quotes protect separators and are stripped as first and last character.
        {"\"a,b\",c", ',', {"a,b", "c"}},
        {"\"ab\" ,c", ',', {"ab\"", "c"}},
        {"\"abc", ',', {"ab"}},
        {"\"", ',', {""}},
        {"\"\",x", ',', {"", "x"}},
        {"a\"b,c\"d", ',', {"a\"b,c\"d"}},
        // Escapes of the four escapable characters; others stay as they are.
        {"a\\\"b", ',', {"a\"b"}},
        {"a\\\\b", ',', {"a\\b"}},
        {"\\(x\\)", ',', {"(x)"}},
        {"a\\,b", ',', {"a\\", "b"}},
        {"ab\\", ',', {"ab\\"}},
        {"\\\",x", ',', {"\"", "x"}},           // an escaped quote does not start quoted mode
        {"\"a\\\"b\",c", ',', {"a\"b", "c"}},    // nor end it
        // Separator choices.
        {"one  two \"3 4\"", ' ', {"one", "two", "3 4"}},
        {"a\"b,c", '"', {"a\"b,c"}},
        {"a\\b\\c", '\\', {"a\\b\\c"}},
        {"a,b c", '\0', {"a,b c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        EXPECT_EQ(scanAll(c.text, c.separator), c.tokens);
    }
}

TEST(NVScanner, ResultPointsIntoTheCallersText)
{
    NVScanner scanner;
    NVString token;
    const char* text = "a,  b";
    EXPECT_EQ(scanner.scanNextToken(text, token, ','), text + 4);   // past the spaces
    const char* trailing = "a,";
    EXPECT_EQ(scanner.scanNextToken(trailing, token, ','), trailing + 2);
    EXPECT_EQ(scanner.scanNextToken(trailing + 2, token, ','), nullptr);
}

TEST(NVScanner, LongTokensGrowTheToken)
{
    const std::string longPiece(5000, 'w');
    const std::string line = longPiece + ",\"" + longPiece + "\"";
    EXPECT_EQ(scanAll(line.c_str(), ','), (Tokens{longPiece, longPiece}));
}

} // namespace
