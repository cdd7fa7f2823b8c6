#ifndef NVK_IMAGE_H
#define NVK_IMAGE_H

// The simulated QM7's firmware: 96 pages of 64 bytes whose first 16 bytes are a descriptor
//   0..3 "QM7F", 4 major, 5 revision, 6 stage, 7 kernel tag, 8..9 build (little-endian),
//   10..11 zero, 12..15 FNV-1a checksum of payload bytes 16..6143 (little-endian),
// followed by filler bytes derived from the version. The shipped image file is an 8-byte
// ASCII header (major, two revision digits, stage, three build digits, kernel tag) and the
// payload.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace nvk {

constexpr size_t kPageSize = 64;
constexpr size_t kPageCount = 96;
constexpr size_t kPayloadSize = kPageSize * kPageCount;
constexpr size_t kImageHeaderSize = 8;

struct FirmwareVersion {
    uint8_t major = 1;
    uint8_t revision = 4;
    uint8_t stage = 0;
    char kernel = 'A';
    uint16_t build = 0;
    bool operator==(const FirmwareVersion& o) const
    {
        return major == o.major && revision == o.revision && stage == o.stage && kernel == o.kernel;
    }
};

using Payload = std::array<uint8_t, kPayloadSize>;

// The payload of a firmware of that version (descriptor, checksum and filler).
Payload makePayload(const FirmwareVersion& version);
// The version a payload's descriptor names, when the descriptor and checksum check out.
bool readDescriptor(const uint8_t* payload, size_t size, FirmwareVersion* version);
// The image file's bytes: header and payload.
std::string makeImageFile(const FirmwareVersion& version);

// "1.4.0" or "1.4.0:A" (major, revision, stage, optional kernel tag). The numbers must fit
// what the device reports: major and revision 0..25, stage 0..9.
bool parseVersion(const std::string& text, FirmwareVersion* version);
std::string versionText(const FirmwareVersion& version);

} // namespace nvk

#endif
