#ifndef NXCATALOGUE_H
#define NXCATALOGUE_H

// The device operation catalogue (NxCatalogue.def) and the one path every catalogued
// operation takes to the driver.

#include <cstddef>
#include <cstdint>

#include "NorvaneDriverAPI.h"

enum class NxResult : uint8_t { Done, Word, WordIsOne, WordNonzero, Half, Bytes };
enum class NxOnFailure : uint8_t { Untouched, Zeroed, EmptyText };

struct NxOperation {
    const char* mName;
    uint32_t mCode;
    bool mCheckSize;
    NxResult mResult;
    uint8_t mAnswerOffset;   // record offset of the answer
    uint8_t mAnswerSize;     // bytes of the answer copied out
    long mFailure;
    NxOnFailure mOnFailure;
};

enum class NxOp : unsigned {
#define NX_OP(name, ...) name,
#include "NxCatalogue.def"
#undef NX_OP
    Count
};

extern const NxOperation kNxCatalogue[size_t(NxOp::Count)];
inline const NxOperation& nxOperation(NxOp op) { return kNxCatalogue[size_t(op)]; }

// Sends the operation's code with inSize bytes of payload from in (at offset 4) and the
// row's size check. On success copies the row's answer bytes into out (when not null) and
// returns true; on failure applies the row's failure rule to out and returns false. With
// answer not null, the whole answered record is left there as well.
bool nxExchange(USBDevice& device, NxOp op, const void* in, size_t inSize, void* out,
                NX_Dispatch* answer = nullptr);

// nxExchange, then the row's success result, or its failure result.
long nxCall(USBDevice& device, NxOp op, const void* in = nullptr, size_t inSize = 0,
            void* out = nullptr);

#endif
