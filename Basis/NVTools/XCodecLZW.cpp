#include "xcodeclzw.h"

#include "nvbytebuffer.h"

#include <cstring>
#include <new>

namespace {

// The child index holds at most 4096 - 256 links; four times that keeps probe runs short.
constexpr uint32_t kIndexSize = 16384;
constexpr uint32_t kIndexMask = kIndexSize - 1;
constexpr uint32_t kNoCode = 0xFFFFFFFFu;   // no such child; or the input ended inside a code

// A slot packs (parent << 8 | byte) + 1 above the 12-bit child code; 0 is an empty slot.
// A parent is at most 4094 (the dictionary starts over as soon as 4095 is added), so the
// key fits in the upper 20 bits.
inline uint32_t indexKey(uint32_t parent, uint32_t c) { return ((parent << 8) | c) + 1; }
// The byte's share of the slot is a multiplication that does not wait for the previous
// match; the code joins it with one xor, which keeps the chain from match to match short.
inline uint32_t indexSlot(uint32_t code, uint32_t c)
{
    return (code ^ ((c * 2654435761u) >> 18)) & kIndexMask;
}

// Reserves in an emptied owned buffer the block that byte-by-byte writes of about n bytes
// grow it to (0, 2, 6, 14, ...), so that it fills in place instead of being copied at every
// doubling. Only the pages grown into are touched.
void reserveGrowth(NVByteBuffer& out, uint64_t n)
{
    uint64_t size = 0;
    while (size < n)
        size = (size + 1) * 2;
    out.reserve(static_cast<unsigned long>(size));
}

template <typename T> void release(T*& block)
{
    delete[] block;
    block = nullptr;
}

// The pointer table of one side, allocated on first use and cleared for the call.
template <typename T> bool clearedTable(T**& table, uint32_t size)
{
    if (table == nullptr)
        table = new (std::nothrow) T*[size];
    if (table == nullptr)
        return false;
    std::memset(table, 0, size * sizeof(T*));
    return true;
}

} // namespace

XCodecLZW::XCodecLZW()
    : mEncNextCode(0), mEncCodeAcc(0), mEncCodeBits(0), mEncInAcc(0), mEncInBits(0),
      mEncStartWidth(9), mEncWidth(9), mEncLiteralCount(256), mEncMaxLiteral(255), mEncTable(nullptr),
      mDecNextCode(0), mDecOutAcc(0), mDecCodeAcc(0), mDecOutBits(0), mDecCodeBits(0),
      mDecStartWidth(9), mDecWidth(9), mDecLiteralCount(256), mDecMaxLiteral(255), mDecTable(nullptr),
      mEncNodes(nullptr), mDecEntries(nullptr), mEncChildIndex(nullptr), mEncLastChild(nullptr),
      mDecPrefix(nullptr), mDecSuffix(nullptr), mDecLength(nullptr), mEncMissKey(0),
      mEncMissSlot(0), mStagePos(0)
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
    std::memset(mEncLastChild, 0, kTableSize * sizeof(uint16_t));
    mEncMissKey = 0;
    mEncNextCode = mEncLiteralCount;
    mEncWidth = mEncStartWidth;
    return true;
}

void XCodecLZW::initDictionary_2_Encode()
{
    mEncMissKey = 0;
    XEncodeDictionaryValue* const nodes = mEncNodes;   // the link stores could alias the field
    for (uint32_t code = 0; code < kTableSize; ++code) {
        nodes[code].mChild = nullptr;
        nodes[code].mSibling = nullptr;
    }
    std::memset(mEncChildIndex, 0, kIndexSize * sizeof(uint32_t));
    std::memset(mEncLastChild, 0, kTableSize * sizeof(uint16_t));
    mEncNextCode = mEncLiteralCount;
    mEncWidth = mEncStartWidth;
}

// The index's answer for the child of code by byte c: its code, or kNoCode. A miss leaves
// its key and the free slot behind, so that the search and the insertion that follow it
// on the same string need not probe again.
inline uint32_t XCodecLZW::findChildCode(uint32_t code, unsigned int c)
{
    const uint32_t key = indexKey(code, c);
    for (uint32_t slot = indexSlot(code, c);; slot = (slot + 1) & kIndexMask) {
        const uint32_t entry = mEncChildIndex[slot];
        if ((entry >> 12) == key)
            return entry & 0xFFF;
        if (entry == 0) {
            mEncMissKey = key;
            mEncMissSlot = slot;
            return kNoCode;
        }
    }
}

inline XEncodeDictionaryValue* XCodecLZW::findNode(XEncodeDictionaryValue* node, unsigned int c)
{
    // mEncTable[k] is mEncNodes + k for every code in use, so codes and nodes convert
    // without a load; mEncLastChild is 0 exactly while the node's mChild is null.
    const uint32_t code = static_cast<uint32_t>(node - mEncNodes);
    const uint32_t lastChild = mEncLastChild[code];
    if (lastChild == 0)
        return node;
    const uint32_t child = indexKey(code, c) == mEncMissKey ? kNoCode : findChildCode(code, c);
    if (child != kNoCode)
        return mEncNodes + child;
    return mEncNodes + lastChild;   // no match: the last sibling
}

inline bool XCodecLZW::addNode(XEncodeDictionaryValue* parent, XEncodeDictionaryValue* last, unsigned int c)
{
    // Nodes live in one block, so the table entry at the next free code is its node.
    uint32_t code = mEncNextCode;
    XEncodeDictionaryValue* node = mEncTable[code] = mEncNodes + code;
    node->mValue = c;
    if (last == parent)
        parent->mChild = node;
    else
        last->mSibling = node;
    const uint32_t parentCode = static_cast<uint32_t>(parent - mEncNodes);
    const uint32_t key = indexKey(parentCode, c);
    uint32_t slot = mEncMissSlot;
    if (key != mEncMissKey) {
        slot = indexSlot(parentCode, c);
        while (mEncChildIndex[slot] != 0)
            slot = (slot + 1) & kIndexMask;
    }
    mEncMissKey = 0;   // the slot is taken now
    mEncChildIndex[slot] = (key << 12) | code;
    mEncLastChild[parentCode] = static_cast<uint16_t>(code);
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
        stageByte(static_cast<unsigned char>(mEncCodeAcc >> mEncCodeBits), out);
    }
    mEncCodeAcc &= (1u << mEncCodeBits) - 1;
}

void XCodecLZW::completeEncodingLR(NVByteBuffer& out)
{
    if (mEncCodeBits > 0)
        stageByte(static_cast<unsigned char>(mEncCodeAcc << (8 - mEncCodeBits)), out);
    mEncCodeAcc = 0;
    mEncCodeBits = 0;
    flushStage(out);
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
    release(mEncNodes);
    release(mEncChildIndex);
    release(mEncLastChild);
}

bool XCodecLZW::encode(NVByteBuffer& in, NVByteBuffer& out)
{
    in.rewind();
    out.resize(0);
    mEncCodeAcc = mEncInAcc = 0;
    mEncCodeBits = mEncInBits = 0;
    if (!clearedTable(mEncTable, kTableSize))
        return false;
    if (isEndInput(in))
        return true;
    if (!initDictionary_1_Encode())
        return false;

    mStagePos = 0;
    // At most 12 bits per input byte, and a last partial byte.
    reserveGrowth(out, (static_cast<uint64_t>(in.getSize()) * 12 + 7) / 8 + 1);
    uint32_t cur = readInput(in);
    // Whole bytes pass readInput() unchanged, so the loop takes them straight from the block.
    // The steps of findNode, addNode and writeCodeLR run inline on locals: through the
    // fields, every store into the tables or the staging block would reload them. Matches
    // are followed by code through the child index; a miss leaves the free slot where the
    // new child goes, and the parent's last child is where the trie appends it.
    const unsigned char* p = in.getBuffer() + (in.getSize() - in.getRemaining());
    const unsigned char* const end = in.getBuffer() + in.getSize();
    XEncodeDictionaryValue* const nodes = mEncNodes;
    XEncodeDictionaryValue** const table = mEncTable;
    uint32_t* const index = mEncChildIndex;
    uint16_t* const lastChild = mEncLastChild;
    uint32_t next = mEncNextCode;
    uint32_t width = mEncWidth;
    // Codes collect in a 64-bit accumulator; after each code its whole bytes go out with one
    // eight-byte store whose surplus the next store overwrites, so no branch depends on how
    // many bytes were complete. The same bytes as one at a time.
    uint64_t acc = 0;
    uint32_t bits = 0;
    uint32_t limit = 1u << width;   // the next free code at which the width grows
    unsigned char* q = mStage;
    unsigned char* const qLast = mStage + kStageSize - 8;
    while (p < end) {
        const uint32_t c = *p++;
        const uint32_t key = indexKey(cur, c);
        uint32_t slot = indexSlot(cur, c);
        uint32_t entry;
        while ((entry = index[slot]) != 0 && (entry >> 12) != key)
            slot = (slot + 1) & kIndexMask;
        if (entry != 0) {
            cur = entry & 0xFFF;
            continue;
        }
        acc = (acc << width) | cur;
        bits += width;
        const uint64_t word = __builtin_bswap64(acc << (64 - bits));
        std::memcpy(q, &word, 8);
        q += bits >> 3;
        bits &= 7;
        if (q > qLast) {
            mStagePos = static_cast<uint32_t>(q - mStage);
            flushStage(out);
            q = mStage;
        }
        XEncodeDictionaryValue* node = table[next] = nodes + next;
        node->mValue = c;
        const uint32_t last = lastChild[cur];   // 0: cur has no child yet
        if (last == 0)
            nodes[cur].mChild = node;
        else
            nodes[last].mSibling = node;
        lastChild[cur] = static_cast<uint16_t>(next);
        index[slot] = (key << 12) | next;
        next += 1;
        if (next == limit) {
            width += 1;
            if (next == kTableSize) {   // idDictionaryFull()
                initDictionary_2_Encode();
                next = mEncNextCode;
                width = mEncWidth;
            }
            limit = 1u << width;
        }
        cur = c;
    }
    in.skip(in.getRemaining());
    mStagePos = static_cast<uint32_t>(q - mStage);
    mEncCodeAcc = static_cast<uint32_t>(acc) & ((1u << bits) - 1);
    mEncCodeBits = static_cast<uint8_t>(bits);
    mEncNextCode = next;
    mEncWidth = static_cast<uint8_t>(width);
    writeCodeLR(cur, out);
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
    mDecLength = new (std::nothrow) uint16_t[kTableSize];
    if (mDecEntries == nullptr || mDecPrefix == nullptr || mDecSuffix == nullptr ||
        mDecLength == nullptr) {
        removeDictionaryDecode();
        return false;
    }
    for (uint32_t code = 0; code < kTableSize; ++code) {
        mDecEntries[code].mValue = code <= mDecMaxLiteral ? code : 0;
        mDecLength[code] = 1;
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
    stageByte(static_cast<unsigned char>(v), out);
}

inline void XCodecLZW::stageByte(unsigned char b, NVByteBuffer& out)
{
    if (mStagePos == kStageSize)
        flushStage(out);
    mStage[mStagePos++] = b;
}

void XCodecLZW::flushStage(NVByteBuffer& out)
{
    writeRun(mStage, mStagePos, out);
    mStagePos = 0;
}

// n bytes as n single-byte writes would leave them, block growth included: an owned block
// grows to twice its size plus one each time the next byte does not fit.
void XCodecLZW::writeRun(const unsigned char* p, unsigned int n, NVByteBuffer& out)
{
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
        stageByte(static_cast<unsigned char>(mDecOutAcc << (8 - mDecOutBits)), out);
    mDecOutAcc = 0;
    mDecOutBits = 0;
    flushStage(out);
}

inline void XCodecLZW::writeLink(XDecodeDictionaryValue* entry, unsigned int* first, NVByteBuffer& out)
{
    // Filled from the last byte back to the root through the compact copy of the links,
    // straight into the staging block; a string is at most one byte per entry.
    uint32_t code = static_cast<uint32_t>(entry - mDecEntries);
    const uint32_t length = mDecLength[code];
    if (mStagePos + length > kStageSize)
        flushStage(out);
    unsigned char* q = mStage + mStagePos + length;
    // Locals: the byte stores below could alias the fields, which would reload them.
    const uint16_t* prefix = mDecPrefix;
    const uint8_t* suffix = mDecSuffix;
    const uint32_t literals = mDecLiteralCount;
    while (code >= literals) {
        *--q = suffix[code];
        code = prefix[code];
    }
    *--q = static_cast<unsigned char>(code);
    mStagePos += length;
    *first = code;
}

inline unsigned int XCodecLZW::writeString(unsigned int prev, unsigned int code, unsigned int first,
                                           NVByteBuffer& out)
{
    unsigned int head = 0;
    // mDecTable[k] is mDecEntries + k; the sum spares a load.
    if (code < mDecNextCode) {
        writeLink(mDecEntries + code, &head, out);
        return head;
    }
    // The code being defined right now: prev's string followed by prev's first byte.
    writeLink(mDecEntries + prev, &head, out);
    writeOutput(first, out);
    return head;
}

inline void XCodecLZW::addString(unsigned int prev, unsigned int c)
{
    XDecodeDictionaryValue* entry = mDecEntries + mDecNextCode;   // mDecTable[mDecNextCode]
    entry->mValue = c;
    entry->mLink = mDecEntries + prev;
    mDecPrefix[mDecNextCode] = static_cast<uint16_t>(prev);
    mDecSuffix[mDecNextCode] = static_cast<uint8_t>(c);
    mDecLength[mDecNextCode] = static_cast<uint16_t>(mDecLength[prev] + 1);
    mDecNextCode += 1;
    if (mDecNextCode + 1 == (1u << mDecWidth))
        mDecWidth += 1;
}

void XCodecLZW::removeDictionaryDecode()
{
    if (mDecTable != nullptr)
        std::memset(mDecTable, 0, kTableSize * sizeof(*mDecTable));
    release(mDecEntries);
    release(mDecPrefix);
    release(mDecSuffix);
    release(mDecLength);
}

void XCodecLZW::decode(NVByteBuffer& in, NVByteBuffer& out)
{
    in.rewind();
    out.resize(0);
    mDecOutAcc = mDecCodeAcc = 0;
    mDecOutBits = mDecCodeBits = 0;
    unsigned int prev = 0;
    unsigned int first = 0;
    if (!clearedTable(mDecTable, kTableSize))
        return;
    if (in.eos())
        return;
    if (!initDictionary_1_Decode())
        return;
    mStagePos = 0;
    // Text-like data expands about threefold; larger outputs grow on as usual.
    reserveGrowth(out, static_cast<uint64_t>(in.getSize()) * 3);

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
