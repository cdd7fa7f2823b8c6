// Test main for the updater tests: offscreen unless a platform is chosen, one application
// object, and the child scenarios that the quit tests start as separate processes.
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
