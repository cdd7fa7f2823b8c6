#include "nvrunloop.h"

#include <glib.h>

NVRunLoopRef NVRunLoopGetCurrent()
{
    GMainContext* context = g_main_context_get_thread_default();
    return context ? context : g_main_context_default();
}

void NVRunLoopAddSource(NVRunLoopRef loop, NVRunLoopSourceRef source)
{
    if (loop && source && !g_source_is_destroyed(source) && !g_source_get_context(source))
        g_source_attach(source, loop);
}

void NVRunLoopRemoveSource(NVRunLoopRef loop, NVRunLoopSourceRef source)
{
    if (loop && source && g_source_get_context(source) == loop)
        g_source_destroy(source);
}

bool NVRunLoopContainsSource(NVRunLoopRef loop, NVRunLoopSourceRef source)
{
    return loop && source && !g_source_is_destroyed(source) && g_source_get_context(source) == loop;
}

void NVRunLoopSourceRetain(NVRunLoopSourceRef source)
{
    if (source)
        g_source_ref(source);
}

void NVRunLoopSourceRelease(NVRunLoopSourceRef source)
{
    if (source)
        g_source_unref(source);
}

bool NVRunLoopRunOnce(NVRunLoopRef loop, bool mayBlock)
{
    return loop && g_main_context_iteration(loop, mayBlock ? TRUE : FALSE);
}

namespace {

gboolean wakeUp(gpointer flag)
{
    *static_cast<bool*>(flag) = true;
    return G_SOURCE_REMOVE;
}

} // namespace

bool NVRunLoopRunUntil(NVRunLoopRef loop, const std::function<bool()>& done, int timeoutMilliseconds)
{
    if (!loop)
        return done && done();
    bool expired = false;
    GSource* timer = g_timeout_source_new(timeoutMilliseconds > 0 ? timeoutMilliseconds : 0);
    g_source_set_callback(timer, wakeUp, &expired, nullptr);
    g_source_attach(timer, loop);
    bool result = done && done();
    while (!result && !expired) {
        g_main_context_iteration(loop, TRUE);
        result = done && done();
    }
    g_source_destroy(timer);
    g_source_unref(timer);
    return result;
}

void NVRunLoopRunFor(NVRunLoopRef loop, int milliseconds)
{
    NVRunLoopRunUntil(loop, [] { return false; }, milliseconds);
}
