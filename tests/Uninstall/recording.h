#ifndef UNINSTALL_TESTS_RECORDING_H
#define UNINSTALL_TESTS_RECORDING_H

// Stand-ins that record what the controller does instead of doing it: every authorization
// call, privileged command (tool and exact argument vector) and pause, and every status
// text, in one list in the order they happen. Nothing is ever launched or slept.

#include "controller.h"

#include <functional>
#include <string>
#include <vector>

class RecordingSystem : public SystemServices {
public:
    // Each entry is one of
    //   "create", "free <flags>", "pause <microseconds>",
    //   "launch <tool>|<arg>|<arg>..."   (the arguments joined with '|')
    //   "text <text>"                    (recorded by RecordingController)
    std::vector<std::string> log;

    OSStatus createStatus = 0;
    // Status of the n-th launch of the current authorization (counted from 0).
    std::function<OSStatus(size_t)> launchStatus = [](size_t) { return 0; };

    // Authorizations handed out, and the one each launch and free was given.
    std::vector<AuthorizationRef> created;
    std::vector<AuthorizationRef> used;

    size_t count(const std::string& prefix) const;
    // Counts launches from 0 again, as a new authorization does (for steps run on their own).
    void resetLaunches() { mLaunches = 0; }

    OSStatus create(const AuthorizationRights* rights, const AuthorizationEnvironment* environment,
                    AuthorizationFlags flags, AuthorizationRef* authorization) override;
    OSStatus executeWithPrivileges(AuthorizationRef authorization, const char* tool,
                                   AuthorizationFlags options, char* const* arguments,
                                   FILE** communicationsPipe) override;
    OSStatus free(AuthorizationRef authorization, AuthorizationFlags flags) override;
    void pause(useconds_t microseconds) override;

private:
    size_t mLaunches = 0;
};

class RecordingController : public controller {
public:
    explicit RecordingController(RecordingSystem& system) : controller(system), mSystem(system) {}
    void setText(const QString& text) override;

private:
    RecordingSystem& mSystem;
};

// Collects the NSLog lines written while it lives.
class LogLines {
public:
    LogLines();
    ~LogLines();
    std::vector<std::string> lines;
};

#endif
