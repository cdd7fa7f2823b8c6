// Test main for Qt tests: the offscreen platform unless one is chosen, one application object.
#include <gtest/gtest.h>

#include <cstdlib>

#include "nvtoolkit.h"

// The font and GLib caches of the system libraries are never freed. ctest does not hand the
// suppression file to every test, so the test binary carries the list itself.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libglib-2.0\n";
}

int main(int argc, char** argv) {
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing::InitGoogleTest(&argc, argv);
    NVToolkitInit();
    return RUN_ALL_TESTS();
}
