#ifndef NV_AUTHORIZATION_WIRE_H
#define NV_AUTHORIZATION_WIRE_H

// What the authorization layer and nvauth-helper say to each other over the helper's
// standard input, a stream socket the helper inherits and nothing else can reach.
//
//   helper -> client, once at start:  the 4 bytes of kAuthWireReady
//   client -> helper, per launch:      AuthWireRequest, then `bytes` bytes holding `count`
//                                      NUL-terminated strings: the tool path, then each
//                                      argument
//   helper -> client, per launch:      int32_t errno of the failed execv, 0 when started
//
// Host byte order: both ends are the same machine. The helper ends at end of stream.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/socket.h>
#include <unistd.h>

constexpr char kAuthWireReady[4] = {'N', 'V', 'A', '1'};
constexpr uint32_t kAuthWireMaxBytes = 256 * 1024;
constexpr uint32_t kAuthWireMaxStrings = 4096;
constexpr const char* kAuthHelperName = "nvauth-helper";

struct AuthWireRequest {
    uint32_t count;
    uint32_t bytes;
};

// Repeats op, a read or a send, until size bytes have passed; false at end of stream or on
// an error.
template <typename Byte, typename Op> bool authWireAll(Byte* p, size_t size, Op op)
{
    while (size > 0) {
        ssize_t n = op(p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

inline bool authWireRead(int fd, void* buffer, size_t size)
{
    return authWireAll(static_cast<char*>(buffer), size,
                       [fd](char* p, size_t n) { return read(fd, p, n); });
}

// Does not raise SIGPIPE when the other end has gone.
inline bool authWireWrite(int fd, const void* buffer, size_t size)
{
    return authWireAll(static_cast<const char*>(buffer), size,
                       [fd](const char* p, size_t n) { return send(fd, p, n, MSG_NOSIGNAL); });
}

#endif
