#ifndef XCODECLZW_H
#define XCODECLZW_H

#include <cstdint>

class NVByteBuffer;

// Node of the encoder's trie: the string of its parent plus the byte mValue.
struct XEncodeDictionaryValue {
    uint32_t mValue = 0;
    uint32_t mCode = 0;                         // equal to the node's index in the table
    XEncodeDictionaryValue* mChild = nullptr;   // first extension by one byte
    XEncodeDictionaryValue* mSibling = nullptr; // next node with the same parent
};

// Beside the encoder's trie, for finding a child without walking the siblings: a hash of
// (parent code, byte) to the child's code, and each node's last child for appending one.
struct XEncodeChildIndex {
    static constexpr uint32_t kSlots = 16384;   // four times the codes: short probe runs
    uint32_t mSlots[kSlots];       // (parent << 8 | byte) + 1 above the child's 12-bit code; 0 free
    uint16_t mLastChild[4096];     // 0 while the node has no child
};

// Entry of the decoder's dictionary: the string of mLink plus the byte mValue.
struct XDecodeDictionaryValue {
    uint32_t mValue = 0;
    XDecodeDictionaryValue* mLink = nullptr;    // null for the single bytes 0-255
};

// Variable-width LZW between two byte buffers. The stream is codes of 9 to 12 bits, most
// significant bit first, zero-filled in the last byte, with no header, clear code or end
// code: both sides widen at 512, 1024 and 2048 entries and start over when the dictionary
// fills, by counting. Streams interchange with the maker's other tools, so the format is
// fixed bit for bit.
class XCodecLZW {
public:
    XCodecLZW();
    virtual ~XCodecLZW();
    XCodecLZW(const XCodecLZW&) = delete;
    XCodecLZW& operator=(const XCodecLZW&) = delete;

    // Compresses the readable data of in (up to its size) into out. False only when memory
    // runs out; what was written by then stays in out.
    bool encode(NVByteBuffer& in, NVByteBuffer& out);
    // Expands in (read up to its size) into out. Stops quietly at the first code that no
    // dictionary state can produce, keeping the bytes decoded so far; partial trailing bits
    // are ignored.
    void decode(NVByteBuffer& in, NVByteBuffer& out);

private:
    static constexpr uint32_t kTableSize = 4096;

    // Encoder steps.
    bool initDictionary_1_Encode();
    void initDictionary_2_Encode();
    bool idDictionaryFull() const { return mEncNextCode == kTableSize; }
    void writeCodeLR(unsigned int code, NVByteBuffer& out);
    void completeEncodingLR(NVByteBuffer& out);
    unsigned int readInput(NVByteBuffer& in);
    bool isEndInput(NVByteBuffer& in) const;
    void removeDictionaryEncode();
    // Encoder output bytes collect in mStage and go to the buffer a block at a time.
    void stageByte(unsigned char b, NVByteBuffer& out);
    void flushStage(NVByteBuffer& out);
    void writeRun(const unsigned char* p, unsigned int n, NVByteBuffer& out);

    // Decoder steps.
    bool initDictionary_1_Decode();
    void initDictionary_2_Decode();
    void completeOutput(NVByteBuffer& out);
    void removeDictionaryDecode();

    uint32_t mEncNextCode;
    uint32_t mEncCodeAcc;
    uint8_t mEncCodeBits;
    uint32_t mEncInAcc;
    uint8_t mEncInBits;
    uint8_t mEncStartWidth;
    uint8_t mEncWidth;
    uint32_t mEncLiteralCount;
    uint32_t mEncMaxLiteral;
    XEncodeDictionaryValue** mEncTable;

    uint32_t mDecNextCode;
    uint32_t mDecOutAcc;
    uint32_t mDecCodeAcc;
    uint8_t mDecOutBits;
    uint8_t mDecCodeBits;
    uint8_t mDecStartWidth;
    uint8_t mDecWidth;
    uint32_t mDecLiteralCount;
    uint32_t mDecMaxLiteral;
    XDecodeDictionaryValue** mDecTable;

    // Storage behind the two tables, one block each for the length of one call.
    XEncodeDictionaryValue* mEncNodes;
    XDecodeDictionaryValue* mDecEntries;
    // Speeds up the child search without changing the trie.
    XEncodeChildIndex* mEncChildIndex;
    // Where each decoder entry's string was written in the output, and its length.
    uint32_t* mDecOffset;
    uint16_t* mDecLength;
    // Output staging of the running encode.
    static constexpr uint32_t kStageSize = 16384;
    uint32_t mStagePos;
    unsigned char mStage[kStageSize];
};

#endif
