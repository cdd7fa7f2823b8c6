#include "nvlog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/time.h>
#include <unistd.h>

namespace {

NVLogSink gSink = nullptr;
void* gSinkContext = nullptr;

std::string vformat(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0)
        return std::string();
    std::string text(static_cast<size_t>(n), '\0');
    vsnprintf(&text[0], text.size() + 1, format, args);
    return text;
}

const char* programName()
{
    return program_invocation_short_name ? program_invocation_short_name : "?";
}

bool copyToStderr()
{
    const char* v = getenv("NV_LOG_STDERR");
    return v && strcmp(v, "1") == 0;
}

} // namespace

void NVSysLog(int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    syslog(priority, "%s", text.c_str());
    if (copyToStderr())
        fprintf(stderr, "%s[%d]: %s%s", programName(), static_cast<int>(getpid()), text.c_str(),
                (text.empty() || text.back() != '\n') ? "\n" : "");
    if (gSink)
        gSink(priority, text.c_str(), gSinkContext);
}

void NSLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);

    timeval now {};
    gettimeofday(&now, nullptr);
    tm local {};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    bool newline = !text.empty() && text.back() == '\n';
    fprintf(stderr, "%s.%03ld %s[%d] %s%s", stamp, static_cast<long>(now.tv_usec / 1000),
            programName(), static_cast<int>(getpid()), text.c_str(), newline ? "" : "\n");
    syslog(LOG_NOTICE, "%s", text.c_str());
    if (gSink)
        gSink(LOG_NOTICE, text.c_str(), gSinkContext);
}

void NVLogSetSink(NVLogSink sink, void* context)
{
    gSink = sink;
    gSinkContext = context;
}
