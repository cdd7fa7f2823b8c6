#include "recording.h"

#include "nvlog.h"

#include <cstdint>

size_t RecordingSystem::count(const std::string& prefix) const
{
    size_t n = 0;
    for (const std::string& entry : log)
        n += entry.compare(0, prefix.size(), prefix) == 0;
    return n;
}

OSStatus RecordingSystem::create(const AuthorizationRights* rights,
                                 const AuthorizationEnvironment* environment,
                                 AuthorizationFlags flags, AuthorizationRef* authorization)
{
    log.push_back(rights || environment || flags ? "create with rights, environment or flags"
                                                 : "create");
    mLaunches = 0;
    if (createStatus != 0) {
        *authorization = nullptr;
        return createStatus;
    }
    // A distinct token per authorization; never dereferenced.
    *authorization = reinterpret_cast<AuthorizationRef>(static_cast<uintptr_t>(0x1000 + created.size()));
    created.push_back(*authorization);
    return 0;
}

OSStatus RecordingSystem::executeWithPrivileges(AuthorizationRef authorization, const char* tool,
                                                AuthorizationFlags options,
                                                char* const* arguments, FILE** communicationsPipe)
{
    std::string entry = std::string("launch ") + tool;
    for (char* const* a = arguments; a && *a; ++a)
        entry += std::string("|") + *a;
    if (options != 0 || communicationsPipe)
        entry += " (with options or a pipe)";
    log.push_back(entry);
    used.push_back(authorization);
    return launchStatus(mLaunches++);
}

OSStatus RecordingSystem::free(AuthorizationRef authorization, AuthorizationFlags flags)
{
    log.push_back("free " + std::to_string(flags));
    used.push_back(authorization);
    return 0;
}

void RecordingSystem::pause(useconds_t microseconds)
{
    log.push_back("pause " + std::to_string(microseconds));
}

void RecordingController::setText(const QString& text)
{
    mSystem.log.push_back("text " + text.toStdString());
    controller::setText(text);
}

namespace {
void collect(int, const char* text, void* context)
{
    static_cast<LogLines*>(context)->lines.push_back(text);
}
} // namespace

LogLines::LogLines()
{
    NVLogSetSink(collect, this);
}

LogLines::~LogLines()
{
    NVLogSetSink(nullptr, nullptr);
}
