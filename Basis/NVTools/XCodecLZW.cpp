#include "xcodeclzw.h"

#include "nvbytebuffer.h"

#include <cstring>
#include <new>

namespace {

// The child index holds at most 4096 - 256 links; twice that keeps probe runs short.
constexpr uint32_t kIndexSize = 8192;
constexpr uint32_t kIndexMask = kIndexSize - 1;
constexpr uint32_t kNoCode = 0xFFFFFFFFu;   // readCodeLR: the input ended inside a code

// A slot packs (parent << 8 | byte) + 1 above the 12-bit child code; 0 is an empty slot.
// A parent is at most 4094 (the dictionary starts over as soon as 4095 is added), so the
// key fits in the upper 20 bits.
inline uint32_t indexKey(uint32_t parent, uint32_t c) { return ((parent << 8) | c) + 1; }
inline uint32_t indexSlot(uint32_t key) { return (key * 2654435761u) >> 19; }

} // namespace

XCodecLZW::XCodecLZW()
    : mEncNextCode(0), mEncCodeAcc(0), mEncCodeBits(0), mEncInAcc(0), mEncInBits(0),
      mEncStartWidth(9), mEncWidth(9), mEncLiteralCount(256), mEncMaxLiteral(255), mEncTable(nullptr),
      mDecNextCode(0), mDecOutAcc(0), mDecCodeAcc(0), mDecOutBits(0), mDecCodeBits(0),
      mDecStartWidth(9), mDecWidth(9), mDecLiteralCount(256), mDecMaxLiteral(255), mDecTable(nullptr),
      mEncNodes(nullptr), mDecEntries(nullptr), mEncChildIndex(nullptr), mEncLastChild(nullptr)
{
}

XCodecLZW::~XCodecLZW()
{
    removeDictionaryEncode();
    removeDictionaryDecode();
    delete[] mEncTable;
    delete[] mDecTable;
}

// ---- Encoder ----------------------------------------------------------------------------

bool XCodecLZW::initDictionary_1_Encode()
{
    mEncStartWidth = 9;
    mEncLiteralCount = 1u << (mEncStartWidth - 1);
    mEncMaxLiteral = mEncLiteralCount - 1;
    mEncNodes = new (std::nothrow) XEncodeDictionaryValue[kTableSize];
    mEncChildIndex = new (std::nothrow) uint32_t[kIndexSize];
    mEncLastChild = new (std::nothrow) uint16_t[kTableSize];
    if (mEncNodes == nullptr || mEncChildIndex == nullptr || mEncLastChild == nullptr) {
        removeDictionaryEncode();
        return false;
    }
    for (uint32_t code = 0; code < kTableSize; ++code) {
        mEncNodes[code].mCode = code;
        mEncNodes[code].mValue = code;
        mEncTable[code] = code < mEncLiteralCount ? &mEncNodes[code] : nullptr;
    }
    std::memset(mEncChildIndex, 0, kIndexSize * sizeof(uint32_t));
    mEncNextCode = mEncLiteralCount;
    mEncWidth = mEncStartWidth;
    return true;
}

void XCodecLZW::initDictionary_2_Encode()
{
    for (uint32_t code = 0; code < kTableSize; ++code) {
        mEncNodes[code].mChild = nullptr;
        mEncNodes[code].mSibling = nullptr;
    }
    std::memset(mEncChildIndex, 0, kIndexSize * sizeof(uint32_t));
    mEncNextCode = mEncLiteralCount;
    mEncWidth = mEncStartWidth;
}

inline XEncodeDictionaryValue* XCodecLZW::findNode(XEncodeDictionaryValue* node, unsigned int c)
{
    if (node->mChild == nullptr)
        return node;
    uint32_t key = indexKey(node->mCode, c);
    for (uint32_t slot = indexSlot(key);; slot = (slot + 1) & kIndexMask) {
        uint32_t entry = mEncChildIndex[slot];
        if (entry == 0)
            return mEncTable[mEncLastChild[node->mCode]];   // no match: the last sibling
        if ((entry >> 12) == key)
            return mEncTable[entry & 0xFFF];
    }
}

inline bool XCodecLZW::addNode(XEncodeDictionaryValue* parent, XEncodeDictionaryValue* last, unsigned int c)
{
    uint32_t code = mEncNextCode;
    XEncodeDictionaryValue* node = mEncTable[code];
    if (node == nullptr)
        node = mEncTable[code] = &mEncNodes[code];
    node->mValue = c;
    if (last == parent)
        parent->mChild = node;
    else
        last->mSibling = node;
    uint32_t key = indexKey(parent->mCode, c);
    uint32_t slot = indexSlot(key);
    while (mEncChildIndex[slot] != 0)
        slot = (slot + 1) & kIndexMask;
    mEncChildIndex[slot] = (key << 12) | code;
    mEncLastChild[parent->mCode] = static_cast<uint16_t>(code);
    mEncNextCode += 1;
    if (mEncNextCode == (1u << mEncWidth))
        mEncWidth += 1;
    return true;
}

inline void XCodecLZW::writeCodeLR(unsigned int code, NVByteBuffer& out)
{
    mEncCodeAcc = (mEncCodeAcc << mEncWidth) | code;
    mEncCodeBits = static_cast<uint8_t>(mEncCodeBits + mEncWidth);
    while (mEncCodeBits >= 8) {
        mEncCodeBits = static_cast<uint8_t>(mEncCodeBits - 8);
        out << static_cast<unsigned char>(mEncCodeAcc >> mEncCodeBits);
    }
    mEncCodeAcc &= (1u << mEncCodeBits) - 1;
}

void XCodecLZW::completeEncodingLR(NVByteBuffer& out)
{
    if (mEncCodeBits > 0)
        out << static_cast<unsigned char>(mEncCodeAcc << (8 - mEncCodeBits));
    mEncCodeAcc = 0;
    mEncCodeBits = 0;
}

inline unsigned int XCodecLZW::readInput(NVByteBuffer& in)
{
    while (mEncInBits < 8) {
        unsigned char b = 0;
        in >> b;
        mEncInAcc = (mEncInAcc << 8) | b;
        mEncInBits = static_cast<uint8_t>(mEncInBits + 8);
    }
    mEncInBits = static_cast<uint8_t>(mEncInBits - 8);
    unsigned int v = (mEncInAcc >> mEncInBits) & 0xFF;
    mEncInAcc &= (1u << mEncInBits) - 1;
    return v;
}

inline bool XCodecLZW::isEndInput(NVByteBuffer& in) const { return mEncInBits < 8 && in.eos(); }

void XCodecLZW::removeDictionaryEncode()
{
    if (mEncTable != nullptr)
        std::memset(mEncTable, 0, kTableSize * sizeof(*mEncTable));
    delete[] mEncNodes;
    delete[] mEncChildIndex;
    delete[] mEncLastChild;
    mEncNodes = nullptr;
    mEncChildIndex = nullptr;
    mEncLastChild = nullptr;
}

bool XCodecLZW::encode(NVByteBuffer& in, NVByteBuffer& out)
{
    in.rewind();
    out.resize(0);
    mEncCodeAcc = mEncInAcc = 0;
    mEncCodeBits = mEncInBits = 0;
    if (mEncTable == nullptr)
        mEncTable = new (std::nothrow) XEncodeDictionaryValue*[kTableSize];
    if (mEncTable == nullptr)
        return false;
    std::memset(mEncTable, 0, kTableSize * sizeof(*mEncTable));
    if (isEndInput(in))
        return true;
    if (!initDictionary_1_Encode())
        return false;

    XEncodeDictionaryValue* cur = mEncTable[readInput(in)];
    while (!isEndInput(in)) {
        unsigned int c = readInput(in);
        XEncodeDictionaryValue* n = findNode(cur, c);
        if (n != cur && n->mValue == c) {
            cur = n;
            continue;
        }
        writeCodeLR(cur->mCode, out);
        if (!addNode(cur, n, c))
            return false;
        if (idDictionaryFull())
            initDictionary_2_Encode();
        cur = mEncTable[c];
    }
    writeCodeLR(cur->mCode, out);
    completeEncodingLR(out);
    removeDictionaryEncode();
    return true;
}

// ---- Decoder ----------------------------------------------------------------------------

bool XCodecLZW::initDictionary_1_Decode()
{
    mDecStartWidth = 9;
    mDecLiteralCount = 256;
    mDecMaxLiteral = 255;
    mDecEntries = new (std::nothrow) XDecodeDictionaryValue[kTableSize];
    if (mDecEntries == nullptr)
        return false;
    for (uint32_t code = 0; code < kTableSize; ++code) {
        mDecEntries[code].mValue = code <= mDecMaxLiteral ? code : 0;
        mDecTable[code] = &mDecEntries[code];
    }
    mDecNextCode = mDecLiteralCount;
    mDecWidth = mDecStartWidth;
    return true;
}

void XCodecLZW::initDictionary_2_Decode()
{
    for (uint32_t code = mDecLiteralCount; code < kTableSize && mDecTable[code] != nullptr; ++code)
        mDecTable[code]->mLink = nullptr;
    mDecNextCode = mDecLiteralCount;
    mDecWidth = mDecStartWidth;
}

inline unsigned int XCodecLZW::readCodeLR(NVByteBuffer& in)
{
    while (mDecCodeBits < mDecWidth) {
        if (in.eos())
            return kNoCode;
        unsigned char b = 0;
        in >> b;
        mDecCodeAcc = (mDecCodeAcc << 8) | b;
        mDecCodeBits = static_cast<uint8_t>(mDecCodeBits + 8);
    }
    mDecCodeBits = static_cast<uint8_t>(mDecCodeBits - mDecWidth);
    unsigned int code = mDecCodeAcc >> mDecCodeBits;
    mDecCodeAcc &= (1u << mDecCodeBits) - 1;
    return code;
}

// Eight bits through an accumulator that holds no partial byte come out as the byte itself.
inline void XCodecLZW::writeOutput(unsigned int v, NVByteBuffer& out)
{
    out << static_cast<unsigned char>(v);
}

void XCodecLZW::completeOutput(NVByteBuffer& out)
{
    if (mDecOutBits > 0)
        out << static_cast<unsigned char>(mDecOutAcc << (8 - mDecOutBits));
    mDecOutAcc = 0;
    mDecOutBits = 0;
}

inline void XCodecLZW::writeLink(XDecodeDictionaryValue* entry, unsigned int* first, NVByteBuffer& out)
{
    // Links run from the last byte to the first; a string is at most one byte per entry.
    unsigned char reversed[kTableSize];
    unsigned int n = 0;
    for (; entry != nullptr && n < kTableSize; entry = entry->mLink)
        reversed[n++] = static_cast<unsigned char>(entry->mValue);
    *first = reversed[n - 1];
    while (n > 0)
        writeOutput(reversed[--n], out);
}

inline unsigned int XCodecLZW::writeString(unsigned int prev, unsigned int code, unsigned int first,
                                           NVByteBuffer& out)
{
    unsigned int head = 0;
    if (code < mDecNextCode) {
        writeLink(mDecTable[code], &head, out);
        return head;
    }
    // The code being defined right now: prev's string followed by prev's first byte.
    writeLink(mDecTable[prev], &head, out);
    writeOutput(first, out);
    return head;
}

inline void XCodecLZW::addString(unsigned int prev, unsigned int c)
{
    XDecodeDictionaryValue* entry = mDecTable[mDecNextCode];
    entry->mValue = c;
    entry->mLink = mDecTable[prev];
    mDecNextCode += 1;
    if (mDecNextCode + 1 == (1u << mDecWidth))
        mDecWidth += 1;
}

void XCodecLZW::removeDictionaryDecode()
{
    if (mDecTable != nullptr)
        std::memset(mDecTable, 0, kTableSize * sizeof(*mDecTable));
    delete[] mDecEntries;
    mDecEntries = nullptr;
}

void XCodecLZW::decode(NVByteBuffer& in, NVByteBuffer& out)
{
    in.rewind();
    out.resize(0);
    mDecOutAcc = mDecCodeAcc = 0;
    mDecOutBits = mDecCodeBits = 0;
    unsigned int prev = 0;
    unsigned int first = 0;
    if (mDecTable == nullptr)
        mDecTable = new (std::nothrow) XDecodeDictionaryValue*[kTableSize];
    if (mDecTable == nullptr)
        return;
    std::memset(mDecTable, 0, kTableSize * sizeof(*mDecTable));
    if (in.eos())
        return;
    if (!initDictionary_1_Decode())
        return;

    // A stream starts, and starts over after a reset, with a single byte; the encoder never
    // writes anything else there, so any other first code ends the decoding.
    unsigned int code = readCodeLR(in);
    if (code < mDecLiteralCount) {
        prev = code;
        first = writeString(prev, code, first, out);
        while (!(in.eos() && mDecCodeBits < mDecWidth)) {
            code = readCodeLR(in);
            if (code > mDecNextCode)
                break;   // past the next free code, or the input ended inside a code
            first = writeString(prev, code, first, out);
            if (mDecNextCode == kTableSize - 2) {
                initDictionary_2_Decode();
                if (in.eos() && mDecCodeBits < mDecWidth)
                    break;
                code = readCodeLR(in);
                if (code >= mDecLiteralCount)
                    break;
                first = writeString(code, code, first, out);
            } else {
                addString(prev, first);
            }
            prev = code;
        }
    }
    removeDictionaryDecode();
    completeOutput(out);
}
