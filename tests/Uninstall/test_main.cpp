#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Test discovery runs this binary without the test environment.
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Whatever Qt and fontconfig keep at run time stays in this run's own folder.
    QTemporaryDir scratch;
    if (scratch.isValid()) {
        std::string root = scratch.path().toStdString();
        setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
        setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    }
    int status = 0;
    {
        QApplication application(argc, argv);
        testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    return status;
}
