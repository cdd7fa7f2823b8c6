// Input: any bytes, decoded as a code stream; and the same bytes encoded, which must decode
// back to themselves.
#include "nvbytebuffer.h"
#include "xcodeclzw.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> bytes(data, data + size);
    static XCodecLZW codec;   // one codec for every input: calls must not depend on each other

    NVByteBuffer in(bytes.data(), bytes.size());
    NVByteBuffer out;
    codec.decode(in, out);
    // Each code yields at most one byte per dictionary entry it can name.
    if (out.getWritePos() > (size * 8 / 9 + 1) * 4096)
        std::abort();

    NVByteBuffer plain(bytes.data(), bytes.size());
    NVByteBuffer packed;
    if (!codec.encode(plain, packed))
        std::abort();
    NVByteBuffer exact(packed.getWritePos());
    std::memcpy(exact.getBuffer(), packed.getBuffer(), packed.getWritePos());
    NVByteBuffer back;
    codec.decode(exact, back);
    if (back.getWritePos() != size || (size > 0 && std::memcmp(back.getBuffer(), data, size) != 0))
        std::abort();
    return 0;
}
