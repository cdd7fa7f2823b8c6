#ifndef NXRECORD_H
#define NXRECORD_H

// Reads and writes of the request record by offset (host byte order), and the two layouts of
// a tunnelled control request. Every access is bounded by the record's 260 bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "NorvaneDriverAPI.h"

enum : size_t { kNxRecordSize = sizeof(NX_Dispatch), kNxPayloadOffset = 4 };

inline uint8_t* nxBytes(NX_Dispatch& record) { return reinterpret_cast<uint8_t*>(&record); }
inline const uint8_t* nxBytes(const NX_Dispatch& record)
{
    return reinterpret_cast<const uint8_t*>(&record);
}

// Copies at most what fits between offset and the end of the record.
inline void nxPut(NX_Dispatch& record, size_t offset, const void* from, size_t size)
{
    if (offset >= kNxRecordSize) return;
    if (size > kNxRecordSize - offset) size = kNxRecordSize - offset;
    if (size) std::memcpy(nxBytes(record) + offset, from, size);
}
inline void nxGet(const NX_Dispatch& record, size_t offset, void* to, size_t size)
{
    if (offset >= kNxRecordSize) return;
    if (size > kNxRecordSize - offset) size = kNxRecordSize - offset;
    if (size) std::memcpy(to, nxBytes(record) + offset, size);
}
template <class T> inline void nxPutValue(NX_Dispatch& record, size_t offset, T value)
{
    nxPut(record, offset, &value, sizeof value);
}
template <class T> inline T nxGetValue(const NX_Dispatch& record, size_t offset)
{
    T value{};
    nxGet(record, offset, &value, sizeof value);
    return value;
}

// A fresh record: the code set, the payload zeroed.
inline NX_Dispatch nxRecord(uint32_t code)
{
    NX_Dispatch record;
    std::memset(&record, 0, sizeof record);
    record.mCode = code;
    return record;
}

// Layout A of dispatch code 34: header first. Used when the driver's major version is 1.
struct NX_ControlRequestA {
    uint32_t mCode;
    uint32_t mDirection;
    uint32_t mLevel;
    uint32_t mRecipient;
    uint8_t mRequest;
    uint8_t mPad0;
    uint16_t mValue;
    uint16_t mIndex;
    uint16_t mPad1;
    uint32_t mLength;    // bytes asked for; on return the bytes transferred
    uint8_t mData[232];
};
// Layout B: data first. Every other driver, and whenever the caller forces it.
struct NX_ControlRequestB {
    uint32_t mCode;
    uint8_t mData[128];
    uint32_t mLength;
    uint16_t mValue;
    uint16_t mIndex;
    uint32_t mDirection;
    uint32_t mLevel;
    uint32_t mRecipient;
    uint8_t mRequest;
    uint8_t mUnused[107];
};

static_assert(sizeof(NX_ControlRequestA) == kNxRecordSize, "layout A fills the record");
static_assert(offsetof(NX_ControlRequestA, mDirection) == 4 &&
                  offsetof(NX_ControlRequestA, mLevel) == 8 &&
                  offsetof(NX_ControlRequestA, mRecipient) == 12 &&
                  offsetof(NX_ControlRequestA, mRequest) == 16 &&
                  offsetof(NX_ControlRequestA, mValue) == 18 &&
                  offsetof(NX_ControlRequestA, mIndex) == 20 &&
                  offsetof(NX_ControlRequestA, mLength) == 24 &&
                  offsetof(NX_ControlRequestA, mData) == 28,
              "layout A offsets");
static_assert(sizeof(NX_ControlRequestB) == kNxRecordSize, "layout B fills the record");
static_assert(offsetof(NX_ControlRequestB, mData) == 4 &&
                  offsetof(NX_ControlRequestB, mLength) == 132 &&
                  offsetof(NX_ControlRequestB, mValue) == 136 &&
                  offsetof(NX_ControlRequestB, mIndex) == 138 &&
                  offsetof(NX_ControlRequestB, mDirection) == 140 &&
                  offsetof(NX_ControlRequestB, mLevel) == 144 &&
                  offsetof(NX_ControlRequestB, mRecipient) == 148 &&
                  offsetof(NX_ControlRequestB, mRequest) == 152,
              "layout B offsets");

// Where each field of a control request sits, so one piece of code fills either layout.
struct NxControlLayout {
    size_t direction, level, recipient, request, value, index, length, data, capacity;
};
#define NX_CONTROL_LAYOUT(T)                                                              \
    NxControlLayout                                                                       \
    {                                                                                     \
        offsetof(T, mDirection), offsetof(T, mLevel), offsetof(T, mRecipient),            \
            offsetof(T, mRequest), offsetof(T, mValue), offsetof(T, mIndex),              \
            offsetof(T, mLength), offsetof(T, mData), sizeof(T::mData)                    \
    }
constexpr NxControlLayout kNxLayoutA = NX_CONTROL_LAYOUT(NX_ControlRequestA);
constexpr NxControlLayout kNxLayoutB = NX_CONTROL_LAYOUT(NX_ControlRequestB);
#undef NX_CONTROL_LAYOUT

#endif
