#ifndef NVSTRING_H
#define NVSTRING_H

#include "nvobject.h"

#include <cstdint>

// Single-character tests and case mapping. Each takes the char as a signed 8-bit value.
bool cfIsDigit(char c);     // '0'..'9', and also the zero character
bool cfIsSpace(char c);     // 0x09..0x0D, 0x20, 0x81..0x85, 0x87..0x90, 0x93..0xA0
bool cfIsAlpha(char c);     // ASCII letters only
bool cfIsCSymbol(char c);   // letters and '_' (no digits)
char cfToLower(char c);     // 'A'..'Z' to 'a'..'z', anything else unchanged

// Case-blind comparison of n characters. The sign follows b minus a (the reverse of the
// usual stricmp): cfStrnicmp("a", "b", 1) is +1. A null a sorts after a non-null b. The loop
// does not stop at a terminator, so n must not exceed either text's length.
int cfStrnicmp(const char* a, const char* b, unsigned long n);
// cfStrnicmp over the common length, then the shorter text first. Neither may be null.
int cfStricmp(const char* a, const char* b);
// strcat and an unbounded vsprintf; dest must be large enough.
void nx_strcat(char* dest, const char* src);
void nxSPrintf(char* dest, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Growable, always NUL-terminated 8-bit text. The block is never null and at least 33
// bytes; block sizes follow a fixed growth policy (getSize() shows it). Two strings never
// share a block. NVString keeps NVObject's isEqual, so == between two strings is always
// true: order and compare texts through compare(), strcmp() and stricmp().
// Allocation failure leaves the string as it was (a constructor falls back to empty).
class NVString : public NVObject {
public:
    NVString();
    NVString(const char* text);       // null gives the empty string
    NVString(char c, long n);         // n copies of c; n <= 0 gives the empty string
    NVString(const NVString& other);
    ~NVString() override;
    NVString& operator=(const NVString& other);   // assign(other)

    operator const char*() const { return mBuffer; }
    long getLength() const { return mLength; }
    long getSize() const { return mSize; }         // bytes allocated for the block
    // Writable storage of getSize() bytes. After writing into it, restore the length with
    // countLength() (or setLength()), and keep a zero byte inside the block.
    char* getBuffer() { return mBuffer; }
    void countLength();

    // Changing the text.
    void clear();
    void assign(const char* text);    // null assigns ""; text may lie inside this string
    void assign(const NVString& other);
    NVString& operator+=(char c);
    NVString& operator+=(const char* text);   // null appends nothing
    NVString& setSize(long n);        // block of at least n bytes; never shrinks
    NVString& setLength(long n);      // cut to n, or pad with spaces up to n
    NVString& trimLeft();
    NVString& trimRight();
    NVString& trim();
    // Replaces the text with the formatted result; the arguments may refer to this string.
    NVString& printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void asString(const unsigned char (&counted)[256]);   // from a counted (Str255) text
    NVString& uppercase();
    NVString& lowercase();
    // Replaces every occurrence of search, left to right; replaced text is not searched again.
    NVString& replace(const char* search, const char* replacement);
    NVString& toString(long value);
    NVString& toString(short value);
    // An int would be ambiguous between the two forms above; it is a long.
    NVString& toString(int value) { return toString(static_cast<long>(value)); }
    // Cuts the first token (delimited by any character of delimiters) off the front.
    bool getToken(const NVString& delimiters, NVString& token);

    // Reading the text.
    int32_t compare(const NVObject& other) const override;   // other must be an NVString
    // Counted form: count byte min(length, 255), then that many characters, zeros up to
    // byte 254. Byte 255 is written only by a text of 255 characters or more.
    void toStr255(unsigned char (&counted)[256]) const;
    int strcmp(const char* text) const;     // ::strcmp, not reduced to -1/0/+1
    int stricmp(const char* text) const;    // cfStricmp
    long match(const char* needle) const;   // first position, -1 if absent, 0 for ""
    // Empty when start > length or count < 1; a negative start counts as 0. out may be this.
    void substring(NVString& out, long start, long count) const;
    void left(NVString& out, long n) const;
    void right(NVString& out, long n) const;   // the whole text when n >= length
    char* copyString() const;               // new[] copy; the caller delete[]s it
    // Whole text when max is -1 or the text fits, else max characters and a terminator at
    // dest[max]. A null dest gives null; any other negative max writes nothing.
    char* copyString(char* dest, long max) const;
    // The number in the text's first 256 characters, keeping only digits, '-', '.', 'E', 'e';
    // 'M'/'m' mean mega and 'T'/'t' thousand ("1.5M" is 1500000). 0 when there is none.
    double asNumeric() const;
    int scanInt() const;   // leading "%d" integer; 0 when none, held at INT_MIN/INT_MAX
    void toHexString(NVString& out) const;  // uppercase hex, two digits a byte; out may be this

private:
    // Replaces the block with a zero-filled one of size bytes holding the n characters of
    // keep (which may lie in the old block) and its terminator. False, with the string
    // unchanged, when the size does not fit in 32 bits or the allocator refuses.
    bool takeBlock(int64_t size, const char* keep, long n);
    void initEmpty();
    void setText(const char* text, long n);   // assign of n characters

    char* mBuffer;
    int32_t mSize;
    int32_t mLength;
};

#endif
