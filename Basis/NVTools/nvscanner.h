#ifndef NVSCANNER_H
#define NVSCANNER_H

#include "nvstring.h"

// Splits a line into tokens at a separator chosen by the caller. Double quotes protect the
// separator, backslash escapes \" \\ \( \). Stateless: the position travels in the result.
class NVScanner {
public:
    NVScanner() {}
    virtual ~NVScanner() {}

    // Empties token and reads one token of text into it. Returns where the next token
    // starts, or null when text is null or this token ran to the end (it is the last one).
    // A quoted piece loses its first and its last character, whatever the last one is.
    const char* scanNextToken(const char* text, NVString& token, char separator);
};

#endif
