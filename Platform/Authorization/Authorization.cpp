#include "Authorization.h"

#include "AuthorizationWire.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

extern char** environ;

struct AuthorizationOpaqueRef {
    enum class Helper { NotStarted, Running, Failed };
    Helper helper = Helper::NotStarted;
    OSStatus failure = errAuthorizationInternal; // what every launch yields once Failed
    pid_t pid = -1;
    int channel = -1;
};

namespace {

constexpr const char* kPkexec = "/usr/bin/pkexec";
// A started helper answers a launch within a fork and an exec; far longer means it is stuck.
constexpr int kAnswerTimeoutMs = 30000;

std::string gHelperOverride;

std::string helperPath()
{
    if (!gHelperOverride.empty())
        return gHelperOverride;
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return std::string();
    std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + kAuthHelperName;
}

int waitForExit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

void stopHelper(AuthorizationRef ref)
{
    if (ref->channel >= 0)
        close(ref->channel);
    ref->channel = -1;
    if (ref->pid > 0)
        waitForExit(ref->pid);
    ref->pid = -1;
}

// What the helper's early end says about the prompt in front of it.
OSStatus statusOfEarlyExit(int waitStatus)
{
    if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 126)
        return errAuthorizationCanceled;
    if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 127)
        return errAuthorizationDenied;
    return errAuthorizationInternal;
}

OSStatus startHelper(AuthorizationRef ref)
{
    std::string helper = helperPath();
    if (helper.empty() || access(helper.c_str(), X_OK) != 0) {
        fprintf(stderr, "authorization: no privileged helper at %s\n", helper.c_str());
        return errAuthorizationInternal;
    }
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return errAuthorizationInternal;

    bool root = geteuid() == 0;
    std::string pkexec = kPkexec;
    char* argvRoot[] = {&helper[0], nullptr};
    char* argvUser[] = {&pkexec[0], &helper[0], nullptr};
    char* const* argv = root ? argvRoot : argvUser;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], STDIN_FILENO);
    pid_t pid = -1;
    int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(sv[1]);
    if (err != 0) {
        fprintf(stderr, "authorization: cannot start %s: %s\n", argv[0], strerror(err));
        close(sv[0]);
        return errAuthorizationInternal;
    }
    ref->pid = pid;
    ref->channel = sv[0];

    // Blocks while the user answers the prompt; the helper speaks only once it runs as root.
    char ready[sizeof kAuthWireReady];
    if (!authWireRead(ref->channel, ready, sizeof ready)
        || memcmp(ready, kAuthWireReady, sizeof ready) != 0) {
        close(ref->channel);
        ref->channel = -1;
        OSStatus status = statusOfEarlyExit(waitForExit(ref->pid));
        ref->pid = -1;
        return status;
    }
    return errAuthorizationSuccess;
}

bool answerArrives(int fd)
{
    pollfd p {fd, POLLIN, 0};
    for (;;) {
        int n = poll(&p, 1, kAnswerTimeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0;
    }
}

void markLost(AuthorizationRef ref)
{
    stopHelper(ref);
    ref->helper = AuthorizationOpaqueRef::Helper::Failed;
    ref->failure = errAuthorizationInternal;
}

} // namespace

OSStatus AuthorizationCreate(const AuthorizationRights* rights,
                             const AuthorizationEnvironment* environment,
                             AuthorizationFlags flags, AuthorizationRef* authorization)
{
    if (!authorization)
        return errAuthorizationInvalidPointer;
    *authorization = nullptr;
    if (flags != kAuthorizationFlagDefaults)
        return errAuthorizationInvalidFlags;
    if ((rights && rights->count != 0) || (environment && environment->count != 0))
        return errAuthorizationInvalidSet;
    *authorization = new (std::nothrow) AuthorizationOpaqueRef;
    return *authorization ? errAuthorizationSuccess : errAuthorizationInternal;
}

OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef ref, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            FILE** communicationsPipe)
{
    if (!ref)
        return errAuthorizationInvalidRef;
    if (!pathToTool || communicationsPipe)
        return errAuthorizationInvalidPointer;
    if (options != kAuthorizationFlagDefaults)
        return errAuthorizationInvalidFlags;

    std::string body(pathToTool);
    body.push_back('\0');
    uint32_t count = 1;
    for (char* const* a = arguments; a && *a; ++a, ++count) {
        body.append(*a);
        body.push_back('\0');
    }
    if (pathToTool[0] != '/' || body.size() > kAuthWireMaxBytes || count > kAuthWireMaxStrings)
        return errAuthorizationToolExecuteFailure;

    using Helper = AuthorizationOpaqueRef::Helper;
    if (ref->helper == Helper::Failed)
        return ref->failure;
    if (ref->helper == Helper::NotStarted) {
        OSStatus status = startHelper(ref);
        if (status != errAuthorizationSuccess) {
            ref->helper = Helper::Failed;
            ref->failure = status;
            return status;
        }
        ref->helper = Helper::Running;
    }

    AuthWireRequest request {count, static_cast<uint32_t>(body.size())};
    int32_t answer = 0;
    if (!authWireWrite(ref->channel, &request, sizeof request)
        || !authWireWrite(ref->channel, body.data(), body.size()) || !answerArrives(ref->channel)
        || !authWireRead(ref->channel, &answer, sizeof answer)) {
        markLost(ref);
        return errAuthorizationToolEnvironmentError;
    }
    return answer == 0 ? errAuthorizationSuccess : errAuthorizationToolExecuteFailure;
}

OSStatus AuthorizationFree(AuthorizationRef ref, AuthorizationFlags flags)
{
    if (!ref)
        return errAuthorizationInvalidRef;
    if (flags != kAuthorizationFlagDefaults && flags != kAuthorizationFlagDestroyRights)
        return errAuthorizationInvalidFlags;
    stopHelper(ref);
    delete ref;
    return errAuthorizationSuccess;
}

void AuthorizationSetHelperPathForTesting(const char* path)
{
    gHelperOverride = path ? path : "";
}
