#ifndef NV_AUTHORIZATION_H
#define NV_AUTHORIZATION_H

// Running system tools with administrator rights.
//
// An authorization owns at most one privileged helper (nvauth-helper, which sits next to the
// executable that uses this layer). The helper is started on the first launch: directly when
// the process already runs as root, otherwise through pkexec, which brings up the system's
// credential prompt. Later launches of the same authorization reuse it and never prompt
// again; once starting it has failed, every later launch fails with the same status without
// asking again. The helper takes commands only over the socket it inherits, runs each tool
// with exactly the argument vector given (no shell, no PATH search), reports whether the tool
// could be started, never waits for it, and ends when the authorization is freed.
//
// Not for use from several threads at once. Nothing here throws.

#include <cstdint>
#include <cstdio>

typedef int32_t OSStatus;
typedef uint32_t AuthorizationFlags;
typedef struct AuthorizationOpaqueRef* AuthorizationRef;

// A set of named rights or environment items. Only the empty set (or null) is supported:
// administrator rights are the only right there is.
struct AuthorizationItemSet {
    uint32_t count;
    void* items;
};
typedef AuthorizationItemSet AuthorizationRights;
typedef AuthorizationItemSet AuthorizationEnvironment;

enum : AuthorizationFlags {
    kAuthorizationFlagDefaults = 0,
    kAuthorizationFlagDestroyRights = 1u << 3,
};

// Statuses. Which failure yields which code:
enum : OSStatus {
    errAuthorizationSuccess = 0,
    // A non-empty rights or environment set.
    errAuthorizationInvalidSet = -60001,
    // A null or already freed authorization.
    errAuthorizationInvalidRef = -60002,
    // A null out-parameter or tool path, or a communications pipe (not offered).
    errAuthorizationInvalidPointer = -60004,
    // pkexec refused: not authorized, or no authentication agent (its exit 127).
    errAuthorizationDenied = -60005,
    // The user dismissed the credential prompt (pkexec's exit 126).
    errAuthorizationCanceled = -60006,
    // The helper could not be found or started, ended without a word, or was lost earlier.
    errAuthorizationInternal = -60008,
    // Flags other than the ones each call documents.
    errAuthorizationInvalidFlags = -60011,
    // The tool could not be executed: relative path, missing, not executable, argument
    // vector too large.
    errAuthorizationToolExecuteFailure = -60031,
    // The helper gave no valid answer to a launch (it went away or stopped answering);
    // whether the tool started is unknown. Later launches then fail with
    // errAuthorizationInternal.
    errAuthorizationToolEnvironmentError = -60032,
};

// Creates an authorization that holds no right yet. rights and environment must be null or
// empty; flags must be kAuthorizationFlagDefaults. On failure *authorization is null.
OSStatus AuthorizationCreate(const AuthorizationRights* rights,
                             const AuthorizationEnvironment* environment,
                             AuthorizationFlags flags, AuthorizationRef* authorization);

// Starts pathToTool (absolute) as root with the null-terminated argument vector arguments
// (without the tool name; null means none) and returns once it is known whether the tool
// could be executed: 0 means it was started, not that it succeeded. options must be
// kAuthorizationFlagDefaults and communicationsPipe null. The first call may block while the
// user answers the credential prompt.
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization,
                                            const char* pathToTool, AuthorizationFlags options,
                                            char* const* arguments, FILE** communicationsPipe);

// Ends the helper (tools it started run on) and frees the authorization. flags:
// kAuthorizationFlagDefaults or kAuthorizationFlagDestroyRights; both give up the rights,
// which live only as long as the helper.
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);

// Tests only: start this program as the helper instead of the one next to the executable
// (null restores that). It is still started through pkexec when not root.
void AuthorizationSetHelperPathForTesting(const char* path);

#endif
