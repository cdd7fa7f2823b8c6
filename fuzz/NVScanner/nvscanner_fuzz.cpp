// Input: one separator byte, then the line to split.
#include "nvscanner.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const char separator = static_cast<char>(data[0]);
    const std::string line(reinterpret_cast<const char*>(data) + 1, size - 1);
    const char* text = line.c_str();   // stops at the first zero byte, as callers' texts do
    const char* end = text + std::strlen(text);

    NVScanner scanner;
    NVString token;
    const char* p = text;
    while (p) {
        const char* next = scanner.scanNextToken(p, token, separator);
        // A token never holds more than the rest of the line, and the scan always advances.
        if (token.getLength() > end - p || std::strlen(token) != static_cast<size_t>(token.getLength()))
            std::abort();
        if (next && (next <= p || next > end))
            std::abort();
        p = next;
    }
    return 0;
}
