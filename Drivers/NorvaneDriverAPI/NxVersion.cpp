// Version records: decoding what the driver and the device report, and the text forms.

#include <cstdio>
#include <cstring>

#include "NorvaneDriverAPI.h"

namespace {

const char* stageWord(int32_t stage)
{
    switch (stage) {
    case 1: return "a";
    case 2: return "b";
    case 3: return "rc";
    default: return "d";   // development, and any stage we do not know
    }
}

} // namespace

void _nxapiMakeVersionString(NxVersion& v)
{
    char minor[16];
    if (v.mMinor == 15)
        std::snprintf(minor, sizeof minor, "%02d", v.mRevision);
    else
        std::snprintf(minor, sizeof minor, "%d.%d", v.mMinor, v.mRevision);
    if (v.mStage == 4)
        std::snprintf(v.mText, sizeof v.mText, "%d.%s", v.mMajor, minor);
    else
        std::snprintf(v.mText, sizeof v.mText, "%d.%s.%s%d", v.mMajor, minor,
                      stageWord(v.mStage), v.mBuild);
}

void _nxapiMakeVersionStringStd(NxVersion& v)
{
    std::snprintf(v.mText, sizeof v.mText, "%d.%d.%d", v.mMajor, v.mRevision, v.mStage);
}

void _nxapiMakeVersionStringFirmware(NxVersion& v) { _nxapiMakeVersionStringStd(v); }

void nxapiDecodeDriverVersion(const uint8_t answer[4], NxVersion& v)
{
    std::memset(&v, 0, sizeof v);
    v.mMajor = answer[3];
    if (v.mMajor > 16) {   // two nibbles: major and minor
        v.mMinor = v.mMajor & 15;
        v.mMajor >>= 4;
    } else {
        v.mMinor = 15;
    }
    v.mRevision = answer[2];
    v.mStage = answer[1];
    v.mBuild = answer[0];
    v.mKernel = '0';
    _nxapiMakeVersionString(v);
}

void nxapiDecodeFirmwareWord(uint32_t word, NxVersion& v)
{
    std::memset(&v, 0, sizeof v);
    v.mMajor = int32_t(word >> 24);
    v.mRevision = int32_t((word >> 16) & 0xFF);
    v.mStage = int32_t((word >> 8) & 0xFF);
    v.mBuild = int32_t(word & 0xFF);
    v.mKernel = char(word & 0xFF);
    _nxapiMakeVersionStringFirmware(v);
}

uint32_t nxapiFirmwareWordFromRequest(const uint8_t c[3])
{
    return (uint32_t(c[1]) << 24) | (uint32_t(c[2] / 10) << 16) | (uint32_t(c[2] % 10) << 8) |
           c[0];
}
