#ifndef UNINSTALL_SYSTEMSERVICES_H
#define UNINSTALL_SYSTEMSERVICES_H

// What the controller asks of the system: the authorization calls and the pause between
// privileged commands. The standard instance goes to the real ones; tests hand the
// controller a recording one so that no real command ever runs.

#include "Authorization.h"

#include <sys/types.h>

class SystemServices {
public:
    virtual ~SystemServices() = default;

    virtual OSStatus create(const AuthorizationRights* rights,
                            const AuthorizationEnvironment* environment, AuthorizationFlags flags,
                            AuthorizationRef* authorization);
    virtual OSStatus executeWithPrivileges(AuthorizationRef authorization, const char* tool,
                                           AuthorizationFlags options, char* const* arguments,
                                           FILE** communicationsPipe);
    virtual OSStatus free(AuthorizationRef authorization, AuthorizationFlags flags);
    virtual void pause(useconds_t microseconds);

    static SystemServices& standard();
};

#endif
