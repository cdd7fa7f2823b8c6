#ifndef NVKERNEL_PROTOCOL_H
#define NVKERNEL_PROTOCOL_H

// The wire protocol between nvkerneld and its clients (docs/nvkernel-protocol.md). Shared by
// the daemon and the device-services client; nothing else includes it.
//
// Service directory: <root>/<service class>/<entry id>/ holds kPropertiesFile and two
// SOCK_SEQPACKET sockets, kUserClientSocket (connections) and kInterestSocket (notices).
// Every message is one packet: a MessageHeader followed by `size` payload bytes, all in host
// byte order (little-endian).

#include <cstdint>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace nvk {

constexpr uint32_t kMagic = 0x504B564E; // "NVKP" in memory
constexpr uint16_t kVersion = 1;
constexpr uint32_t kRecordSize = 260;   // one dispatch record
constexpr uint32_t kMaxPayload = 1024;  // anything larger is refused
constexpr uint32_t kNoticeWords = 16;   // words a notice carries at most

enum Op : uint16_t {
    kOpOpen = 1,      // client -> daemon, arg = user-client type, no payload
    kOpOpenReply = 2, // daemon -> client, arg = Status
    kOpCall = 3,      // client -> daemon, arg = method selector, payload = structure in
    kOpCallReply = 4, // daemon -> client, arg = Status, payload = structure out (may be short)
    kOpNotice = 5,    // daemon -> interest client, arg = message type, payload = 32-bit words
};

enum Status : uint32_t {
    kStatusOK = 0,
    kStatusBadMessage = 1,  // not a message of this protocol, or out of order
    kStatusUnsupported = 2, // unknown user-client type, selector, code or request
    kStatusBadArgument = 3, // a field of the record is out of range
    kStatusBusy = 4,        // the device refuses for now (firmware update not possible)
    kStatusDevice = 5,      // the device failed the request
    kStatusNotOpen = 6,     // call before a successful open
};

struct MessageHeader {
    uint32_t magic;
    uint16_t version;
    uint16_t op;
    uint32_t arg;
    uint32_t size; // payload bytes after the header
};
static_assert(sizeof(MessageHeader) == 16, "fixed wire layout");

constexpr const char* kPropertiesFile = "properties.plist";
constexpr const char* kUserClientSocket = "user-client";
constexpr const char* kInterestSocket = "interest";
constexpr const char* kControlSocket = ".control";

// Entry ids are below this value; client-side object handles use the range above it.
constexpr uint32_t kEntryIdLimit = 0x80000000u;

// $NVKERNEL_ROOT; else /run/nvkernel for root, $XDG_RUNTIME_DIR/nvkernel otherwise, and
// /tmp/nvkernel-<uid> when no runtime directory is set.
inline std::string rootPath()
{
    const char* root = getenv("NVKERNEL_ROOT");
    if (root && *root)
        return root;
    if (geteuid() == 0)
        return "/run/nvkernel";
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/nvkernel";
    return "/tmp/nvkernel-" + std::to_string(geteuid());
}

} // namespace nvk

#endif
