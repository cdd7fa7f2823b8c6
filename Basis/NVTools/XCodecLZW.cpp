#include "xcodeclzw.h"

#include "nvbytebuffer.h"

#include <cstring>
#include <new>

namespace {

// The child index holds at most 4096 - 256 links; four times that keeps probe runs short.
constexpr uint32_t kIndexSize = 16384;
constexpr uint32_t kIndexMask = kIndexSize - 1;
constexpr uint32_t kNoCode = 0xFFFFFFFFu;   // readCodeLR: the input ended inside a code

// A slot packs (parent << 8 | byte) + 1 above the 12-bit child code; 0 is an empty slot.
// A parent is at most 4094 (the dictionary starts over as soon as 4095 is added), so the
// key fits in the upper 20 bits.
inline uint32_t indexKey(uint32_t parent, uint32_t c) { return ((parent << 8) | c) + 1; }
inline uint32_t indexSlot(uint32_t key) { return (key * 2654435761u) >> 18; }

} // namespace

XCodecLZW::XCodecLZW()
    : mEncNextCode(0), mEncCodeAcc(0), mEncCodeBits(0), mEncInAcc(0), mEncInBits(0),
      mEncStartWidth(9), mEncWidth(9), mEncLiteralCount(256), mEncMaxLiteral(255), mEncTable(nullptr),
      mDecNextCode(0), mDecOutAcc(0), mDecCodeAcc(0), mDecOutBits(0), mDecCodeBits(0),
      mDecStartWidth(9), mDecWidth(9), mDecLiteralCount(256), mDecMaxLiteral(255), mDecTable(nullptr),
      mEncNodes(nullptr), mDecEntries(nullptr), mEncChildIndex(nullptr), mEncLastChild(nullptr),
      mEncValues(nullptr), mDecPrefix(nullptr), mDecSuffix(nullptr)
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
    mEncValues = new (std::nothrow) uint8_t[kTableSize];
    if (mEncNodes == nullptr || mEncChildIndex == nullptr || mEncLastChild == nullptr || mEncValues == nullptr) {
        removeDictionaryEncode();
        return false;
    }
    for (uint32_t code = 0; code < kTableSize; ++code) {
        mEncNodes[code].mCode = code;
        mEncNodes[code].mValue = code;
        mEncValues[code] = static_cast<uint8_t>(code);
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
    // The index answers for the trie: a node without children has no entry in it. Node
    // addresses follow from codes (the table points into mEncNodes), so a match costs one
    // load of the index and none of the nodes.
    const uint32_t code = static_cast<uint32_t>(node - mEncNodes);
    const uint32_t key = indexKey(code, c);
    for (uint32_t slot = indexSlot(key);; slot = (slot + 1) & kIndexMask) {
        const uint32_t entry = mEncChildIndex[slot];
        if ((entry >> 12) == key)
            return mEncNodes + (entry & 0xFFF);
        if (entry == 0)   // no match: the last sibling, or the node itself when childless
            return node->mChild == nullptr ? node : mEncNodes + mEncLastChild[code];
    }
}

inline bool XCodecLZW::addNode(XEncodeDictionaryValue* parent, XEncodeDictionaryValue* last, unsigned int c)
{
    uint32_t code = mEncNextCode;
    XEncodeDictionaryValue* node = mEncTable[code];
    if (node == nullptr)
        node = mEncTable[code] = &mEncNodes[code];
    node->mValue = c;
    mEncValues[code] = static_cast<uint8_t>(c);
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
    if (mEncInBits == 0) {   // whole bytes in, whole bytes out: the accumulator stays empty
        unsigned char b = 0;
        in >> b;
        return b;
    }
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
    delete[] mEncValues;
    mEncValues = nullptr;
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

    XEncodeDictionaryValue* cur = mEncNodes + readInput(in);
    while (!isEndInput(in)) {
        unsigned int c = readInput(in);
        XEncodeDictionaryValue* n = findNode(cur, c);
        if (n != cur && mEncValues[n - mEncNodes] == c) {   // n->mValue, from the compact copy
            cur = n;
            continue;
        }
        writeCodeLR(cur->mCode, out);
        if (!addNode(cur, n, c))
            return false;
        if (idDictionaryFull())
            initDictionary_2_Encode();
        cur = mEncNodes + c;   // the node of byte c, mEncTable[c]
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
    mDecPrefix = new (std::nothrow) uint16_t[kTableSize];
    mDecSuffix = new (std::nothrow) uint8_t[kTableSize];
    if (mDecEntries == nullptr || mDecPrefix == nullptr || mDecSuffix == nullptr) {
        removeDictionaryDecode();
        return false;
    }
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

// n bytes as n writeOutput calls would leave them, block growth included: an owned block
// grows to twice its size plus one each time the next byte does not fit.
inline void XCodecLZW::writeRun(const unsigned char* p, unsigned int n, NVByteBuffer& out)
{
    if (n <= 16) {   // short strings: the inline byte path beats a block copy
        for (unsigned int i = 0; i < n; ++i)
            writeOutput(p[i], out);
        return;
    }
    while (!out.isWrapped() && out.getWritePos() + n > out.getSize()) {
        unsigned long size = out.getSize();
        out.resizeAndKeep((size + 1) * 2);
        if (out.getSize() == size)
            break;   // no memory: the write stops at the old end
    }
    out.write(p, n);
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
    // The string is gathered from its last byte back to the root through the compact copy
    // of the links, then written in one piece.
    unsigned char run[kTableSize];
    unsigned int pos = kTableSize;
    uint32_t code = static_cast<uint32_t>(entry - mDecEntries);
    while (code >= mDecLiteralCount && pos > 1) {
        run[--pos] = mDecSuffix[code];
        code = mDecPrefix[code];
    }
    run[--pos] = static_cast<unsigned char>(code);
    *first = code;
    writeRun(run + pos, kTableSize - pos, out);
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
    mDecPrefix[mDecNextCode] = static_cast<uint16_t>(prev);
    mDecSuffix[mDecNextCode] = static_cast<uint8_t>(c);
    mDecNextCode += 1;
    if (mDecNextCode + 1 == (1u << mDecWidth))
        mDecWidth += 1;
}

void XCodecLZW::removeDictionaryDecode()
{
    if (mDecTable != nullptr)
        std::memset(mDecTable, 0, kTableSize * sizeof(*mDecTable));
    delete[] mDecEntries;
    delete[] mDecPrefix;
    delete[] mDecSuffix;
    mDecEntries = nullptr;
    mDecPrefix = nullptr;
    mDecSuffix = nullptr;
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
