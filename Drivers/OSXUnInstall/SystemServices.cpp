#include "SystemServices.h"

#include <unistd.h>

OSStatus SystemServices::create(const AuthorizationRights* rights,
                                const AuthorizationEnvironment* environment,
                                AuthorizationFlags flags, AuthorizationRef* authorization)
{
    return AuthorizationCreate(rights, environment, flags, authorization);
}

OSStatus SystemServices::executeWithPrivileges(AuthorizationRef authorization, const char* tool,
                                               AuthorizationFlags options,
                                               char* const* arguments, FILE** communicationsPipe)
{
    return AuthorizationExecuteWithPrivileges(authorization, tool, options, arguments,
                                              communicationsPipe);
}

OSStatus SystemServices::free(AuthorizationRef authorization, AuthorizationFlags flags)
{
    return AuthorizationFree(authorization, flags);
}

void SystemServices::pause(useconds_t microseconds)
{
    usleep(microseconds);
}

SystemServices& SystemServices::standard()
{
    static SystemServices services;
    return services;
}
