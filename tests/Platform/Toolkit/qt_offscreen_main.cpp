// Test main for Qt tests: the offscreen platform unless one is chosen, one application object.
#include <gtest/gtest.h>

#include <cstdlib>

#include "nvtoolkit.h"

int main(int argc, char** argv) {
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing::InitGoogleTest(&argc, argv);
    NVToolkitInit();
    return RUN_ALL_TESTS();
}
