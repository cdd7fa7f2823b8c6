// Input: a serialised stream. Each step takes one selector byte, then reads one value of
// the selected kind with its length prefix, whatever the prefix claims.
#include "nvbytebuffer.h"
#include "nvstring.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> bytes(data, data + size);
    NVByteBuffer in(bytes.data(), bytes.size());
    NVString text("seed");
    NVByteBuffer nested(3);
    unsigned char small[5] = {0, 0, 0, 0, 0};
    NVByteBuffer wrapped(small, sizeof small);

    while (!in.eos()) {
        unsigned char op = 0;
        in >> op;
        const unsigned long before = in.getRemaining();
        switch (op % 5) {
        case 0:
            in >> text;
            if (std::strlen(text) != static_cast<size_t>(text.getLength()) || text.getLength() > long(before))
                std::abort();
            break;
        case 1:
            in >> nested;
            if (nested.getSize() > before || nested.getWritePos() != nested.getSize())
                std::abort();
            break;
        case 2:
            in >> wrapped;
            if (wrapped.getBuffer() != small || wrapped.getSize() != sizeof small)
                std::abort();
            break;
        case 3: {
            long v = 0;
            short s = 0;
            bool b = false;
            in >> v >> s >> b;
            break;
        }
        default: {
            NVByteBuffer self(in.getBuffer() ? in.getRemaining() : 0);
            in.read(self.getBuffer(), self.getSize());
            self.rewind();
            self >> self;   // a buffer read into itself
            break;
        }
        }
        if (in.getRemaining() > before)
            std::abort();
    }
    return 0;
}
