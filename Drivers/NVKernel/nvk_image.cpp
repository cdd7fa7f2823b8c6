#include "nvk_image.h"

#include "nvk_bytes.h"

#include <cstdio>
#include <cstring>

namespace nvk {

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'M', '7', 'F'};
constexpr size_t kDescriptorSize = 16;

uint32_t fnv1a(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

bool versionFits(const FirmwareVersion& v)
{
    // The version request packs revision and stage into one byte as revision * 10 + stage.
    return v.stage <= 9 && v.revision <= 25 && v.major <= 25 && v.kernel != 0;
}

} // namespace

Payload makePayload(const FirmwareVersion& version)
{
    Payload payload{};
    memcpy(payload.data(), kMagic, sizeof kMagic);
    payload[4] = version.major;
    payload[5] = version.revision;
    payload[6] = version.stage;
    payload[7] = uint8_t(version.kernel);
    put16(&payload[8], version.build);
    uint32_t state = 0x9E3779B9u ^ (uint32_t(version.major) << 24 | uint32_t(version.revision) << 16 |
                                    uint32_t(version.stage) << 8 | uint8_t(version.kernel));
    for (size_t i = kDescriptorSize; i < kPayloadSize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        payload[i] = uint8_t(state);
    }
    put32(&payload[12], fnv1a(payload.data() + kDescriptorSize, kPayloadSize - kDescriptorSize));
    return payload;
}

bool readDescriptor(const uint8_t* payload, size_t size, FirmwareVersion* version)
{
    if (!payload || size < kPayloadSize || memcmp(payload, kMagic, sizeof kMagic) != 0)
        return false;
    if (get32(payload + 12) != fnv1a(payload + kDescriptorSize, kPayloadSize - kDescriptorSize))
        return false;
    FirmwareVersion v;
    v.major = payload[4];
    v.revision = payload[5];
    v.stage = payload[6];
    v.kernel = char(payload[7]);
    v.build = uint16_t(payload[8] | payload[9] << 8);
    if (!versionFits(v))
        return false;
    if (version)
        *version = v;
    return true;
}

std::string makeImageFile(const FirmwareVersion& v)
{
    char header[16];
    snprintf(header, sizeof header, "%01u%02u%01u%03u%c", unsigned(v.major % 10), unsigned(v.revision % 100),
             unsigned(v.stage % 10), unsigned(v.build % 1000), v.kernel);
    Payload payload = makePayload(v);
    std::string file(header, kImageHeaderSize);
    file.append(reinterpret_cast<const char*>(payload.data()), payload.size());
    return file;
}

bool parseVersion(const std::string& text, FirmwareVersion* version)
{
    unsigned major = 0, revision = 0, stage = 0;
    char kernel = 0;
    int used = 0;
    if (sscanf(text.c_str(), "%u.%u.%u%n", &major, &revision, &stage, &used) != 3)
        return false;
    std::string rest = text.substr(size_t(used));
    if (rest.size() == 2 && rest[0] == ':')
        kernel = rest[1];
    else if (!rest.empty())
        return false;
    if (major > 255 || revision > 255 || stage > 255)
        return false;
    FirmwareVersion v = version ? *version : FirmwareVersion();
    v.major = uint8_t(major);
    v.revision = uint8_t(revision);
    v.stage = uint8_t(stage);
    if (kernel)
        v.kernel = kernel;
    if (!versionFits(v))
        return false;
    if (version)
        *version = v;
    return true;
}

std::string versionText(const FirmwareVersion& v)
{
    char text[32];
    snprintf(text, sizeof text, "%u.%u.%u:%c", unsigned(v.major), unsigned(v.revision), unsigned(v.stage), v.kernel);
    return text;
}

} // namespace nvk
