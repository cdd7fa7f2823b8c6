// Input: any bytes, decoded as text of the 64-character alphabet; and the same bytes encoded,
// which must decode back to themselves.
#include "nvbytebuffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> bytes(data, data + size);

    NVByteBuffer text(bytes.data(), bytes.size());
    NVByteBuffer decoded;
    decoded.uuDecode(text);
    const size_t rest = size % 4;
    if (decoded.getWritePos() != size / 4 * 3 + (rest > 1 ? rest - 1 : 0))
        std::abort();

    NVByteBuffer plain(bytes.data(), bytes.size());
    NVByteBuffer encoded;
    encoded.uuEncode(plain);
    NVByteBuffer exact(encoded.getWritePos());
    std::memcpy(exact.getBuffer(), encoded.getBuffer(), encoded.getWritePos());
    NVByteBuffer back;
    back.uuDecode(exact);
    if (back.getWritePos() != size || (size > 0 && std::memcmp(back.getBuffer(), data, size) != 0))
        std::abort();
    return 0;
}
