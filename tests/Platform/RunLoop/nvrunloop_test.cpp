#include "nvrunloop.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <atomic>
#include <thread>

namespace {

gboolean count(gpointer counter)
{
    ++*static_cast<int*>(counter);
    return G_SOURCE_CONTINUE;
}

GSource* idleCounter(int* counter)
{
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, count, counter, nullptr);
    return source;
}

TEST(RunLoop, SourcesFireOnlyWhileAdded)
{
    NVRunLoopRef loop = NVRunLoopGetCurrent();
    ASSERT_EQ(loop, g_main_context_default()); // the main thread's loop is the global one
    int fired = 0;
    GSource* source = idleCounter(&fired);
    NVRunLoopAddSource(loop, source);
    EXPECT_TRUE(NVRunLoopContainsSource(loop, source));
    EXPECT_TRUE(NVRunLoopRunOnce(loop, false));
    EXPECT_GE(fired, 1);
    NVRunLoopRemoveSource(loop, source);
    EXPECT_FALSE(NVRunLoopContainsSource(loop, source));
    int before = fired;
    NVRunLoopRunFor(loop, 20);
    EXPECT_EQ(fired, before);
    NVRunLoopAddSource(loop, source); // a removed source cannot come back
    EXPECT_FALSE(NVRunLoopContainsSource(loop, source));
    NVRunLoopSourceRelease(source);

    // Null loops and sources are no-ops.
    NVRunLoopAddSource(nullptr, nullptr);
    NVRunLoopRemoveSource(loop, nullptr);
    NVRunLoopSourceRetain(nullptr);
    NVRunLoopSourceRelease(nullptr);
    EXPECT_FALSE(NVRunLoopRunOnce(nullptr, true));
}

TEST(RunLoop, RunUntilStopsAtTheConditionOrTheTimeout)
{
    NVRunLoopRef loop = NVRunLoopGetCurrent();
    int fired = 0;
    GSource* source = idleCounter(&fired);
    NVRunLoopAddSource(loop, source);
    EXPECT_TRUE(NVRunLoopRunUntil(loop, [&] { return fired >= 5; }, 1000));
    NVRunLoopRemoveSource(loop, source);
    NVRunLoopSourceRelease(source);

    gint64 start = g_get_monotonic_time();
    EXPECT_FALSE(NVRunLoopRunUntil(loop, [] { return false; }, 50));
    EXPECT_GE(g_get_monotonic_time() - start, 45000);
}

TEST(RunLoop, EachThreadHasItsOwnLoop)
{
    std::atomic<bool> fired{false};
    std::thread worker([&] {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        NVRunLoopRef loop = NVRunLoopGetCurrent();
        EXPECT_EQ(loop, context);
        GSource* source = g_timeout_source_new(1);
        g_source_set_callback(source, [](gpointer flag) {
            static_cast<std::atomic<bool>*>(flag)->store(true);
            return gboolean(G_SOURCE_REMOVE);
        }, &fired, nullptr);
        NVRunLoopAddSource(loop, source);
        NVRunLoopRunUntil(loop, [&] { return fired.load(); }, 1000);
        NVRunLoopSourceRelease(source);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    });
    worker.join();
    EXPECT_TRUE(fired.load());
}

} // namespace
