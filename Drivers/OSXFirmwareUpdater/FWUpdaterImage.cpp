// The shipped firmware image: an 8-byte ASCII version header and a 6144-byte payload.

#include <cstdio>
#include <cstring>
#include <string>

#include "FWUpdater.h"
#include "FWUpdaterDefines.h"
#include "nvbundle.h"
#include "nvstring.h"

namespace {

// Every read of the image lands here, so the pointer handed out always shows the last file.
char resourceGeneral[kFWResourceBufferSize];

// A header byte is a digit by position only; nothing checks it is one.
int digit(const char* image, int offset) { return uint8_t(image[offset] - 0x30); }

// The header fields of the version record, all but the minor number.
void takeHeader(const char* image, NxVersion& version) {
    version.mMajor = digit(image, 0);
    version.mRevision = 10 * digit(image, 1) + digit(image, 2);
    version.mStage = digit(image, 3);
    version.mBuild = 100 * digit(image, 4) + 10 * digit(image, 5) + digit(image, 6);
    version.mKernel = image[7];
}

}  // namespace

const char* loadSingleBinResource() {
    std::string path = NVBundleCopyResourcePath("tz_qm7_v141", "bin");
    if (path.empty())
        return nullptr;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return nullptr;
    size_t got = fread(resourceGeneral, 1, sizeof(resourceGeneral), file);
    fclose(file);
    // A short file would leave part of the payload from an earlier read (or zero): such
    // an image must never reach the device.
    if (got < size_t(kFWImageHeaderSize + kFWImageSize))
        return nullptr;
    return resourceGeneral;
}

const char* loadBinResource(int index) {
    (void)index;   // there is one image
    return loadSingleBinResource();
}

bool initFileversion(char* text) {
    const char* image = loadSingleBinResource();
    if (!image) {
        strcpy(text, "1.00");
        return false;
    }
    NxVersion version;
    memset(&version, 0, sizeof(version));
    takeHeader(image, version);
    version.mMinor = 15;
    FWMakeVersionStringNORVANE(version);

    NVString result(version.mText);
    result += " (k";
    if (version.mKernel)   // a zero tag ends the text; the ")" takes its place
        result += version.mKernel;
    result += ")";
    strcpy(text, result);
    return true;
}

bool FWUpdater::initFileversion(char* text) { return ::initFileversion(text); }

bool FWUpdater::loadRom(const char* image) {
    mImageSize = 0;
    if (mImage)
        memset(mImage, 0, kFWImageSize);
    if (!image || image[0] == 0 || !mImage)
        return false;
    mImageSize = kFWImageSize;
    memcpy(mImage, image + kFWImageHeaderSize, kFWImageSize);
    takeHeader(image, mFileVersion);
    return true;
}

void FWUpdater::populateFirmwareList() {}

void FWUpdater::OnSelchangeComboFirmware() {}
