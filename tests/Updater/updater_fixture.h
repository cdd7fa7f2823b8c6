#ifndef UPDATER_FIXTURE_H
#define UPDATER_FIXTURE_H

// A private world for one updater test: its own bundle copy (so the image can be missing or
// short), its own service-directory root and its own presence-marker key.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "FWUpdater.h"
#include "nvstring.h"

class UpdaterTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces the bundle's image (empty text: removes it).
    void writeImage(const std::string& bytes);
    void removeImage();
    // The generated image the build ships; "" when the build has none.
    static std::string shippedImage();
    // Header followed by a recognisable 6144-byte payload and `extra` more bytes.
    static std::string makeImage(const char header[8], size_t extra = 0);

    // Runs u.run(); `body` runs once inside the event loop. The loop is quit after
    // `limitMs` if the body has not made it end, which fails the test.
    void runWith(FWUpdater& u, const std::function<void()>& body, int limitMs = 20000);

    std::string mDir;
    std::string mBundle;
    std::string mRoot;
    int mKey = 0;
};

// Pumps the event loop until `done` holds or `ms` pass; the result of `done`.
bool pumpUntil(const std::function<bool()>& done, int ms = 5000);

std::string statusText(FWUpdater& u);
std::string titleText(FWUpdater& u);
uint32_t commandCode(const char* fourChars);
ControlRef controlOf(FWUpdater& u, const char (&sign)[5], int32_t id);

#endif
