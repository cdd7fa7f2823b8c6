// The catalogue table and the one path its operations take.

#include <cstring>

#include "NxCatalogue.h"
#include "NxRecord.h"

const NxOperation kNxCatalogue[size_t(NxOp::Count)] = {
#define NX_OP(name, code, check, result, at, size, fail, onFailure)                          \
    {#name, code, check, NxResult::result, at, size, fail, NxOnFailure::onFailure},
#include "NxCatalogue.def"
#undef NX_OP
};

static_assert(sizeof(kNxCatalogue) / sizeof(kNxCatalogue[0]) == size_t(NxOp::Count),
              "one row per operation");

bool nxExchange(USBDevice& device, NxOp op, const void* in, size_t inSize, void* out,
                NX_Dispatch* answer)
{
    const NxOperation& row = nxOperation(op);
    NX_Dispatch record = nxRecord(row.mCode);
    if (in) nxPut(record, kNxPayloadOffset, in, inSize);
    if (!device.dispatch(record, row.mCheckSize)) {
        if (out && row.mOnFailure == NxOnFailure::Zeroed) std::memset(out, 0, row.mAnswerSize);
        if (out && row.mOnFailure == NxOnFailure::EmptyText) static_cast<char*>(out)[0] = 0;
        return false;
    }
    if (out) nxGet(record, row.mAnswerOffset, out, row.mAnswerSize);
    if (answer) *answer = record;
    return true;
}

long nxCall(USBDevice& device, NxOp op, const void* in, size_t inSize, void* out)
{
    const NxOperation& row = nxOperation(op);
    NX_Dispatch record;
    if (!nxExchange(device, op, in, inSize, out, &record)) return row.mFailure;
    switch (row.mResult) {
    case NxResult::Word: return long(nxGetValue<int32_t>(record, row.mAnswerOffset));
    case NxResult::WordIsOne: return nxGetValue<uint32_t>(record, row.mAnswerOffset) == 1;
    case NxResult::WordNonzero: return nxGetValue<uint32_t>(record, row.mAnswerOffset) != 0;
    case NxResult::Half: return long(nxGetValue<uint16_t>(record, row.mAnswerOffset));
    case NxResult::Done:
    case NxResult::Bytes: return 1;
    }
    return row.mFailure;
}
