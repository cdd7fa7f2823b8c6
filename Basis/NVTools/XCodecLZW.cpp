#include "xcodeclzw.h"

#include "nvbytebuffer.h"

#include <cstring>
#include <new>

namespace {

// The child index holds at most 4096 - 256 links; four times that keeps probe runs short.
constexpr uint32_t kIndexSize = XEncodeChildIndex::kSlots;
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
      mEncNodes(nullptr), mDecEntries(nullptr), mEncChildIndex(nullptr),
      mDecOffset(nullptr), mDecLength(nullptr), mStagePos(0)
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
    mEncChildIndex = new (std::nothrow) XEncodeChildIndex;
    if (mEncNodes == nullptr || mEncChildIndex == nullptr) {
        removeDictionaryEncode();
        return false;
    }
    for (uint32_t code = 0; code < kTableSize; ++code) {
        mEncNodes[code].mCode = code;
        mEncNodes[code].mValue = code;
        // Nodes live in one block, so each code's table entry points at its node from the
        // start; addNode finds its node already there.
        mEncTable[code] = &mEncNodes[code];
    }
    std::memset(mEncChildIndex, 0, sizeof(XEncodeChildIndex));
    mEncNextCode = mEncLiteralCount;
    mEncWidth = mEncStartWidth;
    return true;
}

// Only the single bytes' links are cleared: an added node gets empty links when its code is
// given out again, and until then no node of the trie links to it.
void XCodecLZW::initDictionary_2_Encode()
{
    XEncodeDictionaryValue* const nodes = mEncNodes;   // the link stores could alias the field
    for (uint32_t code = 0; code < mEncLiteralCount; ++code)
        nodes[code].mChild = nullptr;
    std::memset(mEncChildIndex, 0, sizeof(XEncodeChildIndex));
    mEncNextCode = mEncLiteralCount;
    mEncWidth = mEncStartWidth;
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
    delete mEncChildIndex;
    mEncChildIndex = nullptr;
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
    // One block, so that one register reaches both parts.
    uint32_t* const index = mEncChildIndex->mSlots;
    uint16_t* const lastChild = mEncChildIndex->mLastChild;
    uint32_t next = mEncNextCode;
    uint32_t width = mEncWidth;
    // Codes collect in a 64-bit accumulator; after each code its whole bytes go out with one
    // eight-byte store whose surplus the next store overwrites, so no branch depends on how
    // many bytes were complete. The same bytes as one at a time.
    uint64_t acc = 0;
    uint32_t bits = 0;
    // A code adds at most two bytes and the width grows at least every 2048 codes, so the
    // staging block is checked there, with room for 4096 bytes and an eight-byte store.
    unsigned char* q = mStage;
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
        XEncodeDictionaryValue* node = nodes + next;   // mEncTable[next]
        node->mValue = c;
        node->mChild = nullptr;   // left over from before a reset
        node->mSibling = nullptr;
        // The new node is the first child of cur, or the sibling of its last child.
        const uint32_t last = lastChild[cur];   // 0: cur has no child yet
        XEncodeDictionaryValue** link = last == 0 ? &nodes[cur].mChild : &nodes[last].mSibling;
        *link = node;
        lastChild[cur] = static_cast<uint16_t>(next);
        index[slot] = (key << 12) | next;
        next += 1;
        if ((next >> width) != 0) {   // next reached 1 << width
            if (q > mStage + kStageSize - 4096 - 8) {
                mStagePos = static_cast<uint32_t>(q - mStage);
                flushStage(out);
                q = mStage;
            }
            width += 1;
            if (next == kTableSize) {   // idDictionaryFull()
                initDictionary_2_Encode();
                next = mEncNextCode;
                width = mEncWidth;
            }
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
    mDecOffset = new (std::nothrow) uint32_t[kTableSize];
    mDecLength = new (std::nothrow) uint16_t[kTableSize];
    if (mDecEntries == nullptr || mDecOffset == nullptr || mDecLength == nullptr) {
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
    // Every entry exists while the dictionary does, in one block in code order.
    XDecodeDictionaryValue* const entries = mDecEntries;
    for (uint32_t code = mDecLiteralCount; code < kTableSize; ++code)
        entries[code].mLink = nullptr;
    mDecNextCode = mDecLiteralCount;
    mDecWidth = mDecStartWidth;
}

void XCodecLZW::completeOutput(NVByteBuffer& out)
{
    if (mDecOutBits > 0)
        out << static_cast<unsigned char>(mDecOutAcc << (8 - mDecOutBits));
    mDecOutAcc = 0;
    mDecOutBits = 0;
}

void XCodecLZW::removeDictionaryDecode()
{
    if (mDecTable != nullptr)
        std::memset(mDecTable, 0, kTableSize * sizeof(*mDecTable));
    release(mDecEntries);
    release(mDecOffset);
    release(mDecLength);
}

namespace {

// Codes of the input block, most significant bit first, read at a bit position. Eight bytes
// are loaded at once while they lie inside the block; the last few bytes go one by one.
struct CodeReader {
    const unsigned char* src;
    uint64_t size;   // bytes
    uint64_t pos;    // bits consumed

    bool has(uint32_t width) const { return size * 8 - pos >= width; }
    uint32_t read(uint32_t width)
    {
        const uint64_t byte = pos >> 3;
        const uint32_t shift = static_cast<uint32_t>(pos & 7);
        uint32_t code;
        if (byte + 8 <= size) {
            uint64_t v;
            std::memcpy(&v, src + byte, 8);
            code = static_cast<uint32_t>((__builtin_bswap64(v) << shift) >> (64 - width));
        } else {
            uint32_t v = 0;
            for (uint64_t k = byte; k < byte + 3; ++k)
                v = (v << 8) | (k < size ? src[k] : 0u);
            code = (v >> (24 - shift - width)) & ((1u << width) - 1);
        }
        pos += width;
        return code;
    }
};

// The decoder's output, written straight into the block of an NVByteBuffer. The block grows
// as byte-by-byte writes would grow it (twice its size plus one each time a byte does not
// fit). A string of a dictionary entry is copied from where it was written before: each
// entry is the string of its prefix's code followed by the first byte of the next string,
// and those bytes stand side by side in the output.
struct StringWriter {
    NVByteBuffer& out;
    unsigned char* base;
    uint32_t pos;
    uint32_t size;
    uint32_t dirty;   // end of the bytes a copy wrote past pos (zeroed again at the end)
    bool owned;

    explicit StringWriter(NVByteBuffer& b)
        : out(b), base(b.getBuffer()), pos(static_cast<uint32_t>(b.getWritePos())),
          size(static_cast<uint32_t>(b.getSize())), dirty(pos), owned(!b.isWrapped())
    {
    }
    // Room for n more bytes; false when the block cannot grow that far.
    bool room(uint32_t n)
    {
        if (static_cast<uint64_t>(pos) + n <= size)
            return true;
        while (owned && static_cast<uint64_t>(pos) + n > size) {
            out.resizeAndKeep((static_cast<unsigned long>(size) + 1) * 2);
            if (out.getSize() == size)
                break;   // no memory
            size = static_cast<uint32_t>(out.getSize());
        }
        base = out.getBuffer();
        return static_cast<uint64_t>(pos) + n <= size;
    }
    // The n bytes at from (wholly before pos) once more at pos. Short strings go in one
    // sixteen-byte copy, and longer ones sixteen bytes at a time, where the block has room
    // for the surplus: every byte of the string is read before any store can reach it,
    // since from + n <= pos.
    void copy(uint32_t from, uint32_t n)
    {
        unsigned char* d = base + pos;
        const unsigned char* f = base + from;
        if (owned && static_cast<uint64_t>(pos) + n + 16 <= size) {
            for (uint32_t k = 0; k < n; k += 16) {
                unsigned char chunk[16];
                std::memcpy(chunk, f + k, 16);
                std::memcpy(d + k, chunk, 16);
            }
            const uint32_t end = pos + ((n + 15) & ~15u);
            if (end > dirty)
                dirty = end;
        } else {
            std::memcpy(d, f, n);
        }
        pos += n;
    }
    void put(unsigned char b) { base[pos++] = b; }
    // Hands the written bytes to the buffer; the block past them is zero again, as a block
    // grows.
    void finish()
    {
        if (dirty > pos)
            std::memset(base + pos, 0, dirty - pos);
        out.skipWrite(pos - out.getWritePos());
    }
};

} // namespace

void XCodecLZW::decode(NVByteBuffer& in, NVByteBuffer& out)
{
    in.rewind();
    out.resize(0);
    mDecOutAcc = mDecCodeAcc = 0;
    mDecOutBits = mDecCodeBits = 0;
    if (!clearedTable(mDecTable, kTableSize))
        return;
    if (in.eos())
        return;
    if (!initDictionary_1_Decode())
        return;
    // Text-like data expands about threefold; larger outputs grow on as usual.
    reserveGrowth(out, static_cast<uint64_t>(in.getSize()) * 3);

    // The steps of readCodeLR, writeString, writeLink and addString run inline on locals.
    // Each entry keeps its mValue and mLink; beside them, where its string stands in the
    // output and how long it is.
    CodeReader reader {in.getBuffer(), in.getSize(), 0};
    StringWriter w(out);
    XDecodeDictionaryValue* const entries = mDecEntries;
    uint32_t* const offset = mDecOffset;
    uint16_t* const length = mDecLength;
    uint32_t next = mDecNextCode;
    uint32_t width = mDecWidth;
    uint32_t limit = (1u << width) - 1;   // the next free code at which the width grows

    // A stream starts, and starts over after a reset, with a single byte; the encoder never
    // writes anything else there, so any other first code ends the decoding.
    uint32_t code = reader.has(width) ? reader.read(width) : kNoCode;
    if (code < mDecLiteralCount && w.room(1)) {
        uint32_t prev = code;
        uint32_t first = code;
        uint32_t prevPos = w.pos;
        uint32_t prevLen = 1;
        w.put(static_cast<unsigned char>(code));
        while (reader.has(width)) {
            code = reader.read(width);
            if (code > next)
                break;   // past the next free code
            const uint32_t start = w.pos;
            uint32_t len;
            if (code < 256) {
                len = 1;
                if (!w.room(1))
                    break;
                w.put(static_cast<unsigned char>(code));
                first = code;
            } else if (code < next) {
                len = length[code];
                if (!w.room(len)) {
                    w.copy(offset[code], w.size - w.pos);   // what fits
                    break;
                }
                w.copy(offset[code], len);
                first = w.base[start];
            } else {   // the code being defined: prev's string and its own first byte
                len = prevLen + 1;
                if (!w.room(len)) {
                    w.copy(prevPos, prevLen < w.size - w.pos ? prevLen : w.size - w.pos);
                    break;
                }
                w.copy(prevPos, prevLen);
                w.put(static_cast<unsigned char>(first));
            }
            if (next == kTableSize - 2) {
                mDecNextCode = next;
                initDictionary_2_Decode();
                next = mDecNextCode;
                width = mDecWidth;
                limit = (1u << width) - 1;
                if (!reader.has(width))
                    break;
                code = reader.read(width);
                if (code >= mDecLiteralCount || !w.room(1))
                    break;
                first = code;
                prevPos = w.pos;
                prevLen = 1;
                w.put(static_cast<unsigned char>(code));
            } else {
                XDecodeDictionaryValue* entry = entries + next;   // mDecTable[next]
                entry->mValue = first;
                entry->mLink = entries + prev;
                offset[next] = prevPos;
                length[next] = static_cast<uint16_t>(prevLen + 1);
                next += 1;
                if (next == limit) {
                    width += 1;
                    limit = (1u << width) - 1;
                }
                prevPos = start;
                prevLen = len;
            }
            prev = code;
        }
    }
    mDecNextCode = next;
    mDecWidth = static_cast<uint8_t>(width);
    in.skip(in.getRemaining());
    w.finish();
    removeDictionaryDecode();
    completeOutput(out);
}
